#include "console/ConsoleStatusBar.h"

#include "console/HostPalette.h"

#include <QLabel>
#include <QPushButton>

namespace {

// The status bar's own layout: 2 pixels before the first item, 4 after the
// last and 6 between items (the stretch between the left and the right
// side counts as one).
constexpr int LayoutEnds = 2 + 4;
constexpr int ItemSpacing = 6;

// The text a part has to say, empty when it says nothing now.
QString partText(const QLabel* label)
{
    const QVariant full = label->property("fullText");
    return full.isValid() ? full.toString() : label->text();
}

} // namespace

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
    m_stop->hide();
    addWidget(m_stop);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("statusLabel"));
    m_message->setMinimumWidth(0);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_message->setProperty("fullText", QString());
    m_message->hide();
    addWidget(m_message, 1);
    m_paused = addPart("pausedLabel");
    QFont bold = m_paused->font();
    bold.setBold(true);
    m_paused->setFont(bold);
    m_host = addPart("hostLabel");
    m_link = addPart("linkLabel");
    m_refreshed = addPart("refreshedLabel");
    m_counts = addPart("countsLabel");
    m_changes = addPart("changesLabel");
}

void ConsoleStatusBar::setAccent(const QString& name, const QColor& colour)
{
    QPalette palette = m_accent->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, HostPalette::textOn(colour));
    m_accent->setPalette(palette);
    setPart(m_accent, name);
}

QLabel* ConsoleStatusBar::addPart(const char* name, int stretch)
{
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Shown whole or not at all: fit() leaves out what does not fit, so the
    // layout has room for the rest; the line never holds the window wide.
    label->setMinimumWidth(1);
    label->hide();
    addPermanentWidget(label, stretch);
    return label;
}

void ConsoleStatusBar::setPart(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    fit();
}

void ConsoleStatusBar::setMessage(const QString& text)
{
    m_message->setProperty("fullText", text);
    fit();
}

QString ConsoleStatusBar::elideWords(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const QString ellipsis(QChar(0x2026));
    QString best;
    qsizetype from = 0;
    for (;;) {
        const qsizetype space = text.indexOf(QLatin1Char(' '), from);
        if (space < 0)
            break;
        const QString candidate = text.left(space) + ellipsis;
        if (space > 0 && metrics.horizontalAdvance(candidate) > width)
            break;
        if (space > 0)
            best = candidate;
        from = space + 1;
    }
    return best;
}

void ConsoleStatusBar::fit()
{
    int left = width() - LayoutEnds - ItemSpacing; // the stretch between the sides
    auto take = [&left](int w) { left -= w + ItemSpacing; };
    if (!m_accent->text().isEmpty())
        take(m_accent->sizeHint().width());
    if (m_stopWanted)
        take(m_stop->sizeHint().width());

    // The pause mark and the link stay whatever the width: the link cut
    // between words when even it is too wide alone.
    QList<QLabel*> shown;
    if (!m_paused->text().isEmpty()) {
        take(m_paused->sizeHint().width());
        shown.append(m_paused);
    }
    const QFontMetrics linkMetrics = m_link->fontMetrics();
    const int linkMargins =
        m_link->sizeHint().width() - linkMetrics.horizontalAdvance(m_link->text());
    const QString linkShown =
        elideWords(partText(m_link), linkMetrics, left - ItemSpacing - linkMargins);
    if (m_link->text() != linkShown)
        m_link->setText(linkShown);
    if (!linkShown.isEmpty()) {
        take(m_link->sizeHint().width());
        shown.append(m_link);
    }

    // Then the message: all of it while a list runs (its progress beside
    // the Stop button), else at least its first word.
    const QString message = m_message->property("fullText").toString();
    const QFontMetrics metrics = m_message->fontMetrics();
    const qsizetype firstSpace = message.indexOf(QLatin1Char(' '));
    const int messageNeed =
        message.isEmpty() ? 0
        : m_stopWanted    ? metrics.horizontalAdvance(message)
                          : metrics.horizontalAdvance(
                                firstSpace < 0 ? message : message.left(firstSpace) + QChar(0x2026));
    int reserved = 0;
    if (messageNeed > 0)
        reserved = std::min(std::max(0, left), messageNeed + ItemSpacing);
    left -= reserved;

    // The rest, the least needed last: the counts, the host, the time of
    // the last read, what changed.
    for (QLabel* part : {m_counts, m_host, m_refreshed, m_changes}) {
        if (part->text().isEmpty())
            continue;
        const int w = part->sizeHint().width();
        if (w + ItemSpacing <= left) {
            take(w);
            shown.append(part);
        }
    }
    const QString messageShown =
        reserved > 0 ? elideWords(message, metrics, reserved - ItemSpacing + std::max(0, left))
                     : QString();

    m_accent->setVisible(!m_accent->text().isEmpty());
    m_stop->setVisible(m_stopWanted);
    m_message->setText(messageShown);
    m_message->setVisible(!messageShown.isEmpty());
    for (QLabel* part : {m_paused, m_link, m_counts, m_host, m_refreshed, m_changes})
        part->setVisible(shown.contains(part));
    setToolTip(wholeText());
}

QString ConsoleStatusBar::shownText() const
{
    QStringList parts;
    for (QWidget* w : {static_cast<QWidget*>(m_accent), static_cast<QWidget*>(m_stop),
                       static_cast<QWidget*>(m_message), static_cast<QWidget*>(m_paused),
                       static_cast<QWidget*>(m_host), static_cast<QWidget*>(m_link),
                       static_cast<QWidget*>(m_refreshed), static_cast<QWidget*>(m_counts),
                       static_cast<QWidget*>(m_changes)}) {
        if (w->isHidden())
            continue;
        if (const auto* label = qobject_cast<QLabel*>(w))
            parts.append(label->text());
        else
            parts.append(QStringLiteral("[") + static_cast<QPushButton*>(w)->text() +
                         QStringLiteral("]"));
    }
    return parts.join(QStringLiteral(" | "));
}

QString ConsoleStatusBar::wholeText() const
{
    QStringList lines;
    for (const QLabel* part :
         {m_accent, m_message, m_paused, m_host, m_link, m_refreshed, m_counts, m_changes}) {
        const QString text = partText(part);
        if (!text.isEmpty())
            lines.append(text);
    }
    return lines.join(QLatin1Char('\n'));
}

void ConsoleStatusBar::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    fit();
}

void ConsoleStatusBar::setHost(const QString& host)
{
    setPart(m_host, host);
}

void ConsoleStatusBar::setLink(const QString& text, bool up)
{
    // A link that is down is the one thing here that must catch the eye.
    QFont font = m_link->font();
    const bool fontChanged = font.bold() != !up;
    if (fontChanged) {
        font.setBold(!up);
        m_link->setFont(font);
    }
    if (!fontChanged && partText(m_link) == text)
        return;
    m_link->setProperty("fullText", text);
    m_link->setText(text);
    fit();
}

void ConsoleStatusBar::setRefreshed(const QString& text)
{
    setPart(m_refreshed, text);
}

void ConsoleStatusBar::setCounts(const QString& text)
{
    setPart(m_counts, text);
}

void ConsoleStatusBar::setChanges(const QString& text)
{
    setPart(m_changes, text);
}

void ConsoleStatusBar::setPaused(bool paused)
{
    setPart(m_paused, paused ? QStringLiteral("Paused") : QString());
}

void ConsoleStatusBar::setStopVisible(bool visible)
{
    if (visible == m_stopWanted)
        return;
    m_stopWanted = visible;
    fit();
}
