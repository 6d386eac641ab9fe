#include "console/HostController.h"

#include "config/ConfigLocation.h"
#include "console/ConsoleSettings.h"
#include "console/EventLog.h"
#include "console/HostFileStore.h"
#include "console/HostPalette.h"
#include "console/Notifier.h"
#include "console/Prompts.h"
#include "console/dialogs/ConfigureDialog.h"
#include "console/dialogs/PasswordDialog.h"
#include "core/AppErrors.h"
#include "keyring/PasswordKeyring.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/KnownHostAdder.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"
#include "session/TrendCollector.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

namespace {

const QString ProductTitle = QStringLiteral("Orvanite Server Console");

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace

HostController::HostController(const Environment& environment, QWidget* dialogParent)
    : QObject(dialogParent), m_environment(environment), m_store(environment.store),
      m_session(new HostSession(this))
{
    Q_ASSERT(m_environment.prompts && m_environment.eventLog && m_store);
    setObjectName(QStringLiteral("hostController"));
    // Rows read before the link dropped stay on screen, greyed.
    m_session->setKeepRowsOnLinkLoss(true);
    m_files = new HostFileStore(m_store, m_environment.prompts, this);
    connect(m_files, &HostFileStore::recentFilesChanged, this, &HostController::recentFilesChanged);
    m_reconnector = new Reconnector(m_session, this);
    m_reconnector->setEnabled(m_store->autoReconnect());
    connect(m_reconnector, &Reconnector::attemptStarted, this, [this] { m_linkAttempt = true; });

    m_audit = new CommandAudit(m_session, QStringLiteral("orvanite-console"), this);
    m_audit->setObjectName(QStringLiteral("commandAudit"));
    // A line that cannot be written is told in the status line, and the
    // first time for each cause in a message box naming the file and why.
    // With the preference the command is not sent at all.
    m_audit->setRequired(m_store->requireAudit());
    connect(m_audit, &CommandAudit::writeFailed, this, &HostController::statusMessage);
    connect(
        m_audit, &CommandAudit::writeFailedFirstTime, this,
        [this](const QString& text) { m_environment.prompts->showMessage(text); },
        Qt::QueuedConnection);
    m_trendCollector = new TrendCollector(m_session, this);
    m_trendCollector->setObjectName(QStringLiteral("trendCollector"));
    m_notifier = new Notifier(m_session, this);
    m_notifier->setObjectName(QStringLiteral("notifier"));
    for (int k = 0; k < Notifier::KindCount; ++k) {
        const auto kind = Notifier::Kind(k);
        m_notifier->setEnabled(kind, m_store->preference(Notifier::settingsKey(kind), true));
    }
    connect(m_trendCollector, &TrendCollector::sampled, this, [this] {
        QHash<QByteArray, int> counts;
        for (const ListenerCensus& l : m_trendCollector->census().summary().perListener)
            counts.insert(l.pin, int(l.processes));
        m_notifier->setListenerCounts(counts);
        Q_EMIT summaryChanged();
    });

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    m_refreshTimer->setInterval(5000);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        // A tick while a command's dialog is open is skipped: the next one
        // comes. While the link is down there is nothing to list.
        if (!isBusy() && !m_dialogOpen &&
            m_session->linkState() == HostSession::LinkState::LoggedOn)
            m_session->refresh();
    });
    connectSession();

    m_configureDialog = new ConfigureDialog(dialogParent);
    connect(m_configureDialog, &ConfigureDialog::loadRequested, this, [this] {
        // A load that ended with an error (already shown) keeps the dialog
        // open for another try; otherwise it ends with OK.
        if (openConfigFile(false))
            m_configureDialog->accept();
    });

    if (!m_environment.arguments.isEmpty()) {
        // A path with a separator is used as it stands; a bare name is looked
        // for beside the program, then in the current folder.
        const ConfigLocation location = LocateConfigFile(
            m_environment.arguments.first(), m_environment.programPath, QDir::currentPath());
        m_settings.ConfigPath = location.Path;
        m_missingConfig = location.Missing;
    }
    m_caption = ProductTitle;
    showConfigPath();
    // Busy until the first connection has filled the tables.
    updateBusy();
}

HostController::~HostController()
{
    // The session ends with the host; nothing it says now reaches us, and
    // its last link change is no drop to tell the desktop about.
    m_session->disconnect(this);
    m_session->disconnect(m_notifier);
    m_session->quit();
    delete m_configureDialog; // made over the window, which outlives the host
}

void HostController::connectSession()
{
    HostSession* s = m_session;
    connect(s, &HostSession::busyChanged, this, &HostController::updateBusy);
    connect(s, &HostSession::logonProgress, this, &HostController::showProgress);
    connect(s, &HostSession::logonFailed, this, [this](HostSession::LogonResult result) {
        // An attempt to bring the link back tells in the status line.
        if (m_linkAttempt)
            return;
        if (result == HostSession::LogonResult::Refused)
            tellError(QStringLiteral("Invalid Login!"));
        else if (result == HostSession::LogonResult::Failed)
            tellError(QStringLiteral("Error creating server process!"));
    });
    connect(s, &HostSession::connectFinished, this, &HostController::connectFinished);
    connect(s, &HostSession::socketError, this, &HostController::showSocketError);
    connect(s, &HostSession::tunnelError, this, &HostController::showTunnelError);
    connect(s, &HostSession::unknownHostKey, this, &HostController::offerHostKey);
    connect(s, &HostSession::notices, this, [this](QStringList lines) {
        // What the work has to tell goes to the status line, after an error
        // that a host in the background told there during the same work.
        if (std::exchange(m_unseenInWork, false) && !m_unseenError.isEmpty())
            lines.prepend(m_unseenError);
        Q_EMIT statusMessage(lines.join(QLatin1Char(' ')));
    });
    connect(
        s, &HostSession::tableListEnded, this,
        [this](HostSession::ListEnd end, bool listeners) { tableListEnded(int(end), listeners); });
    connect(s, &HostSession::listenersChanged, this, &HostController::noteListsRead);
    connect(s, &HostSession::processesChanged, this, &HostController::noteListsRead);
    connect(s, &HostSession::linkStateChanged, this, [this] {
        if (m_session->linkState() == HostSession::LinkState::LoggedOn)
            m_everLoggedOn = true;
        Q_EMIT summaryChanged();
    });
    connect(m_reconnector, &Reconnector::statusChanged, this, &HostController::summaryChanged);
}

void HostController::start()
{
    if (m_started || m_startQueued)
        return;
    // The window paints first; the start-up then runs from the event loop.
    m_startQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_startQueued = false;
            m_started = true;
            guarded([this] { startUp(); });
        },
        Qt::QueuedConnection);
}

void HostController::startUp()
{
    if (isClosing())
        return;
    if (!m_missingConfig.isEmpty()) {
        // The operator named a file: an empty Configure dialog would hide the
        // mistake.
        m_environment.prompts->showMessage(m_missingConfig);
        close();
        return;
    }
    if (!m_settings.ConfigPath.isEmpty() && !loadConfigFile()) {
        setBusyReason(BusyReason::Connecting, false);
        return;
    }
    if (m_settings.HostAddress.isEmpty() && !editSettings())
        return;
    if (m_settings.HostAddress.isEmpty()) {
        close();
        return;
    }
    connectAndLogon();
}

void HostController::connectAndLogon()
{
    if (isClosing() || keyringLookupFirst())
        return;
    setBusyReason(BusyReason::Connecting, true);
    // Rows of another host are nothing to compare with.
    m_session->listeners()->forgetPreviousList();
    m_session->processes()->forgetPreviousList();
    m_session->setSettings(m_settings);
    Q_EMIT hostChanged();
    Q_EMIT summaryChanged();
    m_session->connectToHost();
}

void HostController::connectFinished(bool loggedOn)
{
    const bool attempt = std::exchange(m_linkAttempt, false);
    if (!loggedOn && attempt) {
        // The link stays down; the rows stay greyed and the status line
        // tells why and when the next attempt comes.
        setBusyReason(BusyReason::Connecting, false);
        return;
    }
    if (!loggedOn && m_hostKeys && m_hostKeys->isRunning())
        return; // connects again once the accepted key is in known_hosts
    if (!loggedOn && !m_shown) {
        // Closing a host in the background would take its tab away with
        // its error unread: it stays, its link down, and says why. A
        // connection its failed logon left open is ended as closing would.
        m_session->endFailedLogon();
        setBusyReason(BusyReason::Connecting, false);
        return;
    }
    if (!loggedOn) {
        close();
        return;
    }
    showConfigPath();
    if (m_settings.ConfigPath.isEmpty())
        setCaption(ProductTitle + QStringLiteral(" - (") + latin1(m_settings.HostAddress) +
                   QStringLiteral(")"));
    setBusyReason(BusyReason::Connecting, false);
    Q_EMIT connectionReady();
}

void HostController::showProgress(int step)
{
    const QString text = QStringLiteral("KELD32 00%1").arg(step);
    setCaption(text);
    m_environment.eventLog->report(text, 4, 3, 1000);
}

void HostController::showSocketError(int code, const QString& text)
{
    if (m_linkAttempt)
        return; // the reconnector shows it in the status line
    tellError(QStringLiteral("WINSOCK error: %1\n%2").arg(code).arg(text));
}

void HostController::tellError(const QString& text)
{
    if (m_shown) {
        m_environment.prompts->showMessage(text);
        return;
    }
    // One line in the status, as the link state is told there.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_unseenError = line;
    m_unseenInWork = m_session->isBusy();
    Q_EMIT unseenErrorChanged(line);
    Q_EMIT statusMessage(line);
    Q_EMIT summaryChanged();
}

void HostController::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (shown && !m_unseenError.isEmpty()) {
        // Its status line, now on show, still tells it.
        m_unseenError.clear();
        Q_EMIT unseenErrorChanged(QString());
        Q_EMIT summaryChanged();
    }
}

void HostController::offerHostKey(const QString& destination, const QString& fingerprint,
                                  const QString& host, quint16 port)
{
    // Its box says all the tunnel's message would: that one goes to the
    // status line.
    m_keyOffered = true;
    if (m_linkAttempt || isClosing())
        return;
    if (!m_environment.prompts->confirm(
            QStringLiteral("The SSH key of %1 (%2 port %3) is not known. Its fingerprint is\r%4\r"
                           "Add it to known_hosts and connect? Answer Yes only when the "
                           "fingerprint is the one its administrator gave you.")
                .arg(destination, host)
                .arg(port)
                .arg(fingerprint)))
        return;
    if (!m_hostKeys) {
        m_hostKeys = new KnownHostAdder(this);
        connect(m_hostKeys, &KnownHostAdder::finished, this,
                [this](bool ok, const QString& message) {
                    if (isClosing())
                        return;
                    if (ok) {
                        Q_EMIT statusMessage(message);
                        connectAndLogon();
                        return;
                    }
                    m_environment.prompts->showMessage(message);
                    if (m_session->linkState() != HostSession::LinkState::LoggedOn &&
                        !m_session->isBusy())
                        close();
                });
    }
    m_hostKeys->add(destination, {fingerprint, host, port});
}

void HostController::showTunnelError(const QString& text)
{
    if (std::exchange(m_keyOffered, false)) {
        Q_EMIT statusMessage(text);
        return;
    }
    // A tunnel that keeps failing for one cause (ssh killed at every drop)
    // is told in a box once for this host; after that, and while the link is
    // being brought back, in the status line.
    const QString cause = hostAddress() + u'\n' + text;
    if (m_linkAttempt || m_toldTunnelCauses.contains(cause)) {
        Q_EMIT statusMessage(text);
        return;
    }
    m_toldTunnelCauses.insert(cause);
    tellError(text);
}

void HostController::close()
{
    if (isClosing())
        return;
    // Once closing, nothing more is asked of the host and no new connection
    // is made; what waits is dropped.
    m_reconnector->hold();
    m_store->sync();
    setBusyReason(BusyReason::Closing, true);
    m_notifier->expectLinkEnd();
    m_session->quit();
    Q_EMIT closed();
}

bool HostController::connected() const
{
    return m_session->isConnected();
}

bool HostController::linkDown() const
{
    return m_everLoggedOn && m_session->linkState() != HostSession::LinkState::LoggedOn;
}

void HostController::setBusyReason(BusyReason reason, bool on)
{
    m_busy.setFlag(reason, on);
    updateBusy();
}

void HostController::updateBusy()
{
    m_busy.setFlag(BusyReason::Session, m_session->isBusy());
    applyBusy(isBusy());
}

void HostController::holdBusy()
{
    setBusyReason(BusyReason::Command, true);
}

void HostController::applyBusy(bool busy)
{
    if (busy) {
        m_refreshTimer->stop();
    } else {
        if (m_settings.RefreshInterval != m_appliedInterval && m_settings.RefreshInterval > 0) {
            m_appliedInterval = m_settings.RefreshInterval;
            m_refreshTimer->setInterval(m_appliedInterval);
        }
        if (m_paused)
            m_refreshTimer->stop();
        else if (!m_refreshTimer->isActive())
            m_refreshTimer->start();
    }
    if (busy != m_busyShown) {
        m_busyShown = busy;
        Q_EMIT busyChanged(busy);
    }
}

void HostController::guarded(const std::function<void()>& command)
{
    try {
        command();
    } catch (const EAppError& error) {
        // The command ends here; the operator is told and is not left with a
        // dead Refresh button.
        m_busy.setFlag(BusyReason::Command, false);
        m_busy.setFlag(BusyReason::Connecting, false);
        m_environment.prompts->showMessage(error.message());
        updateBusy();
    }
}

void HostController::run(const std::function<void()>& command)
{
    // Once closing, nothing more is asked of the host.
    if (isClosing())
        return;
    guarded(command);
    // A command that held the busy state for its dialog lets it go; the
    // session's own work keeps it where the command asked for some.
    if (m_busy.testFlag(BusyReason::Command))
        setBusyReason(BusyReason::Command, false);
}

void HostController::setCaption(const QString& caption)
{
    m_caption = caption;
    Q_EMIT captionChanged(caption);
}

void HostController::showConfigPath()
{
    if (!m_settings.ConfigPath.isEmpty())
        setCaption(ProductTitle + QStringLiteral(" - ") + m_settings.ConfigPath);
}

void HostController::tableListEnded(int end, bool listeners)
{
    // Only a list read whole dates the host's figures: rows of a list cut
    // short while the link stayed up are shown, but they are not the host's.
    const auto how = HostSession::ListEnd(end);
    const bool whole = how == HostSession::ListEnd::Complete ||
                       (!listeners && how == HostSession::ListEnd::NoSelection);
    if (!whole || m_session->linkState() != HostSession::LinkState::LoggedOn)
        return;
    if (listeners) {
        m_readListeners = m_session->listeners()->rows();
    } else {
        m_readProcesses = m_session->processes()->rows();
        m_readCpuMs = m_session->processes()->total();
    }
    m_lastRead = QDateTime::currentDateTime();
}

void HostController::noteListsRead()
{
    Q_EMIT listsRead();
    Q_EMIT summaryChanged();
}

void HostController::refresh()
{
    if (m_listStopped) {
        m_listStopped = false;
        setPaused(false);
    }
    // The operator asked: a connection out of step is renewed now, not
    // after the wait planned for the automatic refreshes.
    m_session->refreshNow();
}

void HostController::stopList()
{
    if (!m_session->isReadingList())
        return;
    // The same long list would start again with the next tick.
    m_listStopped = true;
    setPaused(true);
    m_session->stopList();
}

void HostController::relink(Drop drop)
{
    m_reconnector->hold();
    // The link goes down on purpose: nothing to tell the operator.
    if (m_session->linkState() != HostSession::LinkState::Disconnected)
        m_notifier->expectLinkEnd();
    if (drop == Drop::WithQuit)
        m_session->quit();
    else if (connected())
        m_session->disconnectFromHost();
}

void HostController::reconnect()
{
    relink(Drop::WithQuit);
    m_linkAttempt = true;
    m_session->setSettings(m_settings);
    m_reconnector->reconnectNow();
}

void HostController::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    updateBusy();
    Q_EMIT pausedChanged(paused);
    if (!paused && m_listStopped) {
        // Resumed after a stopped list: the link comes back and lists now.
        m_listStopped = false;
        refresh();
    } else if (!paused && m_session->linkState() == HostSession::LinkState::LoggedOn &&
               !m_dialogOpen && !isBusy()) {
        // However long the pause was, the lists on show are that old:
        // resuming lists at once rather than a whole interval later.
        refresh();
    }
}

bool HostController::loadConfigFile()
{
    if (m_settings.ConfigPath.isEmpty())
        return true;
    // The interval is the last value taken: an error leaves it (and the
    // timer) as they were.
    if (!m_files->load(m_settings))
        return false;
    m_refreshTimer->setInterval(m_settings.RefreshInterval);
    return true;
}

bool HostController::keyringLookupFirst()
{
    // A file that left its passwords to the keyring: they are looked up
    // before the connection is made, which goes on once the keyring answered.
    // Passwords kept there that cannot be read are asked for; without them
    // no logon is made.
    // An answer that comes after the operator turned to another file or
    // host (Configure while an unlock prompt waits) is not for this one.
    const QString path = m_settings.ConfigPath;
    const QString host = PasswordKeyring::hostLabel(m_settings);
    return m_files->lookUpPasswords(m_settings, [this, path,
                                                 host](const PasswordKeyring::Result& r) {
        if (isClosing() || m_settings.ConfigPath != path ||
            PasswordKeyring::hostLabel(m_settings) != host)
            return;
        if (r.outcome == PasswordKeyring::Outcome::Unreadable) {
            guarded([this, r] {
                if (askPasswords(r))
                    connectAndLogon();
                else
                    close();
            });
            return;
        }
        if (r.outcome == PasswordKeyring::Outcome::Done && PasswordKeyring::noPasswords(m_settings))
            PasswordKeyring::setPasswords(m_settings, r.passwords);
        connectAndLogon();
    });
}

bool HostController::askPasswords(const PasswordKeyring::Result& result)
{
    PasswordDialog dialog(qobject_cast<QWidget*>(parent()));
    dialog.ask(PasswordKeyring::notReadText(m_settings, result.message), result.levels);
    if (m_environment.prompts->runDialog(dialog) != QDialog::Accepted)
        return false;
    dialog.takePasswords(m_settings);
    if (dialog.rememberInKeyring())
        m_files->rememberPasswords(m_settings);
    return true;
}

bool HostController::editSettings()
{
    m_configureDialog->showSettings(m_settings);
    if (m_environment.prompts->runDialog(*m_configureDialog) != QDialog::Accepted) {
        close();
        return false;
    }
    // A value that cannot be taken ends the command with its message; the
    // values before it stay taken.
    const ConnectionSettings before = m_settings;
    m_configureDialog->takeSettings(m_settings);
    m_refreshTimer->setInterval(m_settings.RefreshInterval);
    // Another host brings its own route, unless the operator named one. When
    // the routes cannot be read the host is not connected at all.
    if ((m_settings.HostAddress != before.HostAddress || m_settings.Port != before.Port) &&
        m_settings.SshDestination == before.SshDestination)
        return m_files->takeRoute(m_settings);
    return true;
}

void HostController::switchToFile(const QString& path)
{
    const QString before = hostKey();
    relink(Drop::WithQuit);
    m_settings.ConfigPath = path;
    showConfigPath();
    if (!loadConfigFile())
        return;
    // Another host starts as at start-up: its first listener is the one
    // whose processes are shown.
    if (hostKey() != before)
        m_session->forgetSelectedListener();
    connectAndLogon();
}

bool HostController::openConfigFile(bool reconnect)
{
    const bool wasHeld = m_busy.testFlag(BusyReason::Command);
    holdBusy();
    const QString chosen = m_environment.prompts->chooseOpenFile(
        HostFileStore::dialogSetup(m_environment.programPath, m_settings.ConfigPath));
    bool ok = true;
    if (!chosen.isEmpty()) {
        const QString path = QFileInfo(chosen).absoluteFilePath();
        if (reconnect) {
            switchToFile(path);
        } else {
            m_settings.ConfigPath = path;
            showConfigPath();
            ok = loadConfigFile();
            if (ok)
                m_configureDialog->showSettings(m_settings);
        }
    }
    m_busy.setFlag(BusyReason::Command, wasHeld);
    updateBusy();
    return ok;
}

void HostController::loadConfiguration()
{
    openConfigFile(true);
}

void HostController::openRecent(const QString& path)
{
    // As File, Load with the file already chosen.
    holdBusy();
    switchToFile(path);
}

void HostController::saveConfiguration()
{
    if (m_settings.ConfigPath.isEmpty())
        return saveConfigurationAs();
    holdBusy();
    m_files->save(m_settings);
}

void HostController::saveConfigurationAs()
{
    holdBusy();
    const QString chosen = m_environment.prompts->chooseSaveFile(
        HostFileStore::dialogSetup(m_environment.programPath, m_settings.ConfigPath));
    if (!chosen.isEmpty()) {
        m_settings.ConfigPath = QFileInfo(chosen).absoluteFilePath();
        m_files->save(m_settings);
    }
}

void HostController::configure()
{
    relink(Drop::WithoutQuit);
    // No refresh runs while the dialog is open; the busy state is left as it is.
    QScopedValueRollback<bool> open(m_dialogOpen, true);
    // Another address or port is another host, which starts as at start-up.
    const QString before = hostAddress();
    // A cancelled dialog has closed the host: no new connection on the way out.
    if (!editSettings() || isClosing())
        return;
    if (hostAddress() != before)
        m_session->forgetSelectedListener();
    connectAndLogon();
}

QString HostController::hostName() const
{
    if (!m_settings.ConfigPath.isEmpty())
        return QFileInfo(m_settings.ConfigPath).completeBaseName();
    return hostAddress();
}

QString HostController::hostKey() const
{
    if (!m_settings.ConfigPath.isEmpty())
        return QFileInfo(m_settings.ConfigPath).absoluteFilePath();
    return hostAddress();
}

QString HostController::hostAddress() const
{
    if (m_settings.HostAddress.isEmpty())
        return QString();
    return latin1(m_settings.HostAddress) + QLatin1Char(':') + QString::number(m_settings.Port);
}

QString HostController::routeText() const
{
    if (m_settings.SshDestination.isEmpty())
        return QString();
    return QStringLiteral("via ") + m_settings.SshDestination;
}

QColor HostController::accent() const
{
    return HostPalette::colourFor(hostKey());
}

void HostController::setCountingEveryListener(bool on)
{
    m_countingEveryListener = on;
    m_trendCollector->setEnabled(m_trendsShown || on);
    Q_EMIT summaryChanged();
}

void HostController::setTrendsShown(bool shown)
{
    m_trendsShown = shown;
    m_trendCollector->setEnabled(shown || m_countingEveryListener);
}

HostController::Summary HostController::summary() const
{
    Summary s;
    s.name = hostName();
    s.accent = accent();
    s.link = m_reconnector->statusText();
    s.reconnections = m_reconnector->reconnections();
    s.route = m_settings.SshDestination;
    // Every listener's figures once the census has been taken; a host that
    // went down keeps them, marked stale.
    const CensusSummary& census = m_trendCollector->census().summary();
    if (m_trendCollector->isEnabled() && census.taken()) {
        s.everyListener = true;
        s.census = census;
        return s;
    }
    if (!m_lastRead.isValid())
        return s;
    // Until then, the selected listener's processes of the last lists read
    // whole, summed as they arrived.
    s.census.listeners = m_readListeners;
    s.census.processes = m_readProcesses;
    s.census.cpuMs = m_readCpuMs;
    s.census.takenAt = m_lastRead;
    s.census.stale = m_session->linkState() != HostSession::LinkState::LoggedOn;
    return s;
}
