// Connects a console window to a running simulator (--demo), fills it, and
// saves PNGs of the main window, the Add New Listener and Change Process
// Priority dialogs, and a kill confirmation. Meant to run under Xvfb.

#include "Add_Serv.h"
#include "EventLog.h"
#include "FormMain.h"
#include "Proc_Pri.h"
#include "Prompts.h"
#include "StringGrid.h"
#include "Wire.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

class NoEventLog : public IEventLog
{
public:
    void Report(const QString&, std::uint16_t, std::uint16_t, std::uint32_t) override {}
};

void Settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* widget, const QString& folder, const char* name)
{
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    // The window as the window system shows it; the widget's own rendering
    // when the screen cannot be read.
    QPixmap picture;
    if (QScreen* screen = widget->screen())
        picture = screen->grabWindow(widget->winId());
    if (picture.isNull() || picture.width() < widget->width() / 2)
        picture = widget->grab();
    const bool ok = picture.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), picture.width(),
                picture.height());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanite Server Console"));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port of the running simulator."),
                      QStringLiteral("N"), QStringLiteral("30000")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the PNG files."),
                      QStringLiteral("DIR"), QStringLiteral("screenshots")});
    parser.process(app);
    const QString folder = parser.value(QStringLiteral("out"));
    QDir().mkpath(folder);

    QtPrompts prompts;
    NoEventLog log;
    TMainAppForm form(MainFormDeps{&prompts, &log, {}, QCoreApplication::applicationFilePath()});
    TAddListener addListener;
    TProcessPri processPri;
    form.AddListener = &addListener;
    form.ProcessPri = &processPri;
    form.Settings.HostAddress = "127.0.0.1";
    form.Settings.Port = quint16(parser.value(QStringLiteral("port")).toUInt());
    form.show();
    QElapsedTimer wait;
    wait.start();
    while ((form.FirstShow || form.IsExchanging()) && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (form.FirstShow) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return 1;
    }
    // The listener with the most processes, with a process selected.
    int best = 1;
    int bestRows = 0;
    for (int r = 1; r < form.ListenerArray->RowCount(); ++r) {
        form.ListenerArray->SetRow(r);
        form.ListenerArrayClick();
        if (form.ProcessArray->RowCount() > bestRows) {
            bestRows = form.ProcessArray->RowCount();
            best = r;
        }
    }
    form.ListenerArray->SetRow(best);
    form.ListenerArrayClick();
    form.ProcessArray->SetRow(std::min(3, form.ProcessArray->RowCount() - 1));
    form.ProcessArrayClick();
    Settle();
    bool ok = Save(&form, folder, "main-window.png");

    addListener.ProductID->setCurrentIndex(5);
    addListener.edUsers->setText(QStringLiteral("25"));
    addListener.show();
    Settle();
    ok = Save(&addListener, folder, "add-listener.png") && ok;
    addListener.hide();

    const int row = form.ProcessArray->Row();
    processPri.Label1->setText(QStringLiteral("Pin: ") +
                               QString::fromLatin1(form.ProcessArray->Cell(1, row)));
    processPri.Label2->setText(QStringLiteral("Program: ") +
                               QString::fromLatin1(form.ProcessArray->Cell(2, row)));
    processPri.Label3->setText(QStringLiteral("User: ") +
                               QString::fromLatin1(form.ProcessArray->Cell(3, row)));
    // Preselected from the row's queue, as the Change Priority command does.
    const QByteArray queue = form.ProcessArray->CellText(5, row);
    const int code = Wire::priorityCode(queue);
    if (code == 2)
        processPri.rbCS->setChecked(true);
    else if (code == 4)
        processPri.rbES->setChecked(true);
    else
        processPri.rbDS->setChecked(true);
    processPri.show();
    Settle();
    ok = Save(&processPri, folder, "process-priority.png") && ok;
    processPri.hide();

    // The kill confirmation, answered No once it has been taken.
    QTimer::singleShot(500, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            std::fprintf(stderr, "no confirmation box\n");
            ok = false;
            return;
        }
        Settle();
        ok = Save(box, folder, "confirm-kill-listener.png") && ok;
        if (QScreen* screen = box->screen()) {
            const QPixmap whole = screen->grabWindow(0);
            ok = whole.save(folder + QStringLiteral("/screen-with-confirmation.png")) && ok;
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("&No"))
                button->click();
    });
    form.btnKillListenerClick();
    form.close();
    return ok ? 0 : 1;
}
