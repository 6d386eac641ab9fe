#include "console/ConsoleStatusBar.h"

#include <QLabel>
#include <QPushButton>

ConsoleStatusBar::ConsoleStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(false);
    // The host's chip comes first, where the eye starts reading the line.
    m_accent = new QLabel(this);
    m_accent->setObjectName(QStringLiteral("accentLabel"));
    m_accent->setContentsMargins(6, 0, 6, 0);
    m_accent->setAutoFillBackground(true);
    m_accent->hide();
    addWidget(m_accent);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("stopListButton"));
    m_stop->setToolTip(QStringLiteral("Stop the list (Esc)"));
    m_stop->setMinimumWidth(1);
    m_stop->hide();
    addWidget(m_stop);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("statusLabel"));
    m_message->setMinimumWidth(0);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(m_message, 1);
    m_paused = addPart("pausedLabel");
    m_paused->setText(QStringLiteral("Paused"));
    QFont bold = m_paused->font();
    bold.setBold(true);
    m_paused->setFont(bold);
    m_paused->hide();
    m_host = addPart("hostLabel");
    m_link = addPart("linkLabel");
    // The state of the link is never cut short; the other parts give way.
    m_link->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    m_link->setMinimumWidth(0);
    m_refreshed = addPart("refreshedLabel");
    m_counts = addPart("countsLabel");
    m_changes = addPart("changesLabel");
    m_changes->hide();
}

void ConsoleStatusBar::setAccent(const QString& name, const QColor& colour)
{
    m_accent->setText(name);
    QPalette palette = m_accent->palette();
    palette.setColor(QPalette::Window, colour);
    // Dark text on a light colour, white on a dark one.
    palette.setColor(QPalette::WindowText, colour.lightness() > 140 ? Qt::black : Qt::white);
    m_accent->setPalette(palette);
    m_accent->setVisible(!name.isEmpty());
}

QLabel* ConsoleStatusBar::addPart(const char* name, int stretch)
{
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A narrow window cuts the parts short rather than growing for them.
    label->setMinimumWidth(1);
    addPermanentWidget(label, stretch);
    return label;
}

void ConsoleStatusBar::setMessage(const QString& text)
{
    m_message->setProperty("fullText", text);
    m_message->setToolTip(text);
    elide();
}

void ConsoleStatusBar::elide()
{
    const QString text = m_message->property("fullText").toString();
    m_message->setText(
        m_message->fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, m_message->width())));
}

void ConsoleStatusBar::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    elide();
}

void ConsoleStatusBar::setHost(const QString& host)
{
    m_host->setText(host);
    m_host->setVisible(!host.isEmpty());
}

void ConsoleStatusBar::setLink(const QString& text, bool up)
{
    m_link->setText(text);
    // A link that is down is the one thing here that must catch the eye.
    QFont font = m_link->font();
    font.setBold(!up);
    m_link->setFont(font);
}

void ConsoleStatusBar::setRefreshed(const QString& text)
{
    m_refreshed->setText(text);
}

void ConsoleStatusBar::setCounts(const QString& text)
{
    m_counts->setText(text);
}

void ConsoleStatusBar::setChanges(const QString& text)
{
    m_changes->setText(text);
    m_changes->setVisible(!text.isEmpty());
}

void ConsoleStatusBar::setPaused(bool paused)
{
    m_paused->setVisible(paused);
}

void ConsoleStatusBar::setStopVisible(bool visible)
{
    m_stop->setVisible(visible);
}
