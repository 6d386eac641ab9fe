#include "keyring/KeyringIndex.h"

#include <QSettings>
#include <QUrl>

namespace KeyringIndex {

namespace {

QString keyOf(const QString& host)
{
    // A host's name may hold separators that would open settings groups.
    return QStringLiteral("hosts/") + QString::fromLatin1(QUrl::toPercentEncoding(host));
}

} // namespace

QStringList levels(const QString& host)
{
    const QSettings store(QSettings::UserScope, QStringLiteral("orvanite"),
                          QStringLiteral("keyring"));
    return store.value(keyOf(host)).toStringList();
}

bool record(const QString& host, const QStringList& levels)
{
    QSettings store(QSettings::UserScope, QStringLiteral("orvanite"), QStringLiteral("keyring"));
    if (levels.isEmpty())
        store.remove(keyOf(host));
    else
        store.setValue(keyOf(host), levels);
    store.sync();
    return store.status() == QSettings::NoError;
}

} // namespace KeyringIndex
