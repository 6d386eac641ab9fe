#include "console/ListProgress.h"

#include "console/ConsoleStatusBar.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QLocale>
#include <QTimer>

#include <algorithm>

ListProgress::ListProgress(HostSession* session, ConsoleStatusBar* bar, QObject* parent)
    : QObject(parent), m_session(session), m_bar(bar), m_poll(new QTimer(this))
{
    m_poll->setInterval(UpdateMs);
    connect(m_poll, &QTimer::timeout, this, &ListProgress::poll);
    // Only while the session works is there a list to watch.
    connect(session, &HostSession::busyChanged, this, [this](bool busy) {
        if (busy)
            m_poll->start();
        else
            m_poll->stop();
    });
    connect(session, &HostSession::processListRequested, this, [this] { m_processes = true; });
    connect(session, &HostSession::listProgress, this,
            [this](int records) { m_reported = records; });
    connect(session, &HostSession::listEnded, this, &ListProgress::listEnded);
}

void ListProgress::poll()
{
    if (!m_session->isReadingList()) {
        m_since.invalidate();
        return;
    }
    if (!m_since.isValid())
        m_since.start();
    if (m_since.elapsed() < ShowAfterMs)
        return;
    // The process list is told by the session as it is asked for; a list
    // of listeners fills the listener table; any other list (counted into
    // the trends) is told only by its progress.
    const int listeners = m_session->listeners()->pendingRows();
    QString noun;
    int count = 0;
    if (m_processes) {
        noun = QStringLiteral("processes");
        count = m_session->processes()->pendingRows();
    } else if (listeners > 0) {
        noun = QStringLiteral("listeners");
        count = listeners;
    } else {
        noun = QStringLiteral("records");
        count = m_reported;
    }
    count = std::max(count, m_reported);
    m_text =
        QStringLiteral("Listing %1\u2026 %2").arg(noun, QLocale(QLocale::English).toString(count));
    m_bar->setMessage(m_text);
    m_bar->setStopVisible(true);
}

void ListProgress::listEnded()
{
    m_since.invalidate();
    m_processes = false;
    m_reported = 0;
    if (m_text.isEmpty())
        return;
    m_text.clear();
    m_bar->setStopVisible(false);
    m_bar->setMessage(QString());
}
