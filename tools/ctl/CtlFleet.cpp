#include "CtlFleet.h"

#include "CtlSession.h"

#include <QEventLoop>
#include <QMetaObject>

struct CtlFleet::Job
{
    enum class Step
    {
        Open,
        List,
        Listeners,
        Processes,
        Done,
    };

    const CtlFleetHost* host = nullptr;
    std::unique_ptr<CtlSession> session;
    Step step = Step::Open;
    bool summary = false;
    RecordSink* sink = nullptr;
    HostCensus census;
    std::size_t nextListener = 0;
    QString firstMessage;
    CtlHostSummary result;
};

CtlFleet::CtlFleet(QList<CtlFleetHost> hosts, std::optional<int> timeoutSeconds,
                   std::optional<int> listTimeoutSeconds, QObject* parent)
    : QObject(parent), m_hosts(std::move(hosts)), m_timeout(timeoutSeconds),
      m_listTimeout(listTimeoutSeconds)
{
}

CtlFleet::~CtlFleet() = default;

CtlExit CtlFleet::readLists(char letter, const std::optional<QByteArray>& argument,
                            Wire::RecordKind kind, const QList<RecordSink*>& sinks)
{
    return run(false, letter, argument, kind, sinks);
}

QList<CtlHostSummary> CtlFleet::summaries(CtlExit& status)
{
    status = run(true, Wire::GetListeners, std::nullopt, Wire::RecordKind::Listener, {});
    QList<CtlHostSummary> out;
    for (const std::unique_ptr<Job>& job : m_jobs)
        out << job->result;
    return out;
}

void CtlFleet::interrupt()
{
    m_interrupted = true;
    for (const std::unique_ptr<Job>& job : m_jobs) {
        if (job->session)
            job->session->interrupt();
    }
    if (m_loop)
        m_loop->quit();
}

CtlExit CtlFleet::run(bool summary, char letter, const std::optional<QByteArray>& argument,
                      Wire::RecordKind kind, const QList<RecordSink*>& sinks)
{
    m_jobs.clear();
    m_running = 0;
    m_letter = letter;
    m_argument = argument;
    m_kind = kind;
    for (qsizetype i = 0; i < m_hosts.size(); ++i) {
        auto job = std::make_unique<Job>();
        Job& j = *job;
        j.host = &m_hosts[i];
        j.summary = summary;
        j.sink = summary ? nullptr : sinks.value(i);
        j.result.name = j.host->name;
        j.result.route = j.host->settings.SshDestination;
        m_jobs.push_back(std::move(job));
        ++m_running;
        if (!j.host->fault.isEmpty()) {
            Q_EMIT message(QStringLiteral("%1: %2").arg(j.host->name, j.host->fault));
            j.firstMessage = j.host->fault;
            finish(j, j.host->faultStatus);
            continue;
        }
        j.session = std::make_unique<CtlSession>(j.host->settings, m_timeout, m_listTimeout);
        connect(j.session.get(), &CtlSession::message, this, [this, &j](const QString& text) {
            if (j.firstMessage.isEmpty())
                j.firstMessage = text;
            for (const QString& line : text.split(u'\n'))
                Q_EMIT message(QStringLiteral("%1: %2").arg(j.host->name, line));
        });
        // Taken up from the loop, not inside the session's own signal.
        connect(
            j.session.get(), &CtlSession::idle, this, [this, &j] { advance(j); },
            Qt::QueuedConnection);
        j.session->beginOpen();
        afterBegin(j);
    }
    if (m_running > 0 && !m_interrupted) {
        runCtlLoop(m_loop);
    }
    if (m_interrupted)
        return CtlExit::Interrupted;
    for (const std::unique_ptr<Job>& job : m_jobs) {
        if (job->result.status != CtlExit::Success)
            return job->result.status;
    }
    return CtlExit::Success;
}

void CtlFleet::afterBegin(Job& job)
{
    // A begin with nothing to do leaves the session idle at once.
    if (!job.session->isBusy())
        QMetaObject::invokeMethod(
            this, [this, &job] { advance(job); }, Qt::QueuedConnection);
}

void CtlFleet::advance(Job& job)
{
    CtlExit status = CtlExit::Success;
    switch (job.step) {
    case Job::Step::Done:
        return;
    case Job::Step::Open:
        status = job.session->openResult();
        if (status != CtlExit::Success)
            return finish(job, status);
        if (job.summary) {
            job.step = Job::Step::Listeners;
            job.census.begin();
            job.session->beginList(Wire::GetListeners, std::nullopt, Wire::RecordKind::Listener,
                                   job.census.listenerSink());
        } else {
            job.step = Job::Step::List;
            job.session->beginList(m_letter, m_argument, m_kind, *job.sink);
        }
        return afterBegin(job);
    case Job::Step::List:
        return finish(job, job.session->listResult());
    case Job::Step::Listeners:
        status = job.session->listResult();
        if (status != CtlExit::Success)
            return finish(job, status);
        job.nextListener = 0;
        return beginProcesses(job);
    case Job::Step::Processes:
        status = job.session->listResult();
        if (status != CtlExit::Success)
            return finish(job, status);
        ++job.nextListener;
        return beginProcesses(job);
    }
}

void CtlFleet::beginProcesses(Job& job)
{
    if (job.nextListener >= job.census.listeners().size())
        return finish(job, CtlExit::Success);
    job.step = Job::Step::Processes;
    job.session->beginList(Wire::GetProcesses, job.census.listeners()[job.nextListener].pin,
                           Wire::RecordKind::Process, job.census.processSink(job.nextListener));
    afterBegin(job);
}

void CtlFleet::finish(Job& job, CtlExit status)
{
    job.step = Job::Step::Done;
    CtlHostSummary& r = job.result;
    r.status = status;
    if (status == CtlExit::Success) {
        job.census.complete();
        r.census = job.census.summary();
        r.link = QStringLiteral("connected");
    } else {
        job.census.abandon();
        r.link = job.firstMessage.isEmpty() ? QStringLiteral("not listed")
                                            : QString(job.firstMessage).replace(u'\n', u' ');
    }
    if (job.session)
        job.session->close();
    if (--m_running == 0 && m_loop)
        m_loop->quit();
}
