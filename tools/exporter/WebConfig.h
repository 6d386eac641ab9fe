#pragma once

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// Whether and how a client must show a certificate, by the names the web
// configuration file uses.
enum class ClientAuth
{
    NoClientCert,
    RequestClientCert,
    RequireAnyClientCert,
    VerifyClientCertIfGiven,
    RequireAndVerifyClientCert,
};

struct TlsSettings
{
    QSslConfiguration configuration; // certificate chain, key, client CAs, lowest version
    ClientAuth clientAuth = ClientAuth::NoClientCert;
    QStringList files; // read for it: certificate, key, client CAs
};

// The exporter's web configuration file (--web.config.file):
//
//   tls_server_config:
//     cert_file: server.crt        # PEM; relative names are beside this file
//     key_file: server.key
//     client_auth_type: RequireAndVerifyClientCert
//     client_ca_file: clients.crt
//     min_version: TLS12           # TLS10, TLS11, TLS12 (default), TLS13
//   basic_auth_users:
//     prometheus: $2y$10$...       # bcrypt
//
// Every key is checked when the file is read: a key it does not know, a
// value of the wrong kind, a file that cannot be read or is not a regular
// file, a key that is not the certificate's, or a hash that is not bcrypt of
// cost 4 to 31 (read, not hashed) is an error naming the file's line.
struct WebConfig
{
    std::optional<TlsSettings> tls;
    std::vector<std::pair<QByteArray, QByteArray>> users; // name, bcrypt hash

    // Reads path; on a mistake returns false with "path:line: what" (or
    // "cannot read path: why") in error.
    bool load(const QString& path, QString& error);
};
