// The program entry of orvanite-console: options, the main window and the
// About box, the start-up splash, then the main window and
// the event loop.

#include "VersionConfig.h"
#include "app/AboutBox.h"
#include "console/MainWindow.h"
#include "console/SystemEventLog.h"
#include "console/WidgetPrompts.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const usageText =
    "Usage: orvanite-console [OPTION]... [FILE]\n"
    "Watch and control a host's server job over one TCP connection.\n"
    "\n"
    "  FILE        the configuration file (.hcf) to connect with; a name without\n"
    "              \"/\" is looked up beside the program, then in the current\n"
    "              folder. Without FILE the About box is shown for 3 seconds\n"
    "              before the main window.\n"
    "  --add FILE  open another host's configuration file in the same window, a\n"
    "              tab per host (may be given more than once)\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --          end of options: what follows is a file name even if it\n"
    "              starts with \"--\"\n"
    "\n"
    "Qt's own options (for example -platform offscreen) are accepted too.\n";

enum class Parsed
{
    Run,
    Help,
    Version,
    Error
};

// Options are the arguments that start with "--" (before a lone "--"); they
// are never taken for a configuration file. Qt's single-dash options are
// left to QApplication.
Parsed parseOptions(int argc, char** argv, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            break;
        if (std::strcmp(a, "--help") == 0)
            return Parsed::Help;
        if (std::strcmp(a, "--version") == 0)
            return Parsed::Version;
        if (std::strcmp(a, "--add") == 0) {
            if (i + 1 >= argc) {
                error = "option '--add' needs a file";
                return Parsed::Error;
            }
            ++i;
            continue;
        }
        if (std::strncmp(a, "--add=", 6) == 0)
            continue;
        if (std::strncmp(a, "--", 2) == 0) {
            error = std::string("unknown option '") + a + "'";
            return Parsed::Error;
        }
    }
    return Parsed::Run;
}

// The arguments left once Qt has taken its own: the options are dropped
// (the files of --add go to added) and the first "--" ends them.
QStringList fileArguments(const QStringList& arguments, QStringList& added)
{
    QStringList files;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && a == QLatin1String("--add") && i + 1 < arguments.size()) {
            added.append(arguments.at(++i));
            continue;
        }
        if (options && a.startsWith(QLatin1String("--add="))) {
            added.append(a.mid(6));
            continue;
        }
        if (options && a.startsWith(QLatin1String("--")))
            continue;
        files.append(a);
    }
    return files;
}

// The platform Qt will use: "-platform NAME" on the command line, else
// QT_QPA_PLATFORM, else the default (empty).
std::string platformName(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    }
    const char* env = std::getenv("QT_QPA_PLATFORM");
    return env ? env : "";
}

bool envSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

// Without a display Qt would abort with a core dump; say why and stop.
bool displayAvailable(const std::string& platform)
{
    if (platform.rfind("xcb", 0) == 0)
        return envSet("DISPLAY");
    if (platform.rfind("wayland", 0) == 0)
        return envSet("WAYLAND_DISPLAY");
    if (platform.empty())
        return envSet("DISPLAY") || envSet("WAYLAND_DISPLAY");
    return true; // offscreen, vnc, ...: Qt reports its own failures below
}

QtMessageHandler previousHandler = nullptr;

// While the application starts, a fatal platform error (a display that
// cannot be opened) ends the program with a plain message instead of abort().
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        if (text.contains(QLatin1String("platform plugin"))) {
            const char* display = std::getenv("DISPLAY");
            std::fprintf(stderr,
                         "orvanite-console: cannot open a window: the display '%s' cannot be "
                         "opened.\n",
                         display ? display : "");
        } else {
            std::fprintf(stderr, "orvanite-console: cannot open a window: %s\n",
                         text.toLocal8Bit().constData());
        }
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    switch (parseOptions(argc, argv, error)) {
    case Parsed::Help:
        std::fputs(usageText, stdout);
        return 0;
    case Parsed::Version:
        std::printf("orvanite-console %s\n", ORV_VERSION_TEXT);
        return 0;
    case Parsed::Error:
        std::fprintf(stderr, "orvanite-console: %s\nTry 'orvanite-console --help'.\n",
                     error.c_str());
        return 2;
    case Parsed::Run:
        break;
    }
    if (!displayAvailable(platformName(argc, argv))) {
        std::fputs("orvanite-console: no display to open a window on (DISPLAY is not set).\n"
                   "Run it in a desktop session, under xvfb-run, or with "
                   "QT_QPA_PLATFORM=offscreen.\n",
                   stderr);
        return 1;
    }

    // 1. The application framework.
    previousHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);

    // 2. The application title. It is the caption of the plain message boxes
    // (the prompts use the same text); the display name is left unset because
    // Qt would append it to every window caption.
    QApplication::setApplicationName(QStringLiteral("Orvanite Server Console"));
    QApplication::setApplicationVersion(QStringLiteral(ORV_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("orvanite-console"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/orvanite/orvanite-console.png"));
    icon.addFile(QStringLiteral(":/orvanite/orvanite-console-256.png"));
    QApplication::setWindowIcon(icon);

    const QString programPath = QCoreApplication::applicationFilePath();
    WidgetPrompts prompts;
    SystemEventLog eventLog;
    MainWindow::Environment environment;
    environment.prompts = &prompts;
    environment.eventLog = &eventLog;
    environment.arguments = fileArguments(QCoreApplication::arguments(), environment.added);
    environment.programPath = programPath;

    // 3. The windows, hidden; each lives until the end. The main window
    // creates its hosts and their dialogs; the About box is a child of it too.
    MainWindow mainWindow(environment);
    auto* aboutBox = new AboutBox(programPath, &mainWindow);
    QObject::connect(&mainWindow, &MainWindow::aboutRequested, aboutBox, &AboutBox::showFromHelp);

    // 4. The splash countdown starts now.
    aboutBox->setCountdown(3000);
    // 5. The event log needs no registration here: the system log writer
    // opens nothing until its first entry.
    // 6, 7. The two captions.
    aboutBox->setVersionText(QStringLiteral("Version: 2.0 32-bit"));
    mainWindow.setWindowTitle(QStringLiteral("Orvanite Server Console 32-bit"));

    // 8. The splash, only when no configuration file was named.
    if (environment.arguments.isEmpty() && environment.added.isEmpty())
        aboutBox->showModal();

    // 9, 10. The main window (its first show connects), then the event loop.
    mainWindow.show();
    return app.exec();
}
