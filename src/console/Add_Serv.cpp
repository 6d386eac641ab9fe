#include "Add_Serv.h"

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
    const char* Item;
    const char* Command;
    const char* Port;
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

QLabel* RightLabel(QWidget* parent, const char* text, int left, int top, int width)
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

} // namespace

TAddListener::TAddListener(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AddListener"));
    setWindowTitle(QStringLiteral("Add New Listener"));
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    resize(427, 247);
    move(303, 218);

    Label1 = RightLabel(this, "Product", 36, 16, 37);
    Label2 = RightLabel(this, "Users", 46, 48, 27);
    Label3 = RightLabel(this, "Port", 54, 80, 19);
    Label4 = RightLabel(this, "Command", 26, 112, 47);

    ProductID = new QComboBox(this);
    ProductID->setObjectName(QStringLiteral("ProductID"));
    ProductID->setEditable(true);
    ProductID->setInsertPolicy(QComboBox::NoInsert);
    // What the operator types is the product as typed: no completion turns
    // "1" into an item's text.
    ProductID->setCompleter(nullptr);
    for (const ProductDefaults& product : Products)
        ProductID->addItem(QString::fromLatin1(product.Item));
    // Nothing is chosen until the operator chooses.
    ProductID->setCurrentIndex(-1);
    ProductID->setEditText(QString());
    ProductID->setGeometry(88, 16, 177, 21);

    edUsers = new QLineEdit(this);
    edUsers->setObjectName(QStringLiteral("edUsers"));
    edUsers->setGeometry(88, 48, 73, 24);
    edPort = new QLineEdit(this);
    edPort->setObjectName(QStringLiteral("edPort"));
    edPort->setGeometry(88, 80, 73, 24);
    edCommand = new QLineEdit(this);
    edCommand->setObjectName(QStringLiteral("edCommand"));
    edCommand->setGeometry(88, 112, 281, 24);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(168, 152, 89, 25);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(280, 152, 89, 25);

    QWidget::setTabOrder(btnOK, btnCancel);
    QWidget::setTabOrder(btnCancel, ProductID);
    QWidget::setTabOrder(ProductID, edUsers);
    QWidget::setTabOrder(edUsers, edPort);
    QWidget::setTabOrder(edPort, edCommand);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ProductID, &QComboBox::currentIndexChanged, this, &TAddListener::ProductIDChange);
    connect(ProductID, &QComboBox::editTextChanged, this, &TAddListener::ProductIDChange);

    // Enter in the Product box, or in its open list, presses OK like Enter in
    // every other field; the combo box would otherwise keep the key.
    ProductID->installEventFilter(this);
    ProductID->view()->installEventFilter(this);

    FormCreate();
}

void TAddListener::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Every opening starts on OK, the first control of the tab order.
    btnOK->setFocus(Qt::TabFocusReason);
}

bool TAddListener::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (enter && watched == ProductID && !ProductID->view()->isVisible()) {
            btnOK->click();
            return true;
        }
        if (enter && watched == ProductID->view()) {
            // The open list takes the highlighted item first, so that OK
            // sends it with its port and command.
            const QModelIndex highlighted = ProductID->view()->currentIndex();
            if (highlighted.isValid())
                ProductID->setCurrentIndex(highlighted.row());
            ProductID->hidePopup();
            btnOK->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAddListener::FormCreate()
{
    // The dialog is sized from its Cancel button: 60 pixels to the right of
    // and below it.
    resize(btnCancel->x() + btnCancel->width() + 60, btnCancel->y() + btnCancel->height() + 60);
}

void TAddListener::ProductIDChange()
{
    // An item counts as chosen only while the box shows its text; anything
    // typed over it is a product of the operator's own.
    const int index = ProductID->currentIndex();
    const bool chosen = index >= 0 && index < int(Products.size()) &&
                        ProductID->currentText() == ProductID->itemText(index);
    if (chosen) {
        edCommand->setText(QString::fromLatin1(Products[std::size_t(index)].Command));
        edPort->setText(QString::fromLatin1(Products[std::size_t(index)].Port));
    } else {
        edCommand->clear();
        edPort->clear();
    }
}
