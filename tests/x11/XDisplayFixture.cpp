#include "XDisplayFixture.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>

using namespace Qt::StringLiterals;

XDisplayFixture::~XDisplayFixture()
{
    stop(m_wm);
    stop(m_xvfb);
}

bool XDisplayFixture::start()
{
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xclip", "import"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return fail(u"%1 is not installed (scripts/setup.sh installs it)"_s.arg(
                QLatin1StringView(tool)));
    // Xvfb picks a free display number and writes it to its standard output.
    m_xvfb.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1280x1024x24"_s,
                             u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    if (!m_xvfb.waitForStarted())
        return fail(u"Xvfb does not start"_s);
    QDeadlineTimer deadline(15000);
    while (!m_xvfb.canReadLine() && !deadline.hasExpired())
        if (!m_xvfb.waitForReadyRead(int(deadline.remainingTime())))
            break;
    const QByteArray number = m_xvfb.readLine().trimmed();
    if (number.isEmpty())
        return fail(u"Xvfb names no display: %1"_s.arg(
            QString::fromLocal8Bit(m_xvfb.readAllStandardError())));
    m_display = u":"_s + QString::fromLatin1(number);

    m_wm.setProcessEnvironment(environment());
    m_wm.start(u"openbox"_s, {u"--sm-disable"_s});
    if (!m_wm.waitForStarted())
        return fail(u"openbox does not start"_s);
    // The window manager runs once it answers for the desktops.
    while (!deadline.hasExpired()) {
        bool ok = false;
        runTool(u"xdotool"_s, {u"get_num_desktops"_s}, &ok);
        if (ok)
            return true;
        QTest::qWait(50);
    }
    return fail(u"openbox did not take the display"_s);
}

QProcessEnvironment XDisplayFixture::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, m_display);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    return env;
}

QByteArray XDisplayFixture::runTool(const QString& program, const QStringList& arguments, bool* ok,
                                    const QByteArray& input)
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    if (!input.isNull()) {
        p.write(input);
        p.closeWriteChannel();
    }
    *ok = p.waitForStarted() && p.waitForFinished(20000) &&
          p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const QByteArray out = p.readAllStandardOutput();
    if (!*ok)
        m_why = u"%1 %2: %3"_s.arg(program, arguments.join(u' '),
                                   QString::fromLocal8Bit(p.readAllStandardError()));
    return out;
}

QByteArray XDisplayFixture::xdotool(const QStringList& arguments)
{
    bool ok = false;
    const QByteArray out = runTool(u"xdotool"_s, arguments, &ok);
    return ok ? (out.isNull() ? QByteArray("") : out) : QByteArray();
}

QString XDisplayFixture::findWindow(qint64 pid)
{
    bool ok = false;
    const QByteArray ids = runTool(
        u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid)}, &ok);
    for (const QByteArray& id : ids.split('\n'))
        if (!id.isEmpty() && !windowName(QString::fromLatin1(id)).isEmpty())
            return QString::fromLatin1(id);
    return {};
}

bool XDisplayFixture::windowShown(const QString& title)
{
    bool ok = false;
    runTool(u"xdotool"_s,
            {u"search"_s, u"--onlyvisible"_s, u"--name"_s,
             u"^"_s + QRegularExpression::escape(title) + u"$"_s},
            &ok);
    return ok;
}

QStringList XDisplayFixture::shownWindows()
{
    bool ok = false;
    const QByteArray ids =
        runTool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"."_s}, &ok);
    QStringList names;
    for (const QByteArray& id : ids.split('\n'))
        if (!id.isEmpty())
            names.append(windowName(QString::fromLatin1(id)));
    return names;
}

QString XDisplayFixture::windowName(const QString& window)
{
    bool ok = false;
    return QString::fromUtf8(runTool(u"xdotool"_s, {u"getwindowname"_s, window}, &ok)).trimmed();
}

QRect XDisplayFixture::geometry(const QString& window)
{
    bool ok = false;
    const QString out = QString::fromLatin1(
        runTool(u"xdotool"_s, {u"getwindowgeometry"_s, u"--shell"_s, window}, &ok));
    QRect r;
    for (const QString& line : out.split(u'\n')) {
        const int value = line.section(u'=', 1).toInt();
        if (line.startsWith(u"X="_s))
            r.moveLeft(value);
        else if (line.startsWith(u"Y="_s))
            r.moveTop(value);
        else if (line.startsWith(u"WIDTH="_s))
            r.setWidth(value);
        else if (line.startsWith(u"HEIGHT="_s))
            r.setHeight(value);
    }
    return r;
}

QString XDisplayFixture::clipboard()
{
    bool ok = false;
    const QByteArray text = runTool(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}, &ok);
    return ok ? QString::fromLatin1(text) : QString();
}

bool XDisplayFixture::setClipboard(const QString& text)
{
    // xclip takes the clipboard and goes on offering it in the background
    // until another program takes it.
    QTemporaryFile file;
    if (!file.open() || file.write(text.toLatin1()) != text.size())
        return fail(u"cannot write the clipboard text"_s);
    file.close();
    bool ok = false;
    runTool(u"xclip"_s, {u"-i"_s, u"-selection"_s, u"clipboard"_s, file.fileName()}, &ok);
    if (!ok)
        return false;
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (clipboard() == text)
            return true;
        QTest::qWait(20);
    }
    return fail(u"the clipboard does not take the text"_s);
}

QImage XDisplayFixture::grab(const QString& window)
{
    bool ok = false;
    const QByteArray png = runTool(u"import"_s, {u"-window"_s, window, u"png:-"_s}, &ok);
    return ok ? QImage::fromData(png, "PNG") : QImage();
}
