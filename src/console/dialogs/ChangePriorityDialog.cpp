#include "console/dialogs/ChangePriorityDialog.h"

#include "console/dialogs/ScreenFit.h"

#include "host_link/Wire.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRadioButton* radio(QWidget* parent, const char* queue, const char* name, int top)
{
    auto* button = new QRadioButton(QString::fromLatin1(queue), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(16, top, 89, 17);
    return button;
}

QLabel* infoLabel(QWidget* parent, const char* name, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(16, top);
    label->resize(260, 16);
    return label;
}

} // namespace

ChangePriorityDialog::ChangePriorityDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("changePriorityDialog"));
    keepOnScreen(this);
    setWindowTitle(QStringLiteral("Change Process Priority"));
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    resize(304, 311);
    move(197, 164);

    m_pinLabel = infoLabel(this, "pinLabel", 16);
    m_programLabel = infoLabel(this, "programLabel", 40);
    m_userLabel = infoLabel(this, "userLabel", 64);

    m_csButton = radio(this, "CS", "csButton", 88);
    m_dsButton = radio(this, "DS", "dsButton", 112);
    m_esButton = radio(this, "ES", "esButton", 136);
    // One group, in which none is checked at first.
    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    m_group->addButton(m_csButton, 2);
    m_group->addButton(m_dsButton, 3);
    m_group->addButton(m_esButton, 4);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setGeometry(16, 168, 89, 25);
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setGeometry(128, 168, 89, 25);

    QWidget::setTabOrder(m_csButton, m_dsButton);
    QWidget::setTabOrder(m_dsButton, m_esButton);
    QWidget::setTabOrder(m_esButton, m_okButton);
    QWidget::setTabOrder(m_okButton, m_cancelButton);

    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // Sized from the Cancel button: 60 pixels to the right of and below it.
    resize(m_cancelButton->x() + m_cancelButton->width() + 60,
           m_cancelButton->y() + m_cancelButton->height() + 60);
}

void ChangePriorityDialog::showProcess(QByteArrayView pin, QByteArrayView program,
                                       QByteArrayView user, QByteArrayView queue)
{
    m_pinLabel->setText(QStringLiteral("Pin: ") + QString::fromLatin1(pin));
    m_programLabel->setText(QStringLiteral("Program: ") + QString::fromLatin1(program));
    m_userLabel->setText(QStringLiteral("User: ") + QString::fromLatin1(user));
    if (QAbstractButton* button = m_group->button(Wire::priorityCode(queue)))
        button->setChecked(true);
}

int ChangePriorityDialog::queueCode() const
{
    const int id = m_group->checkedId();
    return id < 0 ? 0 : id;
}
