#include "console/HostFileStore.h"

#include "config/ConfigFile.h"
#include "config/ConnectionSettings.h"
#include "config/HostRoutes.h"
#include "console/ConsoleSettings.h"
#include "console/Prompts.h"

#include <QDateTime>
#include <QFileInfo>

#include <utility>

HostFileStore::HostFileStore(ConsoleSettings* store, Prompts* prompts, QObject* parent)
    : QObject(parent), m_store(store), m_prompts(prompts)
{
    m_random.seed(std::mt19937::result_type(QDateTime::currentMSecsSinceEpoch()));
    migrateRoutes();
}

void HostFileStore::migrateRoutes()
{
    // Earlier versions kept a tunnel under its file's path, so a renamed file
    // lost it. Each is moved to the host its file names; one whose file
    // cannot be read stays where it is until it can.
    const QStringList paths = m_store->pathRouteFiles();
    if (paths.isEmpty())
        return;
    HostRoutes routes;
    if (!routes.load())
        return;
    QStringList moved;
    for (const QString& path : paths) {
        ConnectionSettings s;
        if (!loadConfig(path, s).ok())
            continue;
        if (routes.route(s.HostAddress, s.Port).isEmpty())
            routes.setRoute(s.HostAddress, s.Port, m_store->sshDestination(path));
        moved << path;
    }
    if (moved.isEmpty() || !routes.save())
        return;
    for (const QString& path : std::as_const(moved))
        m_store->setSshDestination(path, QString());
}

bool HostFileStore::takeRoute(ConnectionSettings& settings)
{
    QString why;
    if (HostRoutes::lookUp(settings.HostAddress, settings.Port, settings.SshDestination, why)) {
        // A route still kept the old way, by a file that could not be read
        // when routes moved to their hosts, is not dropped for a direct link.
        if (settings.SshDestination.isEmpty())
            settings.SshDestination = m_store->sshDestination(settings.ConfigPath);
        return true;
    }
    // Its route may be the one that could not be read: the host is not
    // reached directly instead.
    m_prompts->showMessage(why);
    return false;
}

bool HostFileStore::load(ConnectionSettings& settings)
{
    const ConfigResult result = loadConfig(settings.ConfigPath, settings);
    if (!result.ok()) {
        m_prompts->showMessage(result.message);
        return false;
    }
    if (!takeRoute(settings))
        return false;
    // A file without passwords asks the keyring when saves put them there,
    // or when this host's were put there once.
    m_lookupDue = PasswordKeyring::noPasswords(settings) &&
                  (m_store->keyringPasswords() || PasswordKeyring::movedToKeyring(settings));
    remember(settings.ConfigPath);
    return true;
}

void HostFileStore::save(const ConnectionSettings& settings)
{
    if (settings.ConfigPath.isEmpty())
        return;
    if (!m_store->keyringPasswords() || PasswordKeyring::noPasswords(settings)) {
        write(settings);
        return;
    }
    // A line the file could not take is refused before anything goes to
    // the keyring (the key's character does not change its length).
    ConnectionSettings bare = settings;
    PasswordKeyring::setPasswords(bare, {});
    if (ConfigLine(bare, '0').size() - 2 > LongestConfigLine) {
        m_prompts->showMessage(EConfigLineTooLong(settings.ConfigPath).message());
        return;
    }
    PasswordKeyring::store(settings, this, [this, settings](const PasswordKeyring::Result& r) {
        ConnectionSettings written = settings;
        if (r.outcome == PasswordKeyring::Outcome::Done)
            PasswordKeyring::setPasswords(written, {});
        else
            m_prompts->showMessage(PasswordKeyring::notStoredText(r.message));
        write(written);
    });
}

bool HostFileStore::lookUpPasswords(const ConnectionSettings& settings,
                                    std::function<void(const PasswordKeyring::Result&)> done)
{
    // Passwords typed since the load (Configure) are the operator's answer.
    if (!std::exchange(m_lookupDue, false) || !PasswordKeyring::noPasswords(settings))
        return false;
    PasswordKeyring::lookup(settings, settings.ConfigPath, this, std::move(done));
    return true;
}

void HostFileStore::rememberPasswords(const ConnectionSettings& settings)
{
    PasswordKeyring::store(settings, this, [this](const PasswordKeyring::Result& r) {
        if (r.outcome != PasswordKeyring::Outcome::Done)
            m_prompts->showMessage(
                QStringLiteral("The passwords could not be put in the desktop keyring (%1).")
                    .arg(r.message));
    });
}

void HostFileStore::remember(const QString& path)
{
    if (path.isEmpty())
        return;
    m_store->addRecentFile(QFileInfo(path).absoluteFilePath());
    Q_EMIT recentFilesChanged();
}

void HostFileStore::write(const ConnectionSettings& settings)
{
    const ConfigResult result = saveConfig(settings.ConfigPath, settings, m_random);
    if (!result.ok()) {
        m_prompts->showMessage(result.message);
        return;
    }
    remember(settings.ConfigPath);
    // The route is the host's: whichever file names the host finds it.
    HostRoutes routes;
    if (!routes.load() ||
        (routes.setRoute(settings.HostAddress, settings.Port, settings.SshDestination) &&
         !routes.save()))
        m_prompts->showMessage(routes.error());
}

FileDialogSetup HostFileStore::dialogSetup(const QString& programPath, const QString& configPath)
{
    FileDialogSetup setup;
    setup.title = QStringLiteral("Open Configuration File");
    QString folder = QFileInfo(programPath).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    setup.folder = folder;
    setup.fileName = configPath;
    setup.filters = {QStringLiteral("HCF Cfg Files(*.hcf)"), QStringLiteral("All Files(*.*)")};
    setup.defaultSuffix = QStringLiteral("HCF");
    return setup;
}
