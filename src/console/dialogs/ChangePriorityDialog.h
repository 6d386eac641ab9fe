#pragma once

#include <QByteArrayView>
#include <QDialog>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

// The Change Process Priority dialog: shows the process and lets the operator
// choose its dispatching queue (CS, DS or ES). Created once and reused; the
// radio buttons keep the previous choice.
class ChangePriorityDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangePriorityDialog(QWidget* parent = nullptr);

    // Shows the process; its queue ("CS", "DS", "ES") is checked, any other
    // leaves the previous choice.
    void showProcess(QByteArrayView pin, QByteArrayView program, QByteArrayView user,
                     QByteArrayView queue);
    // The queue's code on the wire: 2 for CS, 3 for DS, 4 for ES, 0 when none
    // is checked.
    int queueCode() const;

private:
    QLabel* m_pinLabel = nullptr;
    QLabel* m_programLabel = nullptr;
    QLabel* m_userLabel = nullptr;
    QRadioButton* m_csButton = nullptr;
    QRadioButton* m_dsButton = nullptr;
    QRadioButton* m_esButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QButtonGroup* m_group = nullptr;
};
