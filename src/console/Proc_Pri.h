#pragma once

#include <QDialog>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

// The Change Process Priority dialog: shows the process and lets the operator
// choose its dispatching queue (CS, DS or ES). Created once and reused; the
// radio buttons keep the previous choice.
class TProcessPri : public QDialog
{
    Q_OBJECT

public:
    explicit TProcessPri(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QRadioButton* rbCS = nullptr;
    QRadioButton* rbDS = nullptr;
    QRadioButton* rbES = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    void FormCreate();
    // 2 for CS, 3 for DS, 4 for ES, 0 when none is checked.
    int CheckedCode() const;

private:
    QButtonGroup* m_group = nullptr;
};
