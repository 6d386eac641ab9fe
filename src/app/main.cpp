// The program entry of orvanite-console: options, the five windows created
// once in their fixed order, the start-up splash, then the main window and
// the event loop.

#include "About.h"
#include "Add_Serv.h"
#include "Configur.h"
#include "EventLog.h"
#include "FormMain.h"
#include "Proc_Pri.h"
#include "Prompts.h"
#include "VersionConfig.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "Usage: orvanite-console [OPTION]... [FILE]\n"
    "Watch and control a host's server job over one TCP connection.\n"
    "\n"
    "  FILE        the configuration file (.hcf) to connect with; a name without\n"
    "              \"/\" is looked up beside the program, then in the current\n"
    "              folder. Without FILE the About box is shown for 3 seconds\n"
    "              before the main window.\n"
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
Parsed ParseOptions(int argc, char** argv, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            break;
        if (std::strcmp(a, "--help") == 0)
            return Parsed::Help;
        if (std::strcmp(a, "--version") == 0)
            return Parsed::Version;
        if (std::strncmp(a, "--", 2) == 0) {
            error = std::string("unknown option '") + a + "'";
            return Parsed::Error;
        }
    }
    return Parsed::Run;
}

// The arguments left once Qt has taken its own: the options are dropped and
// the first "--" ends them.
QStringList FileArguments(const QStringList& arguments)
{
    QStringList files;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (options && a == QLatin1String("--")) {
            options = false;
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
std::string PlatformName(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    }
    const char* env = std::getenv("QT_QPA_PLATFORM");
    return env ? env : "";
}

bool EnvSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

// Without a display Qt would abort with a core dump; say why and stop.
bool DisplayAvailable(const std::string& platform)
{
    if (platform.rfind("xcb", 0) == 0)
        return EnvSet("DISPLAY");
    if (platform.rfind("wayland", 0) == 0)
        return EnvSet("WAYLAND_DISPLAY");
    if (platform.empty())
        return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
    return true; // offscreen, vnc, ...: Qt reports its own failures below
}

QtMessageHandler g_previousHandler = nullptr;

// While the application starts, a fatal platform error (a display that
// cannot be opened) ends the program with a plain message instead of abort().
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
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
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    switch (ParseOptions(argc, argv, error)) {
    case Parsed::Help:
        std::fputs(kUsage, stdout);
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
    if (!DisplayAvailable(PlatformName(argc, argv))) {
        std::fputs("orvanite-console: no display to open a window on (DISPLAY is not set).\n"
                   "Run it in a desktop session, under xvfb-run, or with "
                   "QT_QPA_PLATFORM=offscreen.\n",
                   stderr);
        return 1;
    }

    // 1. The application framework.
    g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);

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
    QtPrompts prompts;
    SystemEventLog eventLog;
    MainFormDeps deps;
    deps.Prompts = &prompts;
    deps.EventLog = &eventLog;
    deps.Arguments = FileArguments(QCoreApplication::arguments());
    deps.ProgramPath = programPath;

    // 3. The five windows, hidden, in this order; each lives until the end.
    // The dialogs are children of the main window, which deletes them.
    TMainAppForm mainForm(deps);
    auto* aboutBox = new TAboutBox(programPath, &mainForm);
    auto* configureDlg = new TConfigureDlg(&mainForm);
    auto* processPri = new TProcessPri(&mainForm);
    auto* addListener = new TAddListener(&mainForm);
    mainForm.AboutBox = aboutBox;
    mainForm.ConfigureDlg = configureDlg;
    mainForm.ProcessPri = processPri;
    mainForm.AddListener = addListener;
    prompts.UseFileDialogs(mainForm.dlgOpen, mainForm.dlgSave);

    // 4. The splash countdown starts now.
    aboutBox->SetCountdown(3000);
    // 5. The event log needs no registration here: the system log writer
    // opens nothing until its first entry.
    // 6, 7. The two captions.
    aboutBox->Version->setText(QStringLiteral("Version: 2.0 32-bit"));
    mainForm.setWindowTitle(QStringLiteral("Orvanite Server Console 32-bit"));

    // 8. The splash, only when no configuration file was named.
    if (deps.Arguments.isEmpty())
        aboutBox->ShowModal();

    // 9, 10. The main window (its first show connects), then the event loop.
    mainForm.show();
    return app.exec();
}
