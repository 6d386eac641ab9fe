#include "console/dialogs/AddListenerDialog.h"

#include "console/dialogs/ScreenFit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <array>

namespace {

struct ProductDefaults
{
    const char* item;
    const char* command;
    const char* port;
};

constexpr std::array<ProductDefaults, 7> Products{{
    {"2 - Parcel Transfer", "PCLSRVR.KQ.ORVANITE;PRI=DS S", "30001"},
    {"3 - Desk Deployer", "DDPSRVR.KQ.ORVANITE;PRI=DS S", "30003"},
    {"4 - Tabula/32", "TABSRVR.KQ.ORVANITE;PRI=DS S", "30006"},
    {"5 - Quarry", "QRYSRVR.KQ.ORVANITE;PRI=DS S", "30005"},
    {"8 - Conduit", "CNDSRVR.KQ.ORVANITE;PRI=DS S", "30002"},
    {"16 - Vanguard", "VGDSRVR.KQ.ORVANITE;PRI=DS S", "30004"},
    {"18 - BaseSrvr", "BASESRVR.KQ.ORVANITE;PRI=DS S", "30018"},
}};

QLabel* rightLabel(QWidget* parent, const char* text, int left, int top, int width)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The labels keep their right edge; a font wider than the design one
    // makes them grow to the left instead of cutting the text.
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    const int right = left + width;
    const int shown = std::max(width, needed);
    label->setGeometry(std::max(0, right - shown), top, shown, 13);
    return label;
}

QLineEdit* lineEdit(QWidget* parent, const char* name, int left, int top, int width)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, top, width, 24);
    return edit;
}

// The boxes hold what the operator typed; the host gets it as single bytes.
QByteArray bytesOf(const QString& text)
{
    return text.toLatin1();
}

} // namespace

AddListenerDialog::AddListenerDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("addListenerDialog"));
    keepOnScreen(this);
    setWindowTitle(QStringLiteral("Add New Listener"));
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    resize(427, 247);
    move(303, 218);

    rightLabel(this, "Product", 36, 16, 37);
    rightLabel(this, "Users", 46, 48, 27);
    rightLabel(this, "Port", 54, 80, 19);
    rightLabel(this, "Command", 26, 112, 47);

    m_productBox = new QComboBox(this);
    m_productBox->setObjectName(QStringLiteral("productBox"));
    m_productBox->setEditable(true);
    m_productBox->setInsertPolicy(QComboBox::NoInsert);
    // What the operator types is the product as typed: no completion turns
    // "1" into an item's text.
    m_productBox->setCompleter(nullptr);
    for (const ProductDefaults& product : Products)
        m_productBox->addItem(QString::fromLatin1(product.item));
    // Nothing is chosen until the operator chooses.
    m_productBox->setCurrentIndex(-1);
    m_productBox->setEditText(QString());
    m_productBox->setGeometry(88, 16, 177, 21);

    m_usersEdit = lineEdit(this, "usersEdit", 88, 48, 73);
    m_portEdit = lineEdit(this, "portEdit", 88, 80, 73);
    m_commandEdit = lineEdit(this, "commandEdit", 88, 112, 281);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setGeometry(168, 152, 89, 25);
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setGeometry(280, 152, 89, 25);

    QWidget::setTabOrder(m_okButton, m_cancelButton);
    QWidget::setTabOrder(m_cancelButton, m_productBox);
    QWidget::setTabOrder(m_productBox, m_usersEdit);
    QWidget::setTabOrder(m_usersEdit, m_portEdit);
    QWidget::setTabOrder(m_portEdit, m_commandEdit);

    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_productBox, &QComboBox::currentIndexChanged, this,
            &AddListenerDialog::productChanged);
    connect(m_productBox, &QComboBox::editTextChanged, this, &AddListenerDialog::productChanged);

    // Enter in the Product box, or in its open list, presses OK like Enter in
    // every other field; the combo box would otherwise keep the key.
    m_productBox->installEventFilter(this);
    m_productBox->view()->installEventFilter(this);
    // In the other boxes too, at every opening: the dialog's default button
    // may have moved to a button that had the focus at an earlier opening.
    for (QLineEdit* edit : {m_usersEdit, m_portEdit, m_commandEdit})
        edit->installEventFilter(this);

    // Sized from the Cancel button: 60 pixels to the right of and below it.
    resize(m_cancelButton->x() + m_cancelButton->width() + 60,
           m_cancelButton->y() + m_cancelButton->height() + 60);
}

QByteArray AddListenerDialog::product() const
{
    const QByteArray text = bytesOf(m_productBox->currentText());
    const qsizetype dash = text.indexOf('-');
    return dash < 0 ? text : text.left(std::max<qsizetype>(0, dash - 1));
}

QByteArray AddListenerDialog::users() const
{
    return bytesOf(m_usersEdit->text());
}

QByteArray AddListenerDialog::port() const
{
    return bytesOf(m_portEdit->text());
}

QByteArray AddListenerDialog::command() const
{
    return bytesOf(m_commandEdit->text());
}

void AddListenerDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Every opening starts on OK, the first control of the tab order.
    m_okButton->setFocus(Qt::TabFocusReason);
}

bool AddListenerDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        const bool inEdit =
            watched == m_usersEdit || watched == m_portEdit || watched == m_commandEdit;
        if (enter && (inEdit || (watched == m_productBox && !m_productBox->view()->isVisible()))) {
            m_okButton->click();
            return true;
        }
        if (enter && watched == m_productBox->view()) {
            // The open list takes the highlighted item first, so that OK
            // sends it with its port and command.
            const QModelIndex highlighted = m_productBox->view()->currentIndex();
            if (highlighted.isValid())
                m_productBox->setCurrentIndex(highlighted.row());
            m_productBox->hidePopup();
            m_okButton->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AddListenerDialog::productChanged()
{
    // An item counts as chosen only while the box shows its text; anything
    // typed over it is a product of the operator's own.
    const int index = m_productBox->currentIndex();
    const bool chosen = index >= 0 && index < int(Products.size()) &&
                        m_productBox->currentText() == m_productBox->itemText(index);
    if (chosen) {
        m_commandEdit->setText(QString::fromLatin1(Products[std::size_t(index)].command));
        m_portEdit->setText(QString::fromLatin1(Products[std::size_t(index)].port));
    } else {
        m_commandEdit->clear();
        m_portEdit->clear();
    }
}
