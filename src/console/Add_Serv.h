#pragma once

#include <QDialog>

class QComboBox;
class QEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The Add New Listener dialog: product, user limit, port and the command that
// starts the listener program on the host. Created once and reused; its
// controls keep what the operator left in them.
class TAddListener : public QDialog
{
    Q_OBJECT

public:
    explicit TAddListener(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* ProductID = nullptr;
    QLineEdit* edUsers = nullptr;
    QLineEdit* edPort = nullptr;
    QLineEdit* edCommand = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    void FormCreate();
    // Puts the chosen product's command and port into their boxes; typed
    // text empties both.
    void ProductIDChange();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
