#include "exporter/WebConfig.h"

#include "exporter/BasicAuth.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

// A mistake at a line of the file; the message is completed by load().
struct Mistake
{
    int line; // 1-based; 0: the file as a whole
    QString what;
};

[[noreturn]] void fail(const YAML::Node& node, const QString& what)
{
    throw Mistake{node.Mark().line + 1, what};
}

QString text(const YAML::Node& node)
{
    return QString::fromStdString(node.Scalar());
}

// The entries of a mapping, each key once; null counts as empty.
std::vector<std::pair<YAML::Node, YAML::Node>> entries(const YAML::Node& map, const QString& name)
{
    std::vector<std::pair<YAML::Node, YAML::Node>> out;
    if (map.IsNull())
        return out;
    if (!map.IsMap())
        fail(map, QStringLiteral("%1 must be a mapping of keys to values").arg(name));
    QSet<QString> seen;
    for (const auto& item : map) {
        if (!item.first.IsScalar())
            fail(item.first, QStringLiteral("%1: a key must be a plain word").arg(name));
        if (seen.contains(text(item.first)))
            fail(item.first, QStringLiteral("%1: '%2' is given twice").arg(name, text(item.first)));
        seen.insert(text(item.first));
        out.emplace_back(item.first, item.second);
    }
    return out;
}

QString scalar(const YAML::Node& key, const YAML::Node& value)
{
    if (!value.IsScalar() || value.Scalar().empty())
        fail(value.IsNull() ? key : value,
             QStringLiteral("%1 needs a single value").arg(text(key)));
    return text(value);
}

struct TlsKeys
{
    std::map<QString, std::pair<QString, int>> values; // key -> value, line
    QString folder;

    bool has(const char* key) const { return values.count(QLatin1String(key)) > 0; }
    QString value(const char* key) const { return values.at(QLatin1String(key)).first; }
    int line(const char* key) const { return values.at(QLatin1String(key)).second; }
    QString path(const char* key) const { return QDir(folder).absoluteFilePath(value(key)); }
};

// The content of a file named at key, read only when it is a regular file
// (a FIFO or a device could block start-up for ever).
QByteArray readNamed(const TlsKeys& keys, const char* key)
{
    const QString path = keys.path(key);
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile())
        throw Mistake{keys.line(key),
                      QStringLiteral("%1: %2 is not a regular file").arg(QLatin1String(key), path)};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Mistake{keys.line(key), QStringLiteral("%1: cannot read %2: %3")
                                          .arg(QLatin1String(key), path, file.errorString())};
    return file.read(1 << 20);
}

QList<QSslCertificate> certificates(const TlsKeys& keys, const char* key)
{
    const QString path = keys.path(key);
    const QList<QSslCertificate> list = QSslCertificate::fromData(readNamed(keys, key), QSsl::Pem);
    if (list.isEmpty())
        throw Mistake{keys.line(key),
                      QStringLiteral("%1: no PEM certificate in %2").arg(QLatin1String(key), path)};
    return list;
}

QSslKey privateKey(const TlsKeys& keys)
{
    const QString path = keys.path("key_file");
    const QByteArray pem = readNamed(keys, "key_file");
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    throw Mistake{
        keys.line("key_file"),
        QStringLiteral("key_file: no unencrypted RSA, EC or DSA private key in %1").arg(path)};
}

// Whether key is the private key of certificate's public key.
bool keyMatches(const QSslCertificate& certificate, const QSslKey& key)
{
    const QByteArray certPem = certificate.toPem();
    const QByteArray keyPem = key.toPem();
    const std::unique_ptr<BIO, decltype(&BIO_free)> certBio(
        BIO_new_mem_buf(certPem.constData(), int(certPem.size())), &BIO_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
        BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())), &BIO_free);
    if (!certBio || !keyBio)
        return false;
    const std::unique_ptr<X509, decltype(&X509_free)> x509(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), &X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    return x509 && pkey && X509_check_private_key(x509.get(), pkey.get()) == 1;
}

ClientAuth clientAuth(const TlsKeys& keys)
{
    static const std::map<QString, ClientAuth> names = {
        {QStringLiteral("NoClientCert"), ClientAuth::NoClientCert},
        {QStringLiteral("RequestClientCert"), ClientAuth::RequestClientCert},
        {QStringLiteral("RequireAnyClientCert"), ClientAuth::RequireAnyClientCert},
        {QStringLiteral("VerifyClientCertIfGiven"), ClientAuth::VerifyClientCertIfGiven},
        {QStringLiteral("RequireAndVerifyClientCert"), ClientAuth::RequireAndVerifyClientCert},
    };
    if (!keys.has("client_auth_type"))
        return ClientAuth::NoClientCert;
    const auto found = names.find(keys.value("client_auth_type"));
    if (found == names.end())
        throw Mistake{keys.line("client_auth_type"),
                      QStringLiteral("client_auth_type: '%1' is not NoClientCert, "
                                     "RequestClientCert, RequireAnyClientCert, "
                                     "VerifyClientCertIfGiven or RequireAndVerifyClientCert")
                          .arg(keys.value("client_auth_type"))};
    return found->second;
}

QSsl::SslProtocol minVersion(const TlsKeys& keys)
{
    if (!keys.has("min_version"))
        return QSsl::TlsV1_2OrLater;
    const QString v = keys.value("min_version");
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    if (v == QLatin1String("TLS10"))
        return QSsl::TlsV1_0OrLater;
    if (v == QLatin1String("TLS11"))
        return QSsl::TlsV1_1OrLater;
    QT_WARNING_POP
    if (v == QLatin1String("TLS12"))
        return QSsl::TlsV1_2OrLater;
    if (v == QLatin1String("TLS13"))
        return QSsl::TlsV1_3OrLater;
    throw Mistake{keys.line("min_version"),
                  QStringLiteral("min_version: '%1' is not TLS10, TLS11, TLS12 or TLS13").arg(v)};
}

TlsSettings readTls(const YAML::Node& section, const QString& folder, int sectionLine)
{
    static const QSet<QString> known = {
        QStringLiteral("cert_file"),        QStringLiteral("key_file"),
        QStringLiteral("client_auth_type"), QStringLiteral("client_ca_file"),
        QStringLiteral("min_version"),
    };
    TlsKeys keys;
    keys.folder = folder;
    for (const auto& [key, value] : entries(section, QStringLiteral("tls_server_config"))) {
        if (!known.contains(text(key)))
            fail(key, QStringLiteral("tls_server_config: unknown key '%1'").arg(text(key)));
        keys.values[text(key)] = {scalar(key, value), key.Mark().line + 1};
    }
    for (const char* needed : {"cert_file", "key_file"})
        if (!keys.has(needed))
            throw Mistake{sectionLine,
                          QStringLiteral("tls_server_config needs %1").arg(QLatin1String(needed))};

    TlsSettings tls;
    tls.clientAuth = clientAuth(keys);
    const bool verifies = tls.clientAuth == ClientAuth::VerifyClientCertIfGiven ||
                          tls.clientAuth == ClientAuth::RequireAndVerifyClientCert;
    if (verifies && !keys.has("client_ca_file"))
        throw Mistake{keys.line("client_auth_type"),
                      QStringLiteral("client_auth_type %1 needs client_ca_file")
                          .arg(keys.value("client_auth_type"))};
    if (!verifies && keys.has("client_ca_file"))
        throw Mistake{keys.line("client_ca_file"),
                      QStringLiteral("client_ca_file is used only with client_auth_type "
                                     "VerifyClientCertIfGiven or RequireAndVerifyClientCert")};
    QSslConfiguration& c = tls.configuration;
    c = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> chain = certificates(keys, "cert_file");
    const QSslKey key = privateKey(keys);
    // A key of another certificate would fail every handshake, silently.
    if (!keyMatches(chain.front(), key))
        throw Mistake{keys.line("key_file"),
                      QStringLiteral("key_file: %1 is not the key of the certificate in %2")
                          .arg(keys.path("key_file"), keys.path("cert_file"))};
    tls.files = {keys.path("cert_file"), keys.path("key_file")};
    if (verifies)
        tls.files << keys.path("client_ca_file");
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    c.setProtocol(minVersion(keys));
    c.setCaCertificates(verifies ? certificates(keys, "client_ca_file") : QList<QSslCertificate>());
    c.setPeerVerifyMode(verifies                                     ? QSslSocket::VerifyPeer
                        : tls.clientAuth == ClientAuth::NoClientCert ? QSslSocket::VerifyNone
                                                                     : QSslSocket::QueryPeer);
    return tls;
}

std::vector<std::pair<QByteArray, QByteArray>> readUsers(const YAML::Node& section)
{
    std::vector<std::pair<QByteArray, QByteArray>> users;
    for (const auto& [key, value] : entries(section, QStringLiteral("basic_auth_users"))) {
        const QByteArray hash = scalar(key, value).toUtf8();
        // Read, not hashed: a cost of 31 takes days to check once.
        const int cost = BasicAuth::bcryptCost(hash);
        if (cost < 0)
            fail(value, QStringLiteral("basic_auth_users: the password of '%1' is not a bcrypt "
                                       "hash ($2y$...)")
                            .arg(text(key)));
        if (cost < 4 || cost > 31)
            fail(value, QStringLiteral("basic_auth_users: the password of '%1' has cost %2; "
                                       "bcrypt takes 4 to 31")
                            .arg(text(key))
                            .arg(cost));
        users.emplace_back(text(key).toUtf8(), hash);
    }
    return users;
}

// The line to name for a YAML error found at mark: its own, unless the
// parser ran to the end of the file looking for what never came (a bracket
// left open); then the last line with text on it.
int yamlErrorLine(const QByteArray& content, const YAML::Mark& mark)
{
    if (mark.pos < 0)
        return 1;
    const qsizetype at = std::min<qsizetype>(mark.pos, content.size());
    const bool atEnd = std::all_of(content.cbegin() + at, content.cend(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    });
    if (!atEnd)
        return std::max(mark.line + 1, 1);
    qsizetype last = at - 1;
    while (last >= 0 && QByteArrayView(" \t\r\n").contains(content[last]))
        --last;
    return last < 0 ? 1 : int(content.left(last).count('\n')) + 1;
}

} // namespace

bool WebConfig::load(const QString& path, QString& error)
{
    // A FIFO or a device would block start-up for ever.
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        error = QStringLiteral("cannot read %1: not a regular file").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.read(1 << 20);
    if (!file.atEnd()) {
        error = QStringLiteral("%1: larger than 1 MiB: not a web configuration").arg(path);
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    try {
        const YAML::Node root = YAML::Load(content.toStdString());
        if (!root.IsNull() && !root.IsMap())
            fail(root, QStringLiteral("the file must be a mapping of keys to values"));
        for (const auto& [key, value] : entries(root, QStringLiteral("the file"))) {
            if (text(key) == QLatin1String("tls_server_config")) {
                if (!value.IsNull())
                    tls = readTls(value, folder, key.Mark().line + 1);
            } else if (text(key) == QLatin1String("basic_auth_users")) {
                users = readUsers(value);
            } else {
                fail(key, QStringLiteral("unknown key '%1' (known: tls_server_config, "
                                         "basic_auth_users)")
                              .arg(text(key)));
            }
        }
    } catch (const YAML::Exception& e) {
        error = QStringLiteral("%1:%2: %3")
                    .arg(path)
                    .arg(yamlErrorLine(content, e.mark))
                    .arg(QString::fromStdString(e.msg));
        return false;
    } catch (const Mistake& m) {
        error = QStringLiteral("%1:%2: %3").arg(path).arg(m.line).arg(m.what);
        return false;
    }
    return true;
}
