#pragma once

#include <QStatusBar>

class QLabel;
class QPushButton;

// The window's status line. On the left what the last work had to say (a
// list's progress with its Stop button, notices); on the right the host, the
// link ("Connected", "Reconnecting in 8 s (…)", "Disconnected since …"),
// when the rows were last read, the row counts, what changed with the last
// refresh and a "Paused" mark while the timer is stopped by the operator.
//
// A part that does not fit is left out whole, the least needed first (what
// changed, the time of the last read, the host, the counts); the link, the
// pause mark and the Stop button always stay. The message takes the room
// left and is cut only between words. The tooltip has the whole line.
class ConsoleStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit ConsoleStatusBar(QWidget* parent = nullptr);

    QPushButton* stopButton() const { return m_stop; }
    // The message on the left; the whole text stays in the "fullText"
    // property and the tooltip when it is cut to fit.
    void setMessage(const QString& text);
    void setHost(const QString& host);
    void setLink(const QString& text, bool up);
    // The last good refresh, or the time the kept rows were read.
    void setRefreshed(const QString& text);
    void setCounts(const QString& text);
    void setChanges(const QString& text);
    void setPaused(bool paused);
    void setStopVisible(bool visible);
    // The host's name on its accent colour, first on the right; an empty
    // name hides it.
    void setAccent(const QString& name, const QColor& colour);

    // The parts as shown, left to right, joined by " | " (for the eye and
    // for tests).
    QString shownText() const;
    // Every part that has something to say, whether shown or not, a line each.
    QString wholeText() const;
    // text cut after its last whole word that fits in width with "…"; empty
    // when not even the first word fits.
    static QString elideWords(const QString& text, const QFontMetrics& metrics, int width);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* addPart(const char* name, int stretch = 0);
    void setPart(QLabel* label, const QString& text);
    // Decides which parts are shown at the present width.
    void fit();

    QLabel* m_message;
    QPushButton* m_stop;
    QLabel* m_accent;
    QLabel* m_host;
    QLabel* m_link;
    QLabel* m_refreshed;
    QLabel* m_counts;
    QLabel* m_changes;
    QLabel* m_paused;
    bool m_stopWanted = false;
};
