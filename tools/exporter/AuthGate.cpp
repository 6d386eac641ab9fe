#include "exporter/AuthGate.h"

#include <QCryptographicHash>
#include <QRunnable>
#include <QThread>

#include <algorithm>

AuthGate::AuthGate(QObject* parent) : QObject(parent), m_users(std::make_shared<BasicAuth>())
{
    m_clock.start();
    // One core stays with the event loop.
    m_pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
}

AuthGate::~AuthGate()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void AuthGate::setUsers(const BasicAuth& users)
{
    m_users = std::make_shared<BasicAuth>(users);
    ++m_generation;
    m_verified.clear();
    // Checks waiting for the old users are answered by them as they finish;
    // what waits behind them is checked against the new ones.
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        it->failures = 0;
        it->notBeforeMs = 0;
        if (!it->hashing && it->waiting.empty())
            it = m_addresses.erase(it);
        else
            ++it;
    }
}

int AuthGate::penaltyMs(int failures)
{
    // One mistake is forgiven; from the second on the wait doubles.
    if (failures <= 1)
        return 0;
    return std::min(100 << std::min(failures - 2, 10), 10000);
}

void AuthGate::check(const QByteArray& authorization, const QHostAddress& client,
                     std::function<void(Verdict)> done)
{
    if (!m_users->enabled()) {
        done(Verdict::Accepted);
        return;
    }
    // Nothing to hash, nothing to tell by timing.
    if (!BasicAuth::readable(authorization)) {
        done(Verdict::Refused);
        return;
    }
    Pending pending{authorization,
                    QCryptographicHash::hash(authorization, QCryptographicHash::Sha256),
                    std::move(done)};
    const auto known = m_verified.find(pending.digest);
    if (known != m_verified.end()) {
        *known = ++m_ticks;
        pending.done(Verdict::Accepted);
        return;
    }
    Address& address = m_addresses[client];
    if (address.hashing) {
        address.waiting.push_back(std::move(pending));
        return;
    }
    start(client, std::move(pending));
}

void AuthGate::start(const QHostAddress& client, Pending pending)
{
    Address& address = m_addresses[client];
    // Past a bound on the hashes waiting or running (clients from many
    // addresses), a check waits its turn outside: nothing queues unbounded.
    if (m_clock.elapsed() < address.notBeforeMs || m_hashing >= MaxHashing) {
        pending.done(Verdict::Throttled);
        return;
    }
    address.hashing = true;
    ++m_hashing;
    const quint64 generation = m_generation;
    const std::shared_ptr<const BasicAuth> users = m_users;
    auto shared = std::make_shared<Pending>(std::move(pending));
    m_pool.start([this, users, shared, client, generation] {
        const bool accepted = users->check(shared->authorization);
        QMetaObject::invokeMethod(
            this,
            [this, shared, client, accepted, generation] {
                finished(client, std::move(*shared), accepted, generation);
            },
            Qt::QueuedConnection);
    });
}

void AuthGate::finished(const QHostAddress& client, Pending pending, bool accepted,
                        quint64 generation)
{
    --m_hashing;
    Address& address = m_addresses[client];
    address.hashing = false;
    if (generation == m_generation) {
        if (accepted) {
            remember(pending.digest);
            address.failures = 0;
            address.notBeforeMs = 0;
        } else {
            ++address.failures;
            address.notBeforeMs = m_clock.elapsed() + penaltyMs(address.failures);
        }
    }
    pending.done(accepted ? Verdict::Accepted : Verdict::Refused);

    // The next of this address: the same header may now be known, or the
    // address throttled.
    auto found = m_addresses.find(client);
    while (found != m_addresses.end() && !found->hashing && !found->waiting.empty()) {
        Pending next = std::move(found->waiting.front());
        found->waiting.pop_front();
        if (m_verified.contains(next.digest)) {
            next.done(Verdict::Accepted);
        } else {
            start(client, std::move(next));
        }
        found = m_addresses.find(client);
    }
    pruneAddresses();
}

void AuthGate::remember(const QByteArray& digest)
{
    if (m_verified.size() >= VerifiedLimit) {
        const auto oldest = std::min_element(m_verified.begin(), m_verified.end());
        m_verified.erase(oldest);
    }
    m_verified.insert(digest, ++m_ticks);
}

// Addresses whose wait is over and that have nothing running are forgotten
// once there are many.
void AuthGate::pruneAddresses()
{
    if (m_addresses.size() <= AddressLimit)
        return;
    const qint64 now = m_clock.elapsed();
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        if (!it->hashing && it->waiting.empty() && it->notBeforeMs <= now)
            it = m_addresses.erase(it);
        else
            ++it;
    }
}
