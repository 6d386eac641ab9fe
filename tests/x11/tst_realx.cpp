// The console program under a real X server with a window manager, driven
// with real key and mouse events: each row is what an operator does and what
// the host then received (the simulated host's request log), what the
// clipboard holds and what the window looks like.

#include "XDisplayFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Listener 1100 has 110 processes (more than the process table shows at
// once), listener 1200 two.
QByteArray scenario()
{
    QByteArray processes;
    for (int pin = 2001; pin <= 2110; ++pin)
        processes += R"(    { "listener": "1100", "main": "1100", "pin": ")" +
                     QByteArray::number(pin) + R"(", "program": "SESSPROG", "user": "USER)" +
                     QByteArray::number(pin - 2000) + R"(", "cpuMs": 1500 },)" + '\n';
    processes +=
        R"(    { "listener": "1200", "main": "1200", "pin": "3001", "program": "OTHERPROG", "user": "OPER", "cpuMs": 10 },)"
        "\n";
    processes +=
        R"(    { "listener": "1200", "main": "1200", "pin": "3002", "program": "OTHERPROG", "user": "OPER", "cpuMs": 20 })"
        "\n";
    return R"({
  "listeners": [
    { "pin": "1100", "port": "30002", "program": "LSNPROG", "product": "8", "userLimit": "0" },
    { "pin": "1200", "port": "30004", "program": "LSNPROG", "product": "16", "userLimit": "0" }
  ],
  "processes": [
)" + processes +
           "  ]\n}\n";
}

// A configuration line for the host on loopback at port, logon MANAGER/SYS,
// refreshed every 5 seconds.
QByteArray configLine(quint16 port)
{
    return R"("127.0.0.1",")" + QByteArray::number(port) +
           R"(","5","xt{trpg","","","","flf","","",5)" + "\r\n";
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestRealX : public QObject
{
    Q_OBJECT

private:
    XDisplayFixture m_x;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_host;
    QProcess m_console;
    QByteArray m_log; // every line the hosts logged in this row
    quint16 m_port = 0;
    QString m_window;
    QString m_firstFile;
    QString m_secondFile;

    void startHost(quint16 port)
    {
        log();
        stopProcess(m_host);
        m_host.start(projectProgram("orvanite-hostsim"),
                     {u"--port"_s, QString::number(port), u"--scenario"_s,
                      m_dir->filePath(u"scenario.json"_s)});
        QVERIFY(m_host.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_host.canReadLine(), 10000);
        const QByteArray line = m_host.readLine().trimmed();
        QVERIFY2(line.startsWith("listening on 127.0.0.1:"), line.constData());
        m_port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    }

    QByteArray log()
    {
        if (m_host.isOpen()) // what a stopped host said is still there to read
            m_log += m_host.readAllStandardError();
        return m_log;
    }

    bool logged(const QString& pattern)
    {
        return QRegularExpression(pattern, QRegularExpression::MultilineOption)
            .match(QString::fromLatin1(log()))
            .hasMatch();
    }

    // The window shows the file's caption once its connection sequence
    // has ended and both lists were read.
    bool waitConnected(const QString& file)
    {
        const QString caption = u"Orvanite Server Console - "_s + file;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (m_x.windowName(m_window) == caption && logged(u"request H"_s))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    bool key(const QStringList& keys)
    {
        return !m_x.xdotool(QStringList{u"key"_s, u"--delay"_s, u"120"_s} + keys).isNull();
    }

    // A point of the window's inside by what is drawn there: a process row
    // (below the purple bar between the boxes) or the Refresh button.
    QPoint place(const QString& what)
    {
        const QImage shot = m_x.grab(m_window);
        const int splitter = splitterTop(shot);
        if (splitter < 0)
            return {};
        if (what == u"processes")
            return {shot.width() / 2, splitter + 8 + 60};
        // The buttons are 105 wide, 112 apart from x = 8: the rows where
        // Start Listener, Kill Listener and Kill Process look alike just
        // inside their left edges, and unlike the bar between them, are the
        // buttons' rows.
        int best = -1, bestRun = 0, run = 0;
        for (int y = splitter + 8; y < shot.height(); ++y) {
            const QColor c = shot.pixelColor(124, y);
            const bool button = c == shot.pixelColor(236, y) && c == shot.pixelColor(348, y) &&
                                c != shot.pixelColor(228, y);
            run = button ? run + 1 : 0;
            if (run > bestRun) {
                bestRun = run;
                best = y - run / 2;
            }
        }
        if (bestRun < 12)
            return {};
        return {60, best};
    }

    bool click(const QString& what)
    {
        const QPoint at = place(what);
        if (at.isNull())
            return false;
        return !m_x.xdotool({u"mousemove"_s, u"--window"_s, m_window, QString::number(at.x()),
                             QString::number(at.y()), u"click"_s, u"1"_s})
                    .isNull();
    }

    bool waitClipboard(const QString& pattern)
    {
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QDeadlineTimer deadline(5000);
        QString text;
        while (!deadline.hasExpired()) {
            text = m_x.clipboard();
            if (re.match(text).hasMatch())
                return true;
            QTest::qWait(50);
        }
        qWarning("the clipboard holds: %s", qPrintable(text.left(300)));
        return false;
    }

    bool waitWindow(const QString& title)
    {
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            if (m_x.windowShown(title))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Where the listener box ends: the top of the purple bar below it, in
    // the window's inside (-1: not drawn).
    static int splitterTop(const QImage& shot)
    {
        for (int y = 0; y < shot.height(); ++y)
            if (shot.pixelColor(shot.width() / 2, y) == QColor(128, 0, 128))
                return y;
        return -1;
    }

    // One step of a row; false with a message when it cannot be done or its
    // check fails.
    bool step(const QString& text, QString* why)
    {
        const QString verb = text.section(u' ', 0, 0);
        const QString rest = text.section(u' ', 1);
        *why = text;
        if (verb == u"key")
            return key(rest.split(u' '));
        if (verb == u"click")
            return click(rest);
        if (verb == u"type") {
            QString typed = rest;
            typed.replace(u"{second}"_s, m_secondFile);
            return !m_x.xdotool({u"type"_s, u"--delay"_s, u"100"_s, typed}).isNull();
        }
        if (verb == u"wait")
            return waitWindow(rest);
        if (verb == u"clip")
            return m_x.setClipboard(rest);
        if (verb == u"clipboard")
            return waitClipboard(rest);
        if (verb == u"drop") {
            log();
            stopProcess(m_host);
            return true;
        }
        if (verb == u"restore") {
            startHost(m_port);
            return !QTest::currentTestFailed();
        }
        if (verb == u"resize")
            return !m_x.xdotool({u"windowsize"_s, u"--sync"_s, m_window, rest.section(u' ', 0, 0),
                                 rest.section(u' ', 1, 1)})
                        .isNull();
        if (verb == u"atleast") {
            // The inside can be no smaller than 400 x 300 less the frame
            // (a title bar and thin edges).
            const QSize least(rest.section(u' ', 0, 0).toInt(), rest.section(u' ', 1, 1).toInt());
            QDeadlineTimer deadline(5000);
            QSize size;
            while (!deadline.hasExpired()) {
                size = m_x.geometry(m_window).size();
                if (size.width() >= least.width() && size.height() >= least.height())
                    return true;
                QTest::qWait(50);
            }
            *why += u": the window is %1 x %2"_s.arg(size.width()).arg(size.height());
            return false;
        }
        if (verb == u"listenerbox") {
            // The purple bar at least this far below the window's top.
            const int least = rest.toInt();
            QDeadlineTimer deadline(5000);
            int bottom = -1;
            while (!deadline.hasExpired()) {
                bottom = splitterTop(m_x.grab(m_window));
                if (bottom >= least)
                    return true;
                QTest::qWait(50);
            }
            *why += u": the bar is at %1"_s.arg(bottom);
            return false;
        }
        if (verb == u"logged") {
            QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired()) {
                if (logged(rest))
                    return true;
                QTest::qWait(50);
            }
            return false;
        }
        if (verb == u"connected")
            return waitConnected(rest == u"second" ? m_secondFile : m_firstFile);
        *why = u"unknown step: "_s + text;
        return false;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_x.start(), qPrintable(m_x.why())); }

    void init()
    {
        m_window.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_log.clear();
        QVERIFY(writeFile(m_dir->filePath(u"scenario.json"_s), scenario()));
        startHost(0);
        // Two files of the same host whose names begin alike, so that the
        // file dialog's name box offers to complete them.
        m_firstFile = m_dir->filePath(u"east.hcf"_s);
        m_secondFile = m_dir->filePath(u"east2.hcf"_s);
        QVERIFY(writeFile(m_firstFile, configLine(m_port)));
        QVERIFY(writeFile(m_secondFile, configLine(m_port)));
        // Settings of its own: no window size, sort or filter of another run.
        QProcessEnvironment env = m_x.environment();
        env.insert(u"XDG_CONFIG_HOME"_s, m_dir->filePath(u"config"_s));
        env.insert(u"XDG_STATE_HOME"_s, m_dir->filePath(u"state"_s));
        env.insert(u"HOME"_s, m_dir->path());
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        m_console.setProcessEnvironment(env);
        m_console.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_console.start(projectProgram("orvanite-console"), {m_firstFile});
        QVERIFY(m_console.waitForStarted());
        // Its one window; its title changes as it connects.
        QDeadlineTimer deadline(15000);
        while (m_window.isEmpty() && !deadline.hasExpired()) {
            m_window = m_x.findWindow(m_console.processId());
            if (m_window.isEmpty())
                QTest::qWait(50);
        }
        QVERIFY2(!m_window.isEmpty(), "the console shows no window");
        QVERIFY(!m_x.xdotool({u"windowactivate"_s, u"--sync"_s, m_window}).isNull());
    }

    void cleanup()
    {
        stopProcess(m_console);
        stopProcess(m_host);
        m_dir.reset();
    }

    void operatorActs_data()
    {
        QTest::addColumn<bool>("early"); // the steps start as soon as the window shows
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("sent");   // a request the host must have received
        QTest::addColumn<QString>("unsent"); // one it must never have received

        // Space pauses; it never presses the button that has the focus, nor
        // one of a dialog that button would open.
        QTest::newRow("Space x3 as the window connects")
            << true << QStringList{u"key space space space"_s, u"connected first"_s}
            << u"request H \"1100\""_s << u"request S"_s;
        // The click's busy state disables Refresh: the focus goes to the
        // listener table (Down there chooses the next listener), not to
        // Start Listener.
        QTest::newRow("click Refresh, then Space and Down")
            << false << QStringList{u"click refresh"_s, u"key space"_s, u"key Down"_s}
            << u"request H \"1200\""_s << u"request S"_s;
        // Ctrl+End selects the last process and scrolls to it; Delete kills
        // that one.
        QTest::newRow("Ctrl+End, Ctrl+C, Delete, Enter")
            << false << QStringList{u"click processes"_s,
                                    u"key ctrl+End"_s,
                                    u"key ctrl+c"_s,
                                    u"clipboard ^1100\\t2110\\tSESSPROG\\tUSER110\\t"_s,
                                    u"key Delete"_s,
                                    u"wait Confirm"_s,
                                    u"key Return"_s}
            << u"request K \"P1100\\|2110\"$"_s << u"request K \"P1100\\|(?!2110\")"_s;
        // Tab leaves the process table for the next stop, Shift+Tab comes
        // back: Ctrl+C copies only where the focus is.
        QTest::newRow("Tab through the tables")
            << false
            << QStringList{u"click processes"_s, u"key shift+Tab"_s,      u"key Tab"_s,
                           u"key ctrl+c"_s,      u"clipboard SESSPROG"_s, u"clip nothing copied"_s,
                           u"key Tab"_s,         u"key ctrl+c"_s,         u"key shift+Tab"_s,
                           u"key ctrl+c"_s,      u"clipboard SESSPROG"_s}
            << u"request G"_s << u"request S"_s;
        // A link that comes back while the operator types in a filter
        // leaves him the focus and every character.
        QTest::newRow("typing in a filter while the link comes back")
            << false
            << QStringList{u"click processes"_s,
                           u"key ctrl+f"_s,
                           u"drop"_s,
                           u"restore"_s,
                           u"type USER3 AND USER31 TOO"_s,
                           u"logged logon kind(.*\\n)+.*logon kind"_s,
                           u"key ctrl+a ctrl+c"_s,
                           u"clipboard ^USER3 AND USER31 TOO$"_s}
            << u"logon kind \\d+ user \"MANAGER\".*\\n(.*\\n)*.*logon kind \\d+ user \"MANAGER\""_s
            << u"request S"_s;
        // The file dialog leaves nothing behind to take the next keys: the
        // File menu's Exit ends the program after the load.
        QTest::newRow("Load by name and Enter, then Alt+F")
            << false
            << QStringList{u"key alt+f l"_s, u"wait Open Configuration File"_s, u"type {second}"_s,
                           u"key Return"_s, u"connected second"_s}
            << u"request Q"_s << u"request S"_s;
        // The window manager is told the least size; the listener box keeps
        // its height through it and after the window grows.
        QTest::newRow("window manager asks for 200 x 150")
            << false
            << QStringList{u"resize 200 150"_s, u"atleast 380 250"_s, u"resize 800 600"_s,
                           u"atleast 800 600"_s, u"listenerbox 100"_s}
            << u"request G"_s << u"request S"_s;
    }

    void operatorActs()
    {
        QFETCH(bool, early);
        QFETCH(QStringList, steps);
        QFETCH(QString, sent);
        QFETCH(QString, unsent);
        if (!early)
            QVERIFY2(waitConnected(m_firstFile), "the console did not connect");
        QString why;
        for (const QString& s : std::as_const(steps))
            QVERIFY2(step(s, &why), qPrintable(why));
        // The File menu's Exit ends the program: no dialog or popup is left
        // to take the keys.
        QVERIFY(!m_x.xdotool({u"windowactivate"_s, u"--sync"_s, m_window}).isNull());
        QVERIFY(key({u"alt+f"_s, u"x"_s}));
        QVERIFY2(m_console.state() == QProcess::NotRunning || m_console.waitForFinished(10000),
                 qPrintable(u"the console did not end with File, Exit; windows shown: "_s +
                            m_x.shownWindows().join(u", "_s)));
        QTRY_VERIFY2_WITH_TIMEOUT(logged(u"request Q"_s), qPrintable(QString::fromLatin1(log())),
                                  5000);
        QVERIFY2(logged(sent), qPrintable(sent + u"\n"_s + QString::fromLatin1(log())));
        QVERIFY2(!logged(unsent), qPrintable(unsent + u"\n"_s + QString::fromLatin1(log())));
    }
};

QTEST_GUILESS_MAIN(TestRealX)
#include "tst_realx.moc"
