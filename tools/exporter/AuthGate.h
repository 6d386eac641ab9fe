#pragma once

#include "exporter/BasicAuth.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <memory>

// Basic authentication that no client can use to stall the server. The
// bcrypt hashes run on worker threads, never on the event loop; a header
// once verified is remembered (by its SHA-256, at most VerifiedLimit of them)
// for as long as these users stay configured, so a scraper pays one hash in
// all; and a client address whose password was wrong twice in a row waits
// before its next one is hashed (a tenth of a second, doubling with every
// further failure, up to ten seconds): a request in that time is refused as
// throttled without hashing. The checks of one address run one after another.
class AuthGate : public QObject
{
    Q_OBJECT

public:
    enum class Verdict
    {
        Accepted,
        Refused,
        Throttled,
    };
    static constexpr int VerifiedLimit = 256;
    static constexpr int AddressLimit = 4096;

    explicit AuthGate(QObject* parent = nullptr);
    ~AuthGate() override;

    // Replaces the users; what was verified or counted against the old ones
    // is forgotten.
    void setUsers(const BasicAuth& users);
    bool enabled() const { return m_users->enabled(); }

    // Calls done with the verdict on authorization from client: at once
    // when no hash is needed, else from the event loop once the hash is
    // done.
    void check(const QByteArray& authorization, const QHostAddress& client,
               std::function<void(Verdict)> done);

    // Milliseconds an address waits after its failures-th failure in a row.
    static int penaltyMs(int failures);

private:
    struct Pending
    {
        QByteArray authorization;
        QByteArray digest;
        std::function<void(Verdict)> done;
    };
    struct Address
    {
        int failures = 0;
        qint64 notBeforeMs = 0;
        bool hashing = false;
        std::deque<Pending> waiting;
    };

    void start(const QHostAddress& client, Pending pending);
    void finished(const QHostAddress& client, Pending pending, bool accepted, quint64 generation);
    void remember(const QByteArray& digest);
    void pruneAddresses();

    std::shared_ptr<const BasicAuth> m_users;
    quint64 m_generation = 0;
    QHash<QByteArray, quint64> m_verified; // header digest -> when last used
    quint64 m_ticks = 0;
    QHash<QHostAddress, Address> m_addresses;
    QElapsedTimer m_clock;
    QThreadPool m_pool;
    // Hashes waiting for or running on the pool, at most MaxHashing.
    static constexpr int MaxHashing = 64;
    int m_hashing = 0;
};
