#include "Proc_Pri.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRadioButton* Radio(QWidget* parent, const char* name, int top)
{
    auto* button = new QRadioButton(QString::fromLatin1(name), parent);
    button->setObjectName(QStringLiteral("rb") + QString::fromLatin1(name));
    button->setGeometry(16, top, 89, 17);
    return button;
}

QLabel* InfoLabel(QWidget* parent, int top)
{
    auto* label = new QLabel(parent);
    label->move(16, top);
    label->resize(260, 16);
    return label;
}

} // namespace

TProcessPri::TProcessPri(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ProcessPri"));
    setWindowTitle(QStringLiteral("Change Process Priority"));
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    resize(304, 311);
    move(197, 164);

    Label1 = InfoLabel(this, 16);
    Label2 = InfoLabel(this, 40);
    Label3 = InfoLabel(this, 64);

    rbCS = Radio(this, "CS", 88);
    rbDS = Radio(this, "DS", 112);
    rbES = Radio(this, "ES", 136);
    // One group, in which none is checked at first.
    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    m_group->addButton(rbCS, 2);
    m_group->addButton(rbDS, 3);
    m_group->addButton(rbES, 4);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(16, 168, 89, 25);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(128, 168, 89, 25);

    QWidget::setTabOrder(rbCS, rbDS);
    QWidget::setTabOrder(rbDS, rbES);
    QWidget::setTabOrder(rbES, btnOK);
    QWidget::setTabOrder(btnOK, btnCancel);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();
}

void TProcessPri::FormCreate()
{
    resize(btnCancel->x() + btnCancel->width() + 60, btnCancel->y() + btnCancel->height() + 60);
}

int TProcessPri::CheckedCode() const
{
    const int id = m_group->checkedId();
    return id < 0 ? 0 : id;
}
