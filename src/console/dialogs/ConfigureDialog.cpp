#include "console/dialogs/ConfigureDialog.h"

#include "console/dialogs/ScreenFit.h"

#include "config/ConnectionSettings.h"
#include "core/AppErrors.h"

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

QChar upperLatin1(QChar c)
{
    const QChar upper = c.toUpper();
    return upper.unicode() <= 0xFF ? upper : c;
}

// Applies the typing rules to one edit made by the operator. Only the typed
// (inserted) characters are touched: they lose anything Latin-1 cannot carry
// (the settings are single-byte text), become upper case where the box asks
// for it, and are cut so that the box does not grow past its limit. Text the
// program put into the box is never shortened or converted.
void enforceTyped(QLineEdit* box, const QString& edited)
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
        inserted.append(upper ? upperLatin1(c) : c);
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

QLineEdit* makeBox(QWidget* parent, const char* name, int left, int top, int width, int limit,
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
                     [box](const QString& text) { enforceTyped(box, text); });
    return box;
}

// A label keeps its design place: right-aligned against its box. The design
// widths were made for a narrower font than this platform's; a caption that
// does not fit grows to the left, and one that would leave the dialog is set
// in a slightly smaller font instead.
QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
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

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, kButtonHeight);
    return button;
}

void makePasswordBox(QLineEdit* box)
{
    box->setEchoMode(QLineEdit::Password);
    // Every character shows as '*'.
    box->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

} // namespace

ConfigureDialog::ConfigureDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("configureDialog"));
    keepOnScreen(this);
    setWindowTitle(QStringLiteral("ConfigureDlg"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    m_hostAddressEdit = makeBox(this, "hostAddressEdit", 80, 15, 266, 0, false);
    m_portEdit = makeBox(this, "portEdit", 80, 40, 71, 0, false);
    m_userEdit = makeBox(this, "userEdit", 80, 90, 71, 8, true);
    m_accountEdit = makeBox(this, "accountEdit", 80, 115, 71, 8, true);
    m_groupEdit = makeBox(this, "groupEdit", 80, 140, 71, 8, true);
    m_jobNameEdit = makeBox(this, "jobNameEdit", 80, 165, 71, 16, false);
    m_userPasswordEdit = makeBox(this, "userPasswordEdit", 275, 90, 71, 8, true);
    m_accountPasswordEdit = makeBox(this, "accountPasswordEdit", 275, 115, 71, 8, true);
    m_groupPasswordEdit = makeBox(this, "groupPasswordEdit", 275, 140, 71, 8, true);
    m_intervalEdit = makeBox(this, "intervalEdit", 275, 165, 71, 16, false);
    m_securityEdit = makeBox(this, "securityEdit", 80, 197, 265, 16, false);
    makePasswordBox(m_userPasswordEdit);
    makePasswordBox(m_accountPasswordEdit);
    makePasswordBox(m_groupPasswordEdit);
    m_securityEdit->setEnabled(false);

    makeLabel(this, "hostAddressLabel", "Host Name:", 17, 24, 56, m_hostAddressEdit);
    makeLabel(this, "portLabel", "Port:", 51, 48, 22, m_portEdit);
    makeLabel(this, "userLabel", "User:", 20, 95, 55, m_userEdit);
    makeLabel(this, "accountLabel", "Account:", 20, 120, 55, m_accountEdit);
    makeLabel(this, "groupLabel", "Group:", 20, 145, 55, m_groupEdit);
    makeLabel(this, "jobNameLabel", "Job Name:", 20, 170, 55, m_jobNameEdit);
    makeLabel(this, "userPasswordLabel", "User Password:", 170, 95, 100, m_userPasswordEdit);
    makeLabel(this, "accountPasswordLabel", "Account Password:", 170, 120, 100,
              m_accountPasswordEdit);
    makeLabel(this, "groupPasswordLabel", "Group Password:", 170, 145, 100, m_groupPasswordEdit);
    makeLabel(this, "intervalLabel", "Refresh Interval", 195, 170, 75, m_intervalEdit);
    makeLabel(this, "securityLabel", "Security/3000", 8, 202, 67, m_securityEdit)
        ->setEnabled(false);

    m_okButton = makeButton(this, "okButton", "&Ok", 78, 239, 75);
    m_cancelButton = makeButton(this, "cancelButton", "&Cancel", 171, 239, 75);
    m_loadButton = makeButton(this, "loadButton", "&Load", 264, 240, 81);
    m_okButton->setDefault(true);

    // Below the buttons, in the dialog's bottom margin: the SSH destination,
    // kept by the console per configuration file (not in the file).
    m_sshEdit = makeBox(this, "sshEdit", 80, 276, 266, 0, false);
    m_sshEdit->setPlaceholderText(QStringLiteral("[user@]host[:port]"));
    m_sshEdit->setToolTip(QStringLiteral(
        "Reach the host through an SSH tunnel to this destination; empty: connect directly"));
    makeLabel(this, "sshLabel", "SSH tunnel:", 8, 281, 67, m_sshEdit);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    // Esc and the close box reject the dialog too, as Cancel does.
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_loadButton, &QPushButton::clicked, this, &ConfigureDialog::loadRequested);

    // Tab order: host, security (disabled, skipped), port, user, account,
    // group, the three passwords, job name, interval, OK, Cancel, Load.
    QWidget* order[] = {m_hostAddressEdit,  m_securityEdit,        m_portEdit,
                        m_userEdit,         m_accountEdit,         m_groupEdit,
                        m_userPasswordEdit, m_accountPasswordEdit, m_groupPasswordEdit,
                        m_jobNameEdit,      m_intervalEdit,        m_okButton,
                        m_cancelButton,     m_loadButton,          m_sshEdit};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    m_hostAddressEdit->setFocus();

    // Sized from the Load button: its bottom edge plus 60 high, its right
    // edge plus 60 wide.
    const QRect load = m_loadButton->geometry();
    setFixedSize(load.left() + load.width() + 60, load.top() + load.height() + 60);
}

void ConfigureDialog::showSettings(const ConnectionSettings& settings)
{
    auto text = [](const QByteArray& bytes) { return QString::fromLatin1(bytes); };
    m_hostAddressEdit->setText(text(settings.HostAddress));
    m_portEdit->setText(QString::number(settings.Port));
    m_userEdit->setText(text(settings.User));
    m_userPasswordEdit->setText(text(settings.UserPassword));
    m_groupEdit->setText(text(settings.Group));
    m_groupPasswordEdit->setText(text(settings.GroupPassword));
    m_accountEdit->setText(text(settings.Account));
    m_accountPasswordEdit->setText(text(settings.AccountPassword));
    m_intervalEdit->setText(QString::number(settings.RefreshInterval / 1000));
    m_sshEdit->setText(settings.SshDestination);
}

void ConfigureDialog::takeSettings(ConnectionSettings& settings) const
{
    // The boxes hold only Latin-1 text (typed characters outside it are
    // dropped as they are typed), so this conversion loses nothing.
    auto bytes = [](const QLineEdit* box) { return box->text().toLatin1(); };
    // Each value replaces its setting at once: a conversion error leaves the
    // values taken before it changed.
    settings.User = bytes(m_userEdit);
    settings.UserPassword = bytes(m_userPasswordEdit);
    settings.AccountPassword = bytes(m_accountPasswordEdit);
    settings.GroupPassword = bytes(m_groupPasswordEdit);
    settings.Account = bytes(m_accountEdit);
    settings.Group = bytes(m_groupEdit);
    const std::int32_t port = StrToInt(bytes(m_portEdit));
    if (port < 0 || port > 65535)
        throw ERangeError();
    settings.Port = quint16(port);
    settings.HostAddress = bytes(m_hostAddressEdit);
    settings.RefreshInterval = std::clamp(StrToInt(bytes(m_intervalEdit)), 5, 60) * 1000;
    settings.SshDestination = m_sshEdit->text().trimmed();
}

int ConfigureDialog::typedLimit(const QLineEdit* box)
{
    return box->property(kLimit).toInt();
}

bool ConfigureDialog::typedUpperCase(const QLineEdit* box)
{
    return box->property(kUpper).toBool();
}

void ConfigureDialog::showEvent(QShowEvent* event)
{
    // Centred on the screen, not on the main window.
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
    // Every run starts in the first box, wherever the last one ended.
    m_hostAddressEdit->setFocus();
}
