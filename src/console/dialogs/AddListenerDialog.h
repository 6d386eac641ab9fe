#pragma once

#include <QByteArray>
#include <QDialog>

class QComboBox;
class QEvent;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The Add New Listener dialog: product, user limit, port and the command that
// starts the listener program on the host. Created once and reused; its
// boxes keep what the operator left in them.
class AddListenerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddListenerDialog(QWidget* parent = nullptr);

    // The product number: what stands before " - " in the box (all of it
    // when there is no dash).
    QByteArray product() const;
    QByteArray users() const;
    QByteArray port() const;
    QByteArray command() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts the chosen product's command and port into their boxes; typed
    // text empties both.
    void productChanged();

    QComboBox* m_productBox = nullptr;
    QLineEdit* m_usersEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QLineEdit* m_commandEdit = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
