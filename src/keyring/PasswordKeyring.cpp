#include "keyring/PasswordKeyring.h"

#include "config/ConnectionSettings.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <qt6keychain/keychain.h>

namespace PasswordKeyring {

namespace {

// One entry per file: the three passwords as a small JSON object of
// Latin-1 texts (the fields are single-byte text).
QString encode(const Passwords& p)
{
    QJsonObject o;
    o.insert(QStringLiteral("user"), QString::fromLatin1(p.user));
    o.insert(QStringLiteral("group"), QString::fromLatin1(p.group));
    o.insert(QStringLiteral("account"), QString::fromLatin1(p.account));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool decode(const QString& text, Passwords& p)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    p.user = o.value(QStringLiteral("user")).toString().toLatin1();
    p.group = o.value(QStringLiteral("group")).toString().toLatin1();
    p.account = o.value(QStringLiteral("account")).toString().toLatin1();
    return true;
}

QString keyFor(const QString& configPath)
{
    return QFileInfo(configPath).absoluteFilePath();
}

Result resultOf(const QKeychain::Job& job)
{
    Result r;
    switch (job.error()) {
    case QKeychain::NoError:
        r.outcome = Outcome::Done;
        break;
    case QKeychain::EntryNotFound:
        r.outcome = Outcome::NotFound;
        break;
    default:
        r.outcome = Outcome::NoService;
        r.message = job.errorString();
        if (r.message.isEmpty())
            r.message = QStringLiteral("no secret service answered");
        break;
    }
    return r;
}

template <typename JobT>
JobT* makeJob(const QString& configPath, QObject* context, std::function<void(const Result&)> done,
              std::function<void(JobT&, Result&)> finish)
{
    auto* job = new JobT(service());
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(keyFor(configPath));
    QPointer<QObject> guard(context);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [job, guard, done = std::move(done), finish = std::move(finish)] {
                         if (!guard)
                             return;
                         Result r = resultOf(*job);
                         if (finish)
                             finish(*job, r);
                         done(r);
                     });
    return job;
}

} // namespace

QString service()
{
    return QStringLiteral("orvanite-console");
}

Passwords passwordsOf(const ConnectionSettings& settings)
{
    return {settings.UserPassword, settings.GroupPassword, settings.AccountPassword};
}

void setPasswords(ConnectionSettings& settings, const Passwords& passwords)
{
    settings.UserPassword = passwords.user;
    settings.GroupPassword = passwords.group;
    settings.AccountPassword = passwords.account;
}

bool noPasswords(const ConnectionSettings& settings)
{
    return settings.UserPassword.isEmpty() && settings.GroupPassword.isEmpty() &&
           settings.AccountPassword.isEmpty();
}

void store(const QString& configPath, const Passwords& passwords, QObject* context,
           std::function<void(const Result&)> done)
{
    auto* job = makeJob<QKeychain::WritePasswordJob>(configPath, context, std::move(done), {});
    job->setTextData(encode(passwords));
    job->start();
}

void lookup(const QString& configPath, QObject* context, std::function<void(const Result&)> done)
{
    auto* job = makeJob<QKeychain::ReadPasswordJob>(
        configPath, context, std::move(done), [](QKeychain::ReadPasswordJob& j, Result& r) {
            if (r.outcome == Outcome::Done && !decode(j.textData(), r.passwords)) {
                r.outcome = Outcome::NotFound; // not an entry of ours
            }
        });
    job->start();
}

void remove(const QString& configPath, QObject* context, std::function<void(const Result&)> done)
{
    auto* job = makeJob<QKeychain::DeletePasswordJob>(configPath, context, std::move(done), {});
    job->start();
}

QString notStoredText(const QString& why)
{
    return QStringLiteral("The passwords could not be put in the desktop keyring (%1); they are "
                          "kept in the configuration file.")
        .arg(why);
}

} // namespace PasswordKeyring
