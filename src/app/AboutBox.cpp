#include "app/AboutBox.h"

#include "app/VersionData.h"
#include "app/VersionInfo.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace {

constexpr int kLabelHeight = 13;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width, int height = kLabelHeight)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(left, top, width, height);
    return label;
}

quint32 Le32(QByteArrayView v, qsizetype at)
{
    quint32 x = 0;
    for (int k = 3; k >= 0; --k)
        x = (x << 8) | static_cast<unsigned char>(v[at + k]);
    return x;
}

} // namespace

AboutBox::AboutBox(const QString& programPath, QWidget* parent)
    : QDialog(parent), m_programPath(programPath)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("About"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    resize(298, 209);

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("panel"));
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel->setGeometry(8, 8, 281, 161);

    m_programIcon = new QLabel(m_panel);
    m_programIcon->setObjectName(QStringLiteral("programIcon"));
    m_programIcon->setGeometry(23, 23, 38, 33);
    m_programIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_programIcon->setPixmap(
        QIcon(QStringLiteral(":/orvanite/orvanite-console.png")).pixmap(32, 32));

    const int right = m_panel->width() - 8;
    m_productName = makeLabel(m_panel, "productName", QStringLiteral("Orvanite Server Console"), 88,
                              16, right - 88);
    m_version = makeLabel(m_panel, "version", QStringLiteral("Version: 2.0"), 88, 40, right - 88);
    m_version2 = makeLabel(m_panel, "version2", QStringLiteral("Version2"), 88, 64, right - 88);
    m_copyright = makeLabel(m_panel, "copyright", designCopyright(), 8, 88, right - 8);
    m_comments = makeLabel(m_panel, "comments", QStringLiteral("Comments"), 8, 112, right - 8,
                           m_panel->height() - 112 - 8);
    m_comments->setWordWrap(true);
    m_comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setGeometry(118, 178, 65, 26);
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &AboutBox::okClicked);

    // Idle until an interval is written.
    m_countdown = new QTimer(this);
    m_countdown->setObjectName(QStringLiteral("countdown"));
    m_countdown->setSingleShot(true);
    connect(m_countdown, &QTimer::timeout, this, &AboutBox::countdownEnded);

    showVersionData();
}

QString AboutBox::designCopyright()
{
    return QStringLiteral("Copyright (C) Orvanite Systems");
}

void AboutBox::showVersionData()
{
    const QRect ok = m_okButton->geometry();
    const QRect panel = m_panel->geometry();
    setFixedSize(panel.left() + panel.width() + 15, ok.top() + ok.height() + 40);

    QString versionText = QStringLiteral("Version: Unknown");
    const qint64 size = VersionInfo::fileVersionInfoSize(m_programPath);
    QByteArray data;
    if (size > 0 && VersionInfo::fileVersionInfo(m_programPath, size, data)) {
        const auto root = VersionInfo::queryValue(data, u"\\");
        if (root && root->data() && root->size() >= 16) {
            const quint32 ms = Le32(*root, 8);
            const quint32 ls = Le32(*root, 12);
            versionText = QStringLiteral("Version: %1.%2.%3.%4")
                              .arg(ms >> 16)
                              .arg(ms & 0xFFFF)
                              .arg(ls >> 16)
                              .arg(ls & 0xFFFF);
        }
        const auto translation = VersionInfo::queryValue(data, u"\\VarFileInfo\\Translation");
        if (translation && translation->size() >= 4) {
            const quint32 pair = Le32(*translation, 0);
            const QString block = QStringLiteral("%1%2")
                                      .arg(pair & 0xFFFF, 4, 16, QLatin1Char('0'))
                                      .arg(pair >> 16, 4, 16, QLatin1Char('0'))
                                      .toUpper();
            const auto legal = VersionInfo::queryValue(
                data, QStringLiteral("\\StringFileInfo\\%1\\LegalCopyright").arg(block));
            if (legal && legal->data()) {
                // A zero-terminated single-byte text; stop at the terminator.
                QByteArrayView text = *legal;
                const qsizetype end = text.indexOf('\0');
                if (end >= 0)
                    text = text.first(end);
                m_copyright->setText(QStringLiteral("Copyright: ") + QString::fromLatin1(text));
            }
        }
    }
    m_version2->setText(versionText);
}

void AboutBox::setCountdown(int milliseconds)
{
    if (milliseconds <= 0) {
        m_countdown->stop();
        m_countdown->setInterval(0);
        return;
    }
    m_countdown->start(milliseconds);
}

int AboutBox::countdown() const
{
    return m_countdown->isActive() ? m_countdown->interval() : 0;
}

void AboutBox::showModal()
{
    exec();
}

void AboutBox::okClicked()
{
    setCountdown(0);
    accept();
}

void AboutBox::countdownEnded()
{
    setCountdown(0);
    // On a hidden box (start-up with a configuration file) this has no effect.
    if (isVisible())
        done(QDialog::Rejected);
}

void AboutBox::done(int result)
{
    // However the box ends (OK, Esc, the close box, the countdown), the
    // countdown stops, so that it cannot later close a box opened afresh.
    setCountdown(0);
    QDialog::done(result);
}

void AboutBox::showEvent(QShowEvent* event)
{
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void AboutBox::setVersionText(const QString& text)
{
    m_version->setText(text);
}

void AboutBox::showFromHelp()
{
    setCountdown(10000);
    showModal();
}
