// The routes file the console writes and every program reads: a route is
// found by its host's address and port, and a file that does not parse is
// refused whole rather than let a host go direct.
#include "config/HostRoutes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace Qt::StringLiterals;

class TestHostRoutes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookUp_data();
    void lookUp();
    void writtenAsRead();
};

void TestHostRoutes::lookUp_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected"); // the destination, or "error: " and part of it
    QTest::newRow("comments and blank lines")
        << QByteArray("# routes\n\n  127.0.0.1:30000   jump  \n") << QByteArray("127.0.0.1")
        << 30000 << u"jump"_s;
    QTest::newRow("names without case")
        << QByteArray("Gw.Example:1 ops@gw\n") << QByteArray("gw.EXAMPLE") << 1 << u"ops@gw"_s;
    QTest::newRow("v6 in brackets, port 65535")
        << QByteArray("[::1]:65535 jump\r\n") << QByteArray("::1") << 65535 << u"jump"_s;
    QTest::newRow("another port is another host")
        << QByteArray("127.0.0.1:30000 jump\n") << QByteArray("127.0.0.1") << 30001 << QString();
    QTest::newRow("no file") << QByteArray("absent") << QByteArray("h") << 1 << QString();
    QTest::newRow("no port") << QByteArray("# x\ngw jump\n") << QByteArray("gw") << 1
                             << u"error: line 2, is not"_s;
    QTest::newRow("port 65536") << QByteArray("gw:65536 jump\n") << QByteArray("gw") << 1
                                << u"error: line 1"_s;
    QTest::newRow("signed port") << QByteArray("gw:+1 jump\n") << QByteArray("gw") << 1
                                 << u"error: line 1"_s;
    QTest::newRow("bare v6") << QByteArray("::1:30000 jump\n") << QByteArray("::1") << 30000
                             << u"error: line 1"_s;
    QTest::newRow("an option for a destination")
        << QByteArray("gw:1 -oProxyCommand=sh\n") << QByteArray("gw") << 1
        << u"error: -oProxyCommand=sh"_s;
    QTest::newRow("a third word, the good line before it refused too")
        << QByteArray("a:1 jump\ngw:1 jump extra\n") << QByteArray("a") << 1 << u"error: line 2"_s;
}

void TestHostRoutes::lookUp()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"routes"_s);
    if (file != "absent") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    HostRoutes routes(path);
    const bool ok = routes.load();
    if (expected.startsWith(u"error: "_s)) {
        QVERIFY(!ok);
        QVERIFY2(routes.error().contains(expected.mid(7)), qPrintable(routes.error()));
        QCOMPARE(routes.route(host, quint16(port)), QString());
        return;
    }
    QVERIFY2(ok, qPrintable(routes.error()));
    QCOMPARE(routes.route(host, quint16(port)), expected);
}

void TestHostRoutes::writtenAsRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"orvanite/routes"_s);
    HostRoutes routes(path);
    QVERIFY(routes.load());
    QVERIFY(routes.setRoute("gw", 1, u"ops@gw"_s));
    QVERIFY(routes.setRoute("::1", 30000, u"jump"_s));
    QVERIFY(!routes.setRoute("GW", 1, u"ops@gw"_s)); // the same host, unchanged
    QVERIFY(routes.setRoute("10.0.0.1", 2, u"x"_s));
    QVERIFY(routes.setRoute("10.0.0.1", 2, QString())); // removed
    QVERIFY2(routes.save(), qPrintable(routes.error()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.startsWith('#'));
    QVERIFY(text.endsWith("\ngw:1 ops@gw\n[::1]:30000 jump\n"));
    HostRoutes again(path);
    QVERIFY(again.load());
    QCOMPARE(again.route("::1", 30000), u"jump"_s);
    QCOMPARE(again.routes().size(), 2);

    // A routes file that cannot be looked at is no empty book.
    const QString dangling = dir.filePath(u"dangling"_s);
    QVERIFY(QFile::link(dir.filePath(u"nowhere"_s), dangling));
    HostRoutes unreadable(dangling);
    QVERIFY(!unreadable.load());
    QVERIFY2(unreadable.error().startsWith(u"cannot read the routes file"_s),
             qPrintable(unreadable.error()));

    // A route the reader would refuse is not written: the file stays as it
    // was, and every other host keeps its route.
    for (const auto& [host, destination] : {std::pair{QByteArray("gw"), u"jump -p 2222"_s},
                                            {QByteArray("gw"), u"-oProxyCommand=x"_s},
                                            {QByteArray(""), u"jump"_s}}) {
        HostRoutes bad(path);
        QVERIFY(bad.load());
        QVERIFY(bad.setRoute(host, 7, destination));
        QVERIFY(!bad.save());
        QVERIFY2(bad.error().startsWith(u"the SSH route \""_s + destination),
                 qPrintable(bad.error()));
        QVERIFY(f.seek(0));
        QCOMPARE(f.readAll(), text);
    }
}

QTEST_GUILESS_MAIN(TestHostRoutes)
#include "tst_hostroutes.moc"
