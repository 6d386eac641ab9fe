// The operator commands against the simulator: the bytes each one sends, its
// guard, the confirmation texts, the refresh that follows, the two dialogs,
// and one real message box answered through the active modal widget.

#include "Add_Serv.h"
#include "HostSocket.h"
#include "Proc_Pri.h"
#include "StringGrid.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

QByteArray FullRefresh(const char* pin = "123")
{
    return Framed("G") + Framed("H") + Framed(pin);
}

} // namespace

class tst_Commands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void startListener_data();
    void startListener();
    void addListenerKeepsValues();
    void addListenerByKeyboard_data();
    void addListenerByKeyboard();
    void killListenerYesAndNo();
    void killProcessGuardAndEffect();
    void changePriority();
    void changePriorityFirstUseWithoutChoice();
    void shutdownWithoutConnection();
    void shutdownNoThenYes();
    void realConfirmationBox();
    void productDefaults();

private:
    std::unique_ptr<ConsoleFixture> f;
};

void tst_Commands::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->Sim.Listeners = {Listener("123", "30002", "CNDSRVR", "8"),
                        Listener("124", "30007", "VGDSRVR", "16")};
    f->Sim.Processes = {Process("123", "123", "201", "CNDUSER", "ALICE", 1500, 3),
                        Process("123", "", "202", "CNDUSER", "BOB", 10, 1),
                        Process("123", "123", "203", "CNDUSER", "CAROL", 10, 2)};
    QVERIFY(f->ShowAndConnect());
    f->Form->Timer1->setInterval(60000);
}

void tst_Commands::startListener_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("item 16") << 5 << QString()
                             << QByteArray("16|30004|25|VGDSRVR.KQ.ORVANITE;PRI=DS S");
    QTest::newRow("typed 12-x") << -1 << QStringLiteral("12-x") << QByteArray("1||25|");
    QTest::newRow("typed 7") << -1 << QStringLiteral("7") << QByteArray("7||25|");
    QTest::newRow("typed -") << -1 << QStringLiteral("-5") << QByteArray("||25|");
}

void tst_Commands::startListener()
{
    QFETCH(int, item);
    QFETCH(QString, typed);
    QFETCH(QByteArray, argument);
    TMainAppForm& w = *f->Form;
    f->Prompts.Dialogs.push_back([&](QDialog& d) {
        auto& dialog = static_cast<TAddListener&>(d);
        if (item >= 0)
            dialog.ProductID->setCurrentIndex(item);
        else
            dialog.ProductID->setEditText(typed);
        dialog.edUsers->setText(QStringLiteral("25"));
        return int(QDialog::Accepted);
    });
    const qsizetype mark = f->Mark();
    w.btnStartListenerClick();
    QCOMPARE(f->ReceivedSince(mark), Framed("S") + Framed(argument) + FullRefresh());
    if (item == 5) {
        // The host started it: it shows in the refreshed list.
        QCOMPARE(w.ListenerArray->RowCount(), 4);
        QCOMPARE(w.ListenerArray->Cell(3, 3), QByteArrayView("30004"));
    }
    QVERIFY(!w.IsBusy());
}

void tst_Commands::addListenerKeepsValues()
{
    TMainAppForm& w = *f->Form;
    f->Prompts.Dialogs.push_back([](QDialog& d) {
        auto& dialog = static_cast<TAddListener&>(d);
        dialog.ProductID->setCurrentIndex(4);
        dialog.edUsers->setText(QStringLiteral("25"));
        return int(QDialog::Rejected);
    });
    QString seenPort;
    QString seenUsers;
    QString seenProduct;
    f->Prompts.Dialogs.push_back([&](QDialog& d) {
        auto& dialog = static_cast<TAddListener&>(d);
        seenPort = dialog.edPort->text();
        seenUsers = dialog.edUsers->text();
        seenProduct = dialog.ProductID->currentText();
        return int(QDialog::Rejected);
    });
    const qsizetype mark = f->Mark();
    w.btnStartListenerClick();
    w.btnStartListenerClick();
    QCOMPARE(seenProduct, QStringLiteral("8 - Conduit"));
    QCOMPARE(seenPort, QStringLiteral("30002"));
    QCOMPARE(seenUsers, QStringLiteral("25"));
    // Cancel sends nothing but still refreshes.
    QCOMPARE(f->ReceivedSince(mark), FullRefresh() + FullRefresh());
}

void tst_Commands::addListenerByKeyboard_data()
{
    // The operator's keys from the moment the dialog opens, space separated;
    // a word that names no key is typed as text.
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("typed 1") << QStringLiteral("Tab Tab 1 Return") << QByteArray("1|||");
    QTest::newRow("typed 3, keypad Enter")
        << QStringLiteral("Tab Tab 3 Enter") << QByteArray("3|||");
    QTest::newRow("item chosen in the open list")
        << QStringLiteral("Tab Tab Alt+Down Down Return")
        << QByteArray("3|30003||DDPSRVR.KQ.ORVANITE;PRI=DS S");
}

void tst_Commands::addListenerByKeyboard()
{
    QFETCH(QString, keys);
    QFETCH(QByteArray, argument);
    TMainAppForm& w = *f->Form;
    f->Prompts.Dialogs.push_back([&](QDialog& d) {
        QTimer::singleShot(0, &d, [&] {
            QApplication::setActiveWindow(&d); // as the window manager does
            for (const QString& word : keys.split(QLatin1Char(' '))) {
                // An open list has the keys, else the dialog's focused control.
                QWidget* popup = QApplication::activePopupWidget();
                QWidget* target = popup ? popup->focusWidget() : d.focusWidget();
                if (!target)
                    break;
                const QKeySequence key = QKeySequence::fromString(word);
                if (word.size() > 1 && key.count() == 1 && key[0].key() != Qt::Key_unknown)
                    QTest::keyClick(target, key[0].key(), key[0].keyboardModifiers());
                else
                    QTest::keyClicks(target, word);
            }
            if (d.isVisible())
                d.reject(); // no Enter took effect
        });
        return d.exec();
    });
    const qsizetype mark = f->Mark();
    w.btnStartListenerClick();
    QCOMPARE(f->ReceivedSince(mark), Framed("S") + Framed(argument) + FullRefresh());
}

void tst_Commands::killListenerYesAndNo()
{
    TMainAppForm& w = *f->Form;
    const QString text = QStringLiteral("This will abort all users connected via this listener!\r"
                                        "Kill listener for port:30002\rConduit\rCNDSRVR");
    qsizetype mark = f->Mark();
    w.btnKillListenerClick(); // answered No
    QCOMPARE(f->Prompts.Confirmations.value(0), text);
    QCOMPARE(f->ReceivedSince(mark), FullRefresh());
    QCOMPARE(w.ListenerArray->RowCount(), 3);

    f->Prompts.ConfirmAnswers = {true};
    mark = f->Mark();
    w.KillListener1->trigger(); // the menu twin
    QCOMPARE(f->ReceivedSince(mark), Framed("K") + Framed("S123") + FullRefresh("124"));
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QCOMPARE(w.ListenerArray->Cell(0, 1), QByteArrayView("124"));
    QVERIFY(!w.IsBusy());
}

void tst_Commands::killProcessGuardAndEffect()
{
    TMainAppForm& w = *f->Form;
    // Row 2 has no main PIN: nothing at all happens.
    w.ProcessArray->SetRow(2);
    w.ProcessArrayClick();
    f->Prompts.ConfirmAnswers = {true};
    qsizetype mark = f->Mark();
    w.btnKillProcessClick();
    QCOMPARE(f->ReceivedSince(mark), QByteArray());
    QVERIFY(f->Prompts.Confirmations.isEmpty());

    w.ProcessArray->SetRow(3);
    w.ProcessArrayClick();
    mark = f->Mark();
    w.btnKillProcess->click();
    QCOMPARE(f->Prompts.Confirmations.value(0),
             QStringLiteral("This will abort the user connected to this process!\rKill Process:203"
                            "\rCNDUSER\rCAROL"));
    QCOMPARE(f->ReceivedSince(mark), Framed("K") + Framed("P123|203") + FullRefresh());
    QCOMPARE(w.ProcessArray->RowCount(), 3);
    for (int r = 1; r < 3; ++r)
        QVERIFY(w.ProcessArray->Cell(1, r) != "203");
}

void tst_Commands::changePriority()
{
    TMainAppForm& w = *f->Form;
    w.ProcessArray->SetRow(1); // 201, DS
    w.ProcessArrayClick();
    bool dsChecked = false;
    QString labels;
    f->Prompts.Dialogs.push_back([&](QDialog& d) {
        auto& dialog = static_cast<TProcessPri&>(d);
        dsChecked = dialog.rbDS->isChecked();
        labels =
            dialog.Label1->text() + u'/' + dialog.Label2->text() + u'/' + dialog.Label3->text();
        dialog.rbES->setChecked(true);
        return int(QDialog::Accepted);
    });
    const qsizetype mark = f->Mark();
    w.ChangePriority1->trigger();
    QVERIFY(dsChecked);
    QCOMPARE(labels, QStringLiteral("Pin: 201/Program: CNDUSER/User: ALICE"));
    QCOMPARE(f->ReceivedSince(mark), Framed("P") + Framed("201|4") + FullRefresh());
    // The queue changed on the host and shows after the refresh, on the same process.
    QCOMPARE(w.ProcessArray->Cell(1, w.SelectedProcessRow), QByteArrayView("201"));
    QCOMPARE(w.ProcessArray->Cell(5, w.SelectedProcessRow), QByteArrayView("ES"));

    // "BS" preselects nothing: the previous choice (ES) stays.
    w.ProcessArray->SetRow(2);
    w.ProcessArrayClick();
    bool esStill = false;
    f->Prompts.Dialogs.push_back([&](QDialog& d) {
        esStill = static_cast<TProcessPri&>(d).rbES->isChecked();
        return int(QDialog::Rejected);
    });
    w.BtnChangePriClick();
    QVERIFY(esStill);
}

void tst_Commands::changePriorityFirstUseWithoutChoice()
{
    TMainAppForm& w = *f->Form;
    w.ProcessArray->SetRow(2); // BS
    w.ProcessArrayClick();
    f->Prompts.Dialogs.push_back([](QDialog&) { return int(QDialog::Accepted); });
    const qsizetype mark = f->Mark();
    w.BtnChangePriClick();
    QCOMPARE(f->ReceivedSince(mark), Framed("P") + Framed("") + FullRefresh());
}

void tst_Commands::shutdownWithoutConnection()
{
    TMainAppForm& w = *f->Form;
    w.Socket().Disconnect();
    const qsizetype mark = f->Mark();
    w.menuShutdownJobClick();
    QVERIFY(w.IsClosing());
    QVERIFY(f->Prompts.Confirmations.isEmpty());
    QCOMPARE(f->ReceivedSince(mark), QByteArray());
}

void tst_Commands::shutdownNoThenYes()
{
    TMainAppForm& w = *f->Form;
    qsizetype mark = f->Mark();
    w.menuShutdownJobClick();
    QCOMPARE(f->Prompts.Confirmations.value(0),
             QStringLiteral("WARNING: This will abort all users!\rAre you sure?"));
    QCOMPARE(f->ReceivedSince(mark), QByteArray());
    QVERIFY(!w.IsBusy());
    QVERIFY(!w.IsClosing());

    f->Prompts.ConfirmAnswers = {true};
    mark = f->Mark();
    w.menuShutdownJob->trigger();
    QVERIFY(w.IsClosing());
    // Quit follows unless the host has already closed the connection.
    const QByteArray sent = f->ReceivedSince(mark);
    QVERIFY2(sent == Framed("E") || sent == Framed("E") + Framed("Q"), sent.constData());
    QCOMPARE(w.Socket().State(), hsClosed);
}

void tst_Commands::realConfirmationBox()
{
    // The program's own prompts: a real QMessageBox, answered No.
    QtPrompts prompts(f->Form.get());
    RecordingEventLog log;
    MainFormDeps deps{&prompts, &log, {}, QStringLiteral("/opt/orvanite/orvanite-console")};
    TMainAppForm w(deps);
    w.Settings.HostAddress = "127.0.0.1";
    w.Settings.Port = f->Sim.serverPort();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.FirstShow, 5000);

    QString title;
    QString text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttons.append(b->text());
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QStringLiteral("&No"))
                b->click();
    });
    const qsizetype mark = f->Mark();
    w.btnKillListenerClick();
    QCOMPARE(title, QStringLiteral("Confirm"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(text, QStringLiteral("This will abort all users connected via this listener!\n"
                                  "Kill listener for port:30002\nConduit\nCNDSRVR"));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("&No"), QStringLiteral("&Yes")}));
    QCOMPARE(f->ReceivedSince(mark), FullRefresh());

    // A plain message carries the application title.
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    w.SocketError(&w.Socket(), 11001, THostSocket::ErrorText(11001));
    QCOMPARE(title, QStringLiteral("Orvanite Server Console"));
    QCOMPARE(text, QStringLiteral("WINSOCK error: 11001\n") + THostSocket::ErrorText(11001));
    w.close();
}

void tst_Commands::productDefaults()
{
    TAddListener dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add New Listener"));
    QCOMPARE(dialog.size(), QSize(429, 237));
    QCOMPARE(dialog.ProductID->count(), 7);
    QCOMPARE(dialog.ProductID->itemText(6), QStringLiteral("18 - BaseSrvr"));
    QCOMPARE(dialog.ProductID->geometry(), QRect(88, 16, 177, 21));
    QCOMPARE(dialog.edCommand->geometry(), QRect(88, 112, 281, 24));
    QCOMPARE(dialog.btnCancel->geometry(), QRect(280, 152, 89, 25));
    QVERIFY(dialog.btnOK->isDefault());
    dialog.ProductID->setCurrentIndex(6);
    QCOMPARE(dialog.edCommand->text(), QStringLiteral("BASESRVR.KQ.ORVANITE;PRI=DS S"));
    QCOMPARE(dialog.edPort->text(), QStringLiteral("30018"));
    dialog.edUsers->setText(QStringLiteral("9"));
    dialog.ProductID->setEditText(QStringLiteral("99 - Mine"));
    QVERIFY(dialog.edCommand->text().isEmpty());
    QVERIFY(dialog.edPort->text().isEmpty());
    QCOMPARE(dialog.edUsers->text(), QStringLiteral("9"));
    QCOMPARE(dialog.btnOK->nextInFocusChain(), dialog.btnCancel);

    TProcessPri pri;
    QCOMPARE(pri.windowTitle(), QStringLiteral("Change Process Priority"));
    QCOMPARE(pri.size(), QSize(277, 253));
    QVERIFY(!pri.rbCS->isChecked() && !pri.rbDS->isChecked() && !pri.rbES->isChecked());
    QCOMPARE(pri.CheckedCode(), 0);
    QCOMPARE(pri.rbES->geometry(), QRect(16, 136, 89, 17));
    QCOMPARE(pri.btnCancel->geometry(), QRect(128, 168, 89, 25));
}

QTEST_MAIN(tst_Commands)
#include "tst_Commands.moc"
