#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

struct ConnectionSettings;

// The logon passwords of a configuration file in the desktop's secret store
// (the freedesktop Secret Service), kept under the file's absolute path. A
// file saved this way holds empty password fields; a load whose password
// fields are all empty looks them up here.
//
// Every call returns at once; done runs on the thread's event loop when the
// store has answered, unless context has gone by then.
namespace PasswordKeyring {

struct Passwords
{
    QByteArray user, group, account;
    bool operator==(const Passwords&) const = default;
};

enum class Outcome
{
    Done,      // stored, or found
    NotFound,  // the store answered: it holds nothing for this file
    NoService, // no secret store answered, or it refused (message says why)
};

struct Result
{
    Outcome outcome = Outcome::NoService;
    Passwords passwords; // what was found
    QString message;     // why not, for NoService
};

// The service name the entries are kept under.
QString service();

Passwords passwordsOf(const ConnectionSettings& settings);
void setPasswords(ConnectionSettings& settings, const Passwords& passwords);
// No password field holds anything.
bool noPasswords(const ConnectionSettings& settings);

void store(const QString& configPath, const Passwords& passwords, QObject* context,
           std::function<void(const Result&)> done);
void lookup(const QString& configPath, QObject* context, std::function<void(const Result&)> done);
void remove(const QString& configPath, QObject* context, std::function<void(const Result&)> done);

// What the operator is told when the passwords could not be stored.
QString notStoredText(const QString& why);

} // namespace PasswordKeyring
