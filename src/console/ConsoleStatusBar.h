#pragma once

#include <QStatusBar>

class QLabel;
class QPushButton;

// The window's status line. On the left what the last work had to say (a
// list's progress with its Stop button, notices); on the right the host, the
// link ("Connected", "Reconnecting in 8 s (…)", "Disconnected since …"),
// when the rows were last read, the row counts, what changed with the last
// refresh and a "Paused" mark while the timer is stopped by the operator.
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

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* addPart(const char* name, int stretch = 0);
    void elide();

    QLabel* m_message;
    QPushButton* m_stop;
    QLabel* m_accent;
    QLabel* m_host;
    QLabel* m_link;
    QLabel* m_refreshed;
    QLabel* m_counts;
    QLabel* m_changes;
    QLabel* m_paused;
};
