#include "About.h"

#include "VersionData.h"
#include "VersionInfo.h"

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

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
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

TAboutBox::TAboutBox(const QString& programPath, QWidget* parent)
    : QDialog(parent), m_programPath(programPath)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    resize(298, 209);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 161);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(23, 23, 38, 33);
    ProgramIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ProgramIcon->setPixmap(QIcon(QStringLiteral(":/orvanite/orvanite-console.png")).pixmap(32, 32));

    const int right = Panel1->width() - 8;
    ProductName = MakeLabel(Panel1, "ProductName", QStringLiteral("Orvanite Server Console"), 88,
                            16, right - 88);
    Version = MakeLabel(Panel1, "Version", QStringLiteral("Version: 2.0"), 88, 40, right - 88);
    Version2 = MakeLabel(Panel1, "Version2", QStringLiteral("Version2"), 88, 64, right - 88);
    Copyright = MakeLabel(Panel1, "Copyright", DesignCopyright(), 8, 88, right - 8);
    Comments = MakeLabel(Panel1, "Comments", QStringLiteral("Comments"), 8, 112, right - 8,
                         Panel1->height() - 112 - 8);
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(118, 178, 65, 26);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    // Idle until an interval is written.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TAboutBox::Timer1Timer);

    FormCreate();
}

QString TAboutBox::DesignCopyright()
{
    return QStringLiteral("Copyright (C) Orvanite Systems");
}

void TAboutBox::FormCreate()
{
    const QRect ok = OKButton->geometry();
    const QRect panel = Panel1->geometry();
    setFixedSize(panel.left() + panel.width() + 15, ok.top() + ok.height() + 40);

    QString versionText = QStringLiteral("Version: Unknown");
    const qint64 size = TVersionInfo::GetFileVersionInfoSize(m_programPath);
    QByteArray data;
    if (size > 0 && TVersionInfo::GetFileVersionInfo(m_programPath, size, data)) {
        const auto root = TVersionInfo::VerQueryValue(data, u"\\");
        if (root && root->data() && root->size() >= 16) {
            const quint32 ms = Le32(*root, 8);
            const quint32 ls = Le32(*root, 12);
            versionText = QStringLiteral("Version: %1.%2.%3.%4")
                              .arg(ms >> 16)
                              .arg(ms & 0xFFFF)
                              .arg(ls >> 16)
                              .arg(ls & 0xFFFF);
        }
        const auto translation = TVersionInfo::VerQueryValue(data, u"\\VarFileInfo\\Translation");
        if (translation && translation->size() >= 4) {
            const quint32 pair = Le32(*translation, 0);
            const QString block = QStringLiteral("%1%2")
                                      .arg(pair & 0xFFFF, 4, 16, QLatin1Char('0'))
                                      .arg(pair >> 16, 4, 16, QLatin1Char('0'))
                                      .toUpper();
            const auto legal = TVersionInfo::VerQueryValue(
                data, QStringLiteral("\\StringFileInfo\\%1\\LegalCopyright").arg(block));
            if (legal && legal->data()) {
                // A zero-terminated single-byte text; stop at the terminator.
                QByteArrayView text = *legal;
                const qsizetype end = text.indexOf('\0');
                if (end >= 0)
                    text = text.first(end);
                Copyright->setText(QStringLiteral("Copyright: ") + QString::fromLatin1(text));
            }
        }
    }
    Version2->setText(versionText);
}

void TAboutBox::SetCountdown(int milliseconds)
{
    if (milliseconds <= 0) {
        Timer1->stop();
        Timer1->setInterval(0);
        return;
    }
    Timer1->start(milliseconds);
}

int TAboutBox::Countdown() const
{
    return Timer1->isActive() ? Timer1->interval() : 0;
}

void TAboutBox::ShowModal()
{
    exec();
}

void TAboutBox::OKButtonClick()
{
    SetCountdown(0);
    accept();
}

void TAboutBox::Timer1Timer()
{
    SetCountdown(0);
    // On a hidden box (start-up with a configuration file) this has no effect.
    if (isVisible())
        done(QDialog::Rejected);
}

void TAboutBox::done(int result)
{
    // However the box ends (OK, Esc, the close box, the countdown), the
    // countdown stops, so that it cannot later close a box opened afresh.
    SetCountdown(0);
    QDialog::done(result);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
