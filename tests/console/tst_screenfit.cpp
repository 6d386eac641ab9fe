// Every dialog fits the screen's available area at a scale factor of 2: a
// 1280 x 1024 screen is 640 x 512 then, narrower than some dialogs are laid
// out for.

#include "console/WidgetPrompts.h"
#include "console/dialogs/AddListenerDialog.h"
#include "console/dialogs/AuditDialog.h"
#include "console/dialogs/ChangePriorityDialog.h"
#include "console/dialogs/ConfigureDialog.h"
#include "console/dialogs/PreferencesDialog.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using MakeDialog = std::function<std::unique_ptr<QWidget>(QWidget* parent)>;
Q_DECLARE_METATYPE(MakeDialog)

class TestScreenFit : public QObject
{
    Q_OBJECT

private:
    template <typename D> static std::unique_ptr<QWidget> make(QWidget* parent)
    {
        return std::make_unique<D>(parent);
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void dialogFitsScreen_data()
    {
        QTest::addColumn<MakeDialog>("make");
        const QString trail = m_dir.filePath(QStringLiteral("audit.jsonl"));
        QTest::newRow("audit trail") << MakeDialog([trail](QWidget* parent) {
            return std::unique_ptr<QWidget>(new AuditDialog(trail, parent));
        });
        QTest::newRow("configure") << MakeDialog(make<ConfigureDialog>);
        QTest::newRow("add listener") << MakeDialog(make<AddListenerDialog>);
        QTest::newRow("change priority") << MakeDialog(make<ChangePriorityDialog>);
        QTest::newRow("preferences") << MakeDialog(make<PreferencesDialog>);
        QTest::newRow("open file") << MakeDialog([](QWidget* parent) {
            // The prompts' own dialog, as the program shows it.
            WidgetPrompts prompts(parent);
            QFileDialog* dialog = prompts.fileDialog(false);
            dialog->resize(1400, 900);
            return std::unique_ptr<QWidget>(dialog);
        });
    }

    void dialogFitsScreen()
    {
        QFETCH(MakeDialog, make);
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("2"));
        QWidget window;
        window.resize(600, 400);
        window.show();
        std::unique_ptr<QWidget> dialog = make(&window);
        // Opened towards the screen's right edge, as a window moved there would.
        dialog->move(window.screen()->availableGeometry().right() - 100, 10);
        dialog->show();
        const QRect area = dialog->screen()->availableGeometry();
        QCOMPARE(area.size(), QSize(640, 512));
        // Inside the area: nothing of the frame stands out of it.
        QCOMPARE(area.united(dialog->frameGeometry()), area);
    }
};

int main(int argc, char** argv)
{
    // A 1280 x 1024 screen whose windows have frames, at a scale factor of 2.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(R"({"windowFrameMargins": true, "screens": [{"name": "screen", "x": 0, "y": 0,
            "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") <
            0)
        return 2;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestScreenFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
