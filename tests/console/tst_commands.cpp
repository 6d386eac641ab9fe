// The operator commands against the simulator: the bytes each one sends, its
// guard, the confirmation texts, the refresh that follows, and the two dialogs.

#include "ConsoleFixture.h"

#include "console/dialogs/AddListenerDialog.h"
#include "console/dialogs/ChangePriorityDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

class TestCommands : public QObject
{
    Q_OBJECT

private:
    template <typename T> static T* child(QObject& parent, const char* name)
    {
        return parent.findChild<T*>(QString::fromLatin1(name));
    }
    static QComboBox* productBox(QDialog& d) { return child<QComboBox>(d, "productBox"); }
    static QLineEdit* edit(QDialog& d, const char* name) { return child<QLineEdit>(d, name); }
    static QRadioButton* queue(QDialog& d, const char* name)
    {
        return child<QRadioButton>(d, name);
    }

    std::unique_ptr<ConsoleFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ConsoleFixture>();
        f->sim.Listeners = {listener("123", "30002", "CNDSRVR", "8"),
                            listener("124", "30007", "VGDSRVR", "16")};
        f->sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500, 3),
                            process("123", "", "202", "CNDUSER", "BOB", 10, 1),
                            process("123", "123", "203", "CNDUSER", "CAROL", 10, 2)};
        QVERIFY(f->showAndConnect());
        f->find<QTimer>("refreshTimer")->setInterval(60000);
    }

    void startListener_data()
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

    void startListener()
    {
        QFETCH(int, item);
        QFETCH(QString, typed);
        QFETCH(QByteArray, argument);
        bool busyDuringDialog = false;
        f->prompts.dialogs.push_back([&](QDialog& d) {
            busyDuringDialog = f->host()->isBusy();
            if (item >= 0)
                productBox(d)->setCurrentIndex(item);
            else
                productBox(d)->setEditText(typed);
            edit(d, "usersEdit")->setText(QStringLiteral("25"));
            return int(QDialog::Accepted);
        });
        const qsizetype mark = f->mark();
        QVERIFY(f->run("startListenerAction"));
        QVERIFY(busyDuringDialog);
        QCOMPARE(f->receivedSince(mark), framed("S") + framed(argument) + fullRefresh());
        if (item == 5) {
            // The host started it: it shows in the refreshed list.
            QCOMPARE(f->listeners()->rows(), 3);
            QCOMPARE(f->listeners()->cell(2, ListenerColumn::Port), QByteArrayView("30004"));
        }
        QTRY_VERIFY(!f->host()->isBusy());
    }

    void addListenerKeepsValues()
    {
        QDialog* first = nullptr;
        QDialog* second = nullptr;
        QStringList seen;
        f->prompts.dialogs.push_back([&](QDialog& d) {
            first = &d;
            productBox(d)->setCurrentIndex(4);
            edit(d, "usersEdit")->setText(QStringLiteral("25"));
            return int(QDialog::Rejected);
        });
        f->prompts.dialogs.push_back([&](QDialog& d) {
            seen = QStringList{productBox(d)->currentText(), edit(d, "portEdit")->text(),
                               edit(d, "usersEdit")->text()};
            second = &d;
            return int(QDialog::Rejected);
        });
        const qsizetype mark = f->mark();
        QVERIFY(f->run("startListenerAction"));
        QVERIFY(f->run("startListenerAction"));
        // One dialog, reused with what the operator left in it.
        QVERIFY(first && first == second);
        QCOMPARE(seen, texts({"8 - Conduit", "30002", "25"}));
        // Cancel sends nothing but still refreshes.
        QCOMPARE(f->receivedSince(mark), fullRefresh() + fullRefresh());
    }

    void addListenerByKeyboard_data()
    {
        // The operator's keys from the moment the dialog opens, space separated;
        // a word that names no key is typed as text.
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<int>("openings"); // the same keys at each (the boxes keep their text)
        QTest::newRow("typed 1") << QStringLiteral("Tab Tab 1 Return") << QByteArray("1|||") << 1;
        QTest::newRow("typed 3, keypad Enter")
            << QStringLiteral("Tab Tab 3 Enter") << QByteArray("3|||") << 1;
        QTest::newRow("item chosen in the open list")
            << QStringLiteral("Tab Tab Alt+Down Down Return")
            << QByteArray("3|30003||DDPSRVR.KQ.ORVANITE;PRI=DS S") << 1;
        QTest::newRow("Enter in the Users box")
            << QStringLiteral("Tab Tab 1 Tab Return") << QByteArray("1|||") << 2;
    }

    void addListenerByKeyboard()
    {
        QFETCH(QString, keys);
        QFETCH(QByteArray, argument);
        QFETCH(int, openings);
        // The same keys do the same at every opening of the dialog.
        for (int opening = 1; opening <= openings; ++opening) {
            f->prompts.dialogs.push_back([&](QDialog& d) {
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
            const qsizetype mark = f->mark();
            QVERIFY(f->run("startListenerAction"));
            QCOMPARE(f->receivedSince(mark), framed("S") + framed(argument) + fullRefresh());
        }
    }

    void killListenerYesAndNo()
    {
        const QString text =
            QStringLiteral("This will abort all users connected via this listener!\r"
                           "Kill listener for port:30002\rConduit\rCNDSRVR");
        qsizetype mark = f->mark();
        QVERIFY(f->run("killListenerAction")); // answered No
        QCOMPARE(f->prompts.confirmations.value(0), text);
        QCOMPARE(f->receivedSince(mark), fullRefresh());
        QCOMPARE(f->listeners()->rows(), 2);

        f->prompts.confirmAnswers = {true};
        mark = f->mark();
        f->find<QPushButton>("killListenerButton")->click(); // the button twin
        QVERIFY(f->waitIdle());
        // The killed listener was the selected one: nothing is selected now and
        // no other listener's processes are listed in its place.
        QCOMPARE(f->receivedSince(mark), framed("K") + framed("S123") + framed("G"));
        QCOMPARE(f->listeners()->rows(), 1);
        QCOMPARE(f->listeners()->cell(0, ListenerColumn::Pin), QByteArrayView("124"));
        QCOMPARE(f->listenerRow(), -1);
        QCOMPARE(f->processes()->rows(), 0);
        // Kill Listener then has nothing to offer.
        mark = f->mark();
        QVERIFY(f->run("killListenerAction"));
        QCOMPARE(f->prompts.confirmations.size(), 2);
        QCOMPARE(f->receivedSince(mark), QByteArray());
    }

    void killProcessGuardAndEffect()
    {
        // Row 1 has no main PIN: nothing at all happens.
        f->chooseProcess(1);
        f->prompts.confirmAnswers = {true};
        qsizetype mark = f->mark();
        QVERIFY(f->run("killProcessAction"));
        QCOMPARE(f->receivedSince(mark), QByteArray());
        QVERIFY(f->prompts.confirmations.isEmpty());

        f->chooseProcess(2);
        mark = f->mark();
        f->find<QPushButton>("killProcessButton")->click();
        QVERIFY(f->waitIdle());
        QCOMPARE(
            f->prompts.confirmations.value(0),
            QStringLiteral("This will abort the user connected to this process!\rKill Process:203"
                           "\rCNDUSER\rCAROL"));
        QCOMPARE(f->receivedSince(mark), framed("K") + framed("P123|203") + fullRefresh());
        QCOMPARE(f->processes()->rows(), 2);
        QCOMPARE(f->processes()->findPin("203"), -1);
    }

    void changePriority()
    {
        // First use on a "BS" process: no queue chosen, none sent.
        f->chooseProcess(1);
        f->prompts.dialogs.push_back([](QDialog&) { return int(QDialog::Accepted); });
        qsizetype mark = f->mark();
        QVERIFY(f->run("changePriorityAction"));
        QCOMPARE(f->receivedSince(mark), framed("P") + framed("") + fullRefresh());

        f->chooseProcess(0); // 201, DS
        bool dsChecked = false;
        QString labels;
        f->prompts.dialogs.push_back([&](QDialog& d) {
            dsChecked = queue(d, "dsButton")->isChecked();
            labels = child<QLabel>(d, "pinLabel")->text() + u'/' +
                     child<QLabel>(d, "programLabel")->text() + u'/' +
                     child<QLabel>(d, "userLabel")->text();
            queue(d, "esButton")->setChecked(true);
            return int(QDialog::Accepted);
        });
        mark = f->mark();
        QVERIFY(f->run("changePriorityAction"));
        QVERIFY(dsChecked);
        QCOMPARE(labels, QStringLiteral("Pin: 201/Program: CNDUSER/User: ALICE"));
        QCOMPARE(f->receivedSince(mark), framed("P") + framed("201|4") + fullRefresh());
        // The queue changed on the host and shows after the refresh, on the same process.
        QCOMPARE(f->processes()->cell(f->processRow(), ProcessColumn::Pin), QByteArrayView("201"));
        QCOMPARE(f->processes()->cell(f->processRow(), ProcessColumn::Priority),
                 QByteArrayView("ES"));

        // "BS" preselects nothing: the previous choice (ES) stays.
        f->chooseProcess(1);
        bool esStill = false;
        f->prompts.dialogs.push_back([&](QDialog& d) {
            esStill = queue(d, "esButton")->isChecked();
            return int(QDialog::Rejected);
        });
        f->find<QPushButton>("changePriorityButton")->click();
        QVERIFY(f->waitIdle());
        QVERIFY(esStill);
    }

    void shutdownJob_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("confirmations");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("closes");
        const QStringList asked{
            QStringLiteral("WARNING: This will abort all users!\rAre you sure?")};
        QTest::newRow("no connection") << false << true << QStringList() << QByteArray() << true;
        QTest::newRow("answered No") << true << false << asked << QByteArray() << false;
        QTest::newRow("answered Yes") << true << true << asked << framed("E") << true;
    }

    void shutdownJob()
    {
        QFETCH(bool, connected);
        QFETCH(bool, answer);
        QFETCH(QStringList, confirmations);
        QFETCH(QByteArray, sent);
        QFETCH(bool, closes);
        if (!connected)
            f->session()->disconnectFromHost();
        f->prompts.confirmAnswers = {answer};
        const qsizetype mark = f->mark();
        QVERIFY(f->run("shutdownJobAction"));
        QCOMPARE(f->closing(), closes);
        QCOMPARE(f->prompts.confirmations, confirmations);
        if (sent.isEmpty()) {
            QCOMPARE(f->receivedSince(mark), QByteArray());
            QVERIFY(closes || !f->host()->isBusy());
            return;
        }
        // Quit follows unless the host has already closed the connection.
        QTRY_VERIFY(f->receivedSince(mark).startsWith(sent));
        const QByteArray got = f->receivedSince(mark);
        QVERIFY2(got == sent || got == sent + framed("Q"), got.constData());
        QVERIFY(!f->session()->isConnected());
    }

    void productDefaults()
    {
        AddListenerDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add New Listener"));
        QCOMPARE(dialog.size(), QSize(429, 237));
        QComboBox* product = productBox(dialog);
        // Each product's name, command and port.
        const QList<QStringList> products = {
            texts({"2 - Parcel Transfer", "PCLSRVR.KQ.ORVANITE;PRI=DS S", "30001"}),
            texts({"3 - Desk Deployer", "DDPSRVR.KQ.ORVANITE;PRI=DS S", "30003"}),
            texts({"4 - Tabula/32", "TABSRVR.KQ.ORVANITE;PRI=DS S", "30006"}),
            texts({"5 - Quarry", "QRYSRVR.KQ.ORVANITE;PRI=DS S", "30005"}),
            texts({"8 - Conduit", "CNDSRVR.KQ.ORVANITE;PRI=DS S", "30002"}),
            texts({"16 - Vanguard", "VGDSRVR.KQ.ORVANITE;PRI=DS S", "30004"}),
            texts({"18 - BaseSrvr", "BASESRVR.KQ.ORVANITE;PRI=DS S", "30018"})};
        QCOMPARE(product->count(), products.size());
        for (int i = 0; i < product->count(); ++i) {
            product->setCurrentIndex(i);
            QCOMPARE((QStringList{product->currentText(), edit(dialog, "commandEdit")->text(),
                                  edit(dialog, "portEdit")->text()}),
                     products[i]);
        }
        QCOMPARE(product->geometry(), QRect(88, 16, 177, 21));
        QCOMPARE(edit(dialog, "commandEdit")->geometry(), QRect(88, 112, 281, 24));
        auto* ok = child<QPushButton>(dialog, "okButton");
        auto* cancel = child<QPushButton>(dialog, "cancelButton");
        QCOMPARE(cancel->geometry(), QRect(280, 152, 89, 25));
        QVERIFY(ok->isDefault());
        QCOMPARE(dialog.product(), QByteArray("18"));
        edit(dialog, "usersEdit")->setText(QStringLiteral("9"));
        product->setEditText(QStringLiteral("99 - Mine"));
        QVERIFY(edit(dialog, "commandEdit")->text().isEmpty());
        QVERIFY(edit(dialog, "portEdit")->text().isEmpty());
        QCOMPARE(edit(dialog, "usersEdit")->text(), QStringLiteral("9"));
        QCOMPARE(ok->nextInFocusChain(), cancel);

        ChangePriorityDialog pri;
        QCOMPARE(pri.windowTitle(), QStringLiteral("Change Process Priority"));
        QCOMPARE(pri.size(), QSize(277, 253));
        QVERIFY(!queue(pri, "csButton")->isChecked() && !queue(pri, "dsButton")->isChecked() &&
                !queue(pri, "esButton")->isChecked());
        QCOMPARE(pri.queueCode(), 0);
        // The code each queue button sends.
        for (const auto& [name, code] :
             {std::pair{"csButton", 2}, {"dsButton", 3}, {"esButton", 4}}) {
            queue(pri, name)->setChecked(true);
            QCOMPARE(pri.queueCode(), code);
        }
        QCOMPARE(queue(pri, "esButton")->geometry(), QRect(16, 136, 89, 17));
        QCOMPARE(child<QPushButton>(pri, "cancelButton")->geometry(), QRect(128, 168, 89, 25));
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
