#include "Configur.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVariant>

#include <algorithm>

namespace {

// Dynamic properties of a box: the limits on typed text, and the last two
// texts it showed (so that an edit can be compared with what came before it,
// whichever of textChanged and textEdited Qt emits first).
constexpr const char* kLimit = "orvTypedLimit";
constexpr const char* kUpper = "orvTypedUpperCase";
constexpr const char* kCurrent = "orvCurrentText";
constexpr const char* kPrevious = "orvPreviousText";

constexpr int kEditHeight = 24;
constexpr int kButtonHeight = 25;
constexpr int kLabelHeight = 13;

QChar UpperLatin1(QChar c)
{
    const QChar upper = c.toUpper();
    return upper.unicode() <= 0xFF ? upper : c;
}

// Applies the typing rules to one edit made by the operator. Only the typed
// (inserted) characters are touched: they lose anything Latin-1 cannot carry
// (the settings are single-byte text), become upper case where the box asks
// for it, and are cut so that the box does not grow past its limit. Text the
// program put into the box is never shortened or converted.
void EnforceTyped(QLineEdit* box, const QString& edited)
{
    const QString now = box->property(kCurrent).toString();
    const QString old = (now == edited) ? box->property(kPrevious).toString() : now;
    const int limit = box->property(kLimit).toInt();
    const bool upper = box->property(kUpper).toBool();

    const qsizetype cursor = box->cursorPosition();
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(old.size(), edited.size());
    while (prefix < shorter && prefix < cursor && old[prefix] == edited[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && edited.size() - suffix > cursor &&
           old[old.size() - 1 - suffix] == edited[edited.size() - 1 - suffix])
        ++suffix;

    const qsizetype removed = old.size() - prefix - suffix;
    QString inserted;
    for (QChar c : edited.mid(prefix, edited.size() - prefix - suffix)) {
        if (c.unicode() > 0xFF)
            continue;
        inserted.append(upper ? UpperLatin1(c) : c);
    }
    if (limit > 0) {
        const qsizetype room = std::max<qsizetype>(0, limit - (old.size() - removed));
        if (inserted.size() > room)
            inserted.truncate(room);
    }

    const QString result = old.left(prefix) + inserted + old.right(suffix);
    if (result != edited) {
        box->setText(result);
        box->setCursorPosition(int(prefix + inserted.size()));
    }
}

QLineEdit* MakeBox(QWidget* parent, const char* name, int left, int top, int width, int limit,
                   bool upper)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(left, top, width, kEditHeight);
    box->setProperty(kLimit, limit);
    box->setProperty(kUpper, upper);
    box->setProperty(kCurrent, QString());
    box->setProperty(kPrevious, QString());
    QObject::connect(box, &QLineEdit::textChanged, box, [box](const QString& text) {
        box->setProperty(kPrevious, box->property(kCurrent));
        box->setProperty(kCurrent, text);
    });
    QObject::connect(box, &QLineEdit::textEdited, box,
                     [box](const QString& text) { EnforceTyped(box, text); });
    return box;
}

// A label keeps its design place: right-aligned against its box. The design
// widths were made for a narrower font than this platform's; a caption that
// does not fit grows to the left, and one that would leave the dialog is set
// in a slightly smaller font instead.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                  int width, QLineEdit* buddy)
{
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(buddy);
    const int right = left + width;
    constexpr int margin = 2;
    int needed = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    QFont f = label->font();
    while (needed > right - margin && f.pixelSize() > 8) {
        f.setPixelSize(f.pixelSize() - 1);
        label->setFont(f);
        needed = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    }
    const int shown = std::max(width, std::min(needed, right - margin));
    label->setGeometry(right - shown, top, shown, kLabelHeight);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, kButtonHeight);
    return button;
}

void MakePasswordBox(QLineEdit* box)
{
    box->setEchoMode(QLineEdit::Password);
    // Every character shows as '*'.
    box->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

} // namespace

TConfigureDlg::TConfigureDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ConfigureDlg"));
    setWindowTitle(QStringLiteral("ConfigureDlg"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    HostAddress = MakeBox(this, "HostAddress", 80, 15, 266, 0, false);
    Port = MakeBox(this, "Port", 80, 40, 71, 0, false);
    User = MakeBox(this, "User", 80, 90, 71, 8, true);
    Account = MakeBox(this, "Account", 80, 115, 71, 8, true);
    Group = MakeBox(this, "Group", 80, 140, 71, 8, true);
    JobName = MakeBox(this, "JobName", 80, 165, 71, 16, false);
    UP = MakeBox(this, "UP", 275, 90, 71, 8, true);
    AP = MakeBox(this, "AP", 275, 115, 71, 8, true);
    GP = MakeBox(this, "GP", 275, 140, 71, 8, true);
    edInterval = MakeBox(this, "edInterval", 275, 165, 71, 16, false);
    Security3000 = MakeBox(this, "Security3000", 80, 197, 265, 16, false);
    MakePasswordBox(UP);
    MakePasswordBox(AP);
    MakePasswordBox(GP);
    Security3000->setEnabled(false);

    lblHostAddress = MakeLabel(this, "lblHostAddress", "Host Name:", 17, 24, 56, HostAddress);
    lblPort = MakeLabel(this, "lblPort", "Port:", 51, 48, 22, Port);
    lblUser = MakeLabel(this, "lblUser", "User:", 20, 95, 55, User);
    lblAccount = MakeLabel(this, "lblAccount", "Account:", 20, 120, 55, Account);
    lblGroup = MakeLabel(this, "lblGroup", "Group:", 20, 145, 55, Group);
    lblJobName = MakeLabel(this, "lblJobName", "Job Name:", 20, 170, 55, JobName);
    lblUP = MakeLabel(this, "lblUP", "User Password:", 170, 95, 100, UP);
    lblAP = MakeLabel(this, "lblAP", "Account Password:", 170, 120, 100, AP);
    lblGP = MakeLabel(this, "lblGP", "Group Password:", 170, 145, 100, GP);
    lblInterval = MakeLabel(this, "lblInterval", "Refresh Interval", 195, 170, 75, edInterval);
    lblSecurity3000 = MakeLabel(this, "lblSecurity3000", "Security/3000", 8, 202, 67, Security3000);
    lblSecurity3000->setEnabled(false);

    OKBtn = MakeButton(this, "OKBtn", "&Ok", 78, 239, 75);
    CancelBtn = MakeButton(this, "CancelBtn", "&Cancel", 171, 239, 75);
    LoadBtn = MakeButton(this, "LoadBtn", "&Load", 264, 240, 81);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    // Esc and the close box reject the dialog too, as Cancel does.
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(LoadBtn, &QPushButton::clicked, this, &TConfigureDlg::LoadBtnClick);

    // Tab order: HostAddress, Security3000 (disabled, skipped), Port, User,
    // Account, Group, UP, AP, GP, JobName, edInterval, OK, Cancel, Load.
    QWidget* order[] = {HostAddress, Security3000, Port,       User,  Account,   Group,  UP, AP,
                        GP,          JobName,      edInterval, OKBtn, CancelBtn, LoadBtn};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    HostAddress->setFocus();

    FormCreate();
}

void TConfigureDlg::FormCreate()
{
    const QRect load = LoadBtn->geometry();
    const int height = load.top() + load.height() + 60;
    const int width = load.left() + load.width() + 60;
    setFixedSize(width, height);
}

void TConfigureDlg::LoadBtnClick()
{
    // A load that fails with an error keeps the dialog open: the operator has
    // seen the message and can correct the boxes or try another file.
    if (OpenConfigFile && !OpenConfigFile(2))
        return;
    accept();
}

int TConfigureDlg::TypedLimit(const QLineEdit* box)
{
    return box->property(kLimit).toInt();
}

bool TConfigureDlg::TypedUpperCase(const QLineEdit* box)
{
    return box->property(kUpper).toBool();
}

void TConfigureDlg::showEvent(QShowEvent* event)
{
    // Centred on the screen, not on the main window.
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
    // Every run starts in the first box, wherever the last one ended.
    HostAddress->setFocus();
}
