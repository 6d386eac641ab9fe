// The About box as splash and from Help: its countdown, its closing keys,
// its layout, and a box opened again getting its full countdown. Its version
// lines read from a program file: the real program (which carries version
// data), files without it, and crafted ELF files that carry partial, foreign
// or damaged data. The orvanite-console program as a user starts it from a
// terminal: options, and no display.

#include "app/AboutBox.h"
#include "app/VersionData.h"
#include "app/VersionInfo.h"

#include "config/ConfigFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <elf.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

template <typename T> T* child(const AboutBox& box, const char* name)
{
    return box.findChild<T*>(QString::fromLatin1(name));
}

// A minimal 64-bit ELF file: header, one section per (name, contents), and
// the section name table.
QByteArray MakeElf(const std::vector<std::pair<QByteArray, QByteArray>>& sections)
{
    QByteArray names("\0.shstrtab\0", 11);
    QByteArray file(sizeof(Elf64_Ehdr), '\0');
    std::vector<Elf64_Shdr> headers(2); // the null section, then the name table
    // Section headers: name, type, flags, address, offset, size, link, info, alignment, entry size.
    for (const auto& [name, contents] : sections) {
        headers.push_back({Elf64_Word(names.size()), SHT_PROGBITS, SHF_ALLOC, 0,
                           Elf64_Off(file.size()), Elf64_Xword(contents.size()), 0, 0, 0, 0});
        names += name + '\0';
        file += contents;
    }
    const auto namesAt = Elf64_Off(file.size());
    headers[1] = {1, SHT_STRTAB, 0, 0, namesAt, Elf64_Xword(names.size()), 0, 0, 0, 0};
    file += names;
    while (file.size() % 8)
        file += '\0';
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_EXEC;
    eh.e_machine = EM_X86_64;
    eh.e_version = EV_CURRENT;
    eh.e_ehsize = sizeof(Elf64_Ehdr);
    eh.e_shoff = Elf64_Off(file.size());
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = Elf64_Half(headers.size());
    eh.e_shstrndx = 1;
    file.append(reinterpret_cast<const char*>(headers.data()),
                qsizetype(headers.size() * sizeof(Elf64_Shdr)));
    std::memcpy(file.data(), &eh, sizeof eh);
    return file;
}

std::string_view View(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

// The bytes of a version block with these entries.
QByteArray Block(const std::vector<VersionData::Entry>& entries)
{
    QByteArray out;
    VersionData::Write(entries, [&out](unsigned char c) { out.append(char(c)); });
    return out;
}

// A program file whose version section holds block.
QByteArray Versioned(const QByteArray& block)
{
    return MakeElf({{".orv_version", block}});
}

QByteArray Fixed(quint16 a, quint16 b, quint16 c, quint16 d)
{
    const auto f = VersionData::FixedInfo(a, b, c, d);
    return QByteArray(f.data(), qsizetype(f.size()));
}

const QByteArray kUsEnglish("\x09\x04\xE4\x04", 4);
constexpr std::string_view kRoot = "\\";
constexpr std::string_view kTranslation = "\\VarFileInfo\\Translation";
constexpr std::string_view kUsLegal = "\\StringFileInfo\\040904E4\\LegalCopyright";

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void layout()
    {
        AboutBox box(QString{});
        QCOMPARE(box.size(), QSize(304, 244));
        QCOMPARE(box.windowTitle(), u"About"_s);
        QCOMPARE(child<QFrame>(box, "panel")->geometry(), QRect(8, 8, 281, 161));
        QCOMPARE(child<QPushButton>(box, "okButton")->geometry(), QRect(118, 178, 65, 26));
        QCOMPARE(child<QPushButton>(box, "okButton")->text(), u"OK"_s);
        QVERIFY(child<QPushButton>(box, "okButton")->isDefault());
        QCOMPARE(child<QLabel>(box, "programIcon")->geometry(), QRect(23, 23, 38, 33));
        QVERIFY(!child<QLabel>(box, "programIcon")->pixmap().isNull());
        QCOMPARE(child<QLabel>(box, "version2")->text(), u"Version: Unknown"_s);
        QCOMPARE(box.countdown(), 0); // idle at creation
    }

    // The splash closes by itself when the countdown runs out.
    void countdowns()
    {
        AboutBox box(QString{});
        box.setCountdown(600);
        QCOMPARE(child<QTimer>(box, "countdown")->interval(), 600);
        QElapsedTimer clock;
        clock.start();
        box.showModal();
        QVERIFY(clock.elapsed() >= 500); // not closed early by anything else
        QCOMPARE(box.countdown(), 0);
        QVERIFY(!box.isVisible());

        // Started with a configuration file, the countdown runs out on the
        // hidden box with no visible effect.
        box.setCountdown(50);
        QTRY_COMPARE(box.countdown(), 0);
        QVERIFY(!box.isVisible());
        // Help, About... gives the box ten seconds.
        int countdown = 0;
        QTimer::singleShot(0, &box, [&] {
            countdown = child<QTimer>(box, "countdown")->interval();
            box.accept();
        });
        box.showFromHelp();
        QCOMPARE(countdown, 10000);
    }

    // However the box is closed its countdown stops, and a box opened again
    // (from the menu) gets its full countdown: the old one must not cut it short.
    void closingKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
        QTest::newRow("OK clicked") << 0 << int(QDialog::Accepted);
    }

    void closingKeys()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        AboutBox box(QString{});
        box.setCountdown(10000);
        QTimer::singleShot(0, &box, [&box, key] {
            QWidget* modal = QApplication::activeModalWidget();
            QCOMPARE(modal, &box);
            if (key)
                QTest::keyClick(modal, Qt::Key(key));
            else
                QTest::mouseClick(child<QPushButton>(box, "okButton"), Qt::LeftButton);
        });
        box.showModal();
        QCOMPARE(box.result(), result);
        QCOMPARE(box.countdown(), 0);

        box.setCountdown(10000);
        QTimer::singleShot(0, &box, [&box] {
            QVERIFY(child<QTimer>(box, "countdown")->remainingTime() > 9000);
            child<QPushButton>(box, "okButton")->click();
        });
        box.showModal();
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void programFileCarriesItsVersion()
    {
        const QString program = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-console"_s;
        if (!QFile::exists(program))
            QSKIP("orvanite-console is not built");
        AboutBox box(program);
        QCOMPARE(child<QLabel>(box, "version2")->text(), u"Version: 2.1.2.2"_s);
        QCOMPARE(child<QLabel>(box, "copyright")->text(),
                 u"Copyright: (C) Orvanite Systems Ltd."_s);
        QCOMPARE(child<QLabel>(box, "version")->text(),
                 u"Version: 2.0"_s); // the entry sets the 32-bit text
        QCOMPARE(child<QLabel>(box, "productName")->text(), u"Orvanite Server Console"_s);
        QCOMPARE(child<QLabel>(box, "comments")->text(), u"Comments"_s);
    }

    void aboutBoxLines_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("copyright");
        const QString design = u"Copyright (C) Orvanite Systems"_s; // the design text
        const QByteArray legal("(C) Test Maker\0", 15);

        QTest::newRow("no such file") << QByteArray() << u"Version: Unknown"_s << design;
        QTest::newRow("not an ELF file")
            << QByteArray("#!/bin/sh\necho hello\n") << u"Version: Unknown"_s << design;
        QTest::newRow("ELF without version data")
            << MakeElf({{".text", QByteArray(64, '\x90')}}) << u"Version: Unknown"_s << design;
        QTest::newRow("everything") << Versioned(Block({{kRoot, View(Fixed(3, 4, 5, 6))},
                                                        {kTranslation, View(kUsEnglish)},
                                                        {kUsLegal, View(legal)}}))
                                    << u"Version: 3.4.5.6"_s << u"Copyright: (C) Test Maker"_s;
        QTest::newRow("16-bit halves up to 65535")
            << Versioned(Block({{kRoot, View(Fixed(65535, 0, 1, 65535))}}))
            << u"Version: 65535.0.1.65535"_s << design;
        QTest::newRow("no translation: version only")
            << Versioned(Block({{kRoot, View(Fixed(2, 1, 2, 2))}, {kUsLegal, View(legal)}}))
            << u"Version: 2.1.2.2"_s << design;
        QTest::newRow("no root block: legal notice only")
            << Versioned(Block({{kTranslation, View(kUsEnglish)}, {kUsLegal, View(legal)}}))
            << u"Version: Unknown"_s << u"Copyright: (C) Test Maker"_s;
        // German / Unicode: the block name is formed in upper-case hex, 040704B0.
        static const QByteArray german("\x07\x04\xB0\x04", 4);
        QTest::newRow("other translation names its own block")
            << Versioned(Block({{kRoot, View(Fixed(1, 0, 0, 7))},
                                {kTranslation, View(german)},
                                {kUsLegal, {"wrong\0", 6}},
                                {"\\StringFileInfo\\040704B0\\LegalCopyright", {"right\0", 6}}}))
            << u"Version: 1.0.0.7"_s << u"Copyright: right"_s;
        const QByteArray good = Block({{kRoot, View(Fixed(2, 1, 2, 2))}});
        QTest::newRow("block cut short")
            << Versioned(good.left(30)) << u"Version: Unknown"_s << design;
        QTest::newRow("wrong magic")
            << Versioned(QByteArray(good).replace(0, 4, "XXXX")) << u"Version: Unknown"_s << design;
    }

    void aboutBoxLines()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, version);
        QFETCH(QString, copyright);
        const QString path = file.isEmpty()
                                 ? m_dir.filePath(u"missing"_s)
                                 : Write(QString::fromLatin1(QTest::currentDataTag()), file);
        AboutBox box(path);
        QCOMPARE(child<QLabel>(box, "version2")->text(), version);
        QCOMPARE(child<QLabel>(box, "copyright")->text(), copyright);
    }

    void damagedSectionTableIsNoData()
    {
        const QByteArray elf = Versioned(Block({{kRoot, View(Fixed(2, 1, 2, 2))}}));
        QVERIFY(VersionInfo::fileVersionInfoSize(Write(u"good"_s, elf)) > 0);
        // Section table beyond the end of the file.
        QByteArray far = elf;
        Elf64_Ehdr eh;
        std::memcpy(&eh, far.constData(), sizeof eh);
        eh.e_shoff = Elf64_Off(far.size() + 100);
        std::memcpy(far.data(), &eh, sizeof eh);
        QCOMPARE(VersionInfo::fileVersionInfoSize(Write(u"far"_s, far)), 0);
        // File cut in the middle of the section table.
        QCOMPARE(VersionInfo::fileVersionInfoSize(Write(u"cut"_s, elf.left(elf.size() - 10))), 0);
    }

    void queryIgnoresCase()
    {
        const QByteArray block = Block({{kTranslation, View(kUsEnglish)}});
        const auto value = VersionInfo::queryValue(block, u"\\varfileinfo\\TRANSLATION");
        QVERIFY(value.has_value());
        QCOMPARE(QByteArray(value->data(), value->size()), kUsEnglish);
        QVERIFY(!VersionInfo::queryValue(block, u"\\").has_value());
    }

    void demoConfigurationPointsAtTheSimulator()
    {
        const QString path = qEnvironmentVariable("ORV_SOURCE_DIR") + u"/data/demo.hcf"_s;
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("\"127.0.0.1\",\"30000\",\"5\",\"xt{trpg\",\"\",\"\",\"\","
                                         "\"flf\",\"\",\"\",5\r\n"));
        ConnectionSettings s;
        s.HostAddress = "old";
        s.User = "X";
        ::LoadConfigFile(path, s);
        QCOMPARE(s.HostAddress, QByteArray("127.0.0.1"));
        QCOMPARE(s.Port, quint16(30000));
        QCOMPARE(s.User, QByteArray("MANAGER"));
        QCOMPARE(s.Account, QByteArray("SYS"));
        QVERIFY(s.UserPassword.isEmpty() && s.Group.isEmpty() && s.LogonExtra.isEmpty());
    }

    void start_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("stdoutHas"); // empty: nothing on stdout
        QTest::addColumn<QByteArray>("stderrHas");
        // Options work without any display.
        QTest::newRow("--help") << QStringList{u"--help"_s} << QString() << QString() << 0
                                << QByteArray("Usage: orvanite-console [OPTION]... [FILE]")
                                << QByteArray();
        QTest::newRow("--version") << QStringList{u"--version"_s} << QString() << QString() << 0
                                   << QByteArray("orvanite-console 2.1.2.2\n") << QByteArray();
        // An option after a file name is still an option, never a file.
        QTest::newRow("file then --help") << QStringList{u"east.hcf"_s, u"--help"_s} << QString()
                                          << QString() << 0 << QByteArray("Usage:") << QByteArray();
        QTest::newRow("unknown option")
            << QStringList{u"--east.hcf"_s} << QString() << QString() << 2 << QByteArray()
            << QByteArray("unknown option '--east.hcf'");
        // No display: a message and exit 1, not a core dump.
        const QByteArray said("orvanite-console: ");
        QTest::newRow("nothing set")
            << QStringList{u"east.hcf"_s} << QString() << QString() << 1 << QByteArray() << said;
        QTest::newRow("xcb without DISPLAY")
            << QStringList{u"east.hcf"_s} << u"xcb"_s << QString() << 1 << QByteArray() << said;
        QTest::newRow("xcb with a dead DISPLAY")
            << QStringList{u"east.hcf"_s} << u"xcb"_s << u":987"_s << 1 << QByteArray() << said;
    }

    void start()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, stdoutHas);
        QFETCH(QByteArray, stderrHas);
        const QString program = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-console"_s;
        QVERIFY2(QFile::exists(program), qPrintable(program));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        if (!platform.isEmpty())
            env.insert(u"QT_QPA_PLATFORM"_s, platform);
        if (!display.isEmpty())
            env.insert(u"DISPLAY"_s, display);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            QFAIL("the program did not end");
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(stdoutHas.isEmpty() ? out.isEmpty() : out.contains(stdoutHas), out.constData());
        QVERIFY2(err.contains(stderrHas), err.constData());
        QVERIFY2(!err.contains("Reinstalling"), err.constData());
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
