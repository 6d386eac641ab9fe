#include "exporter/BasicAuth.h"

#include <crypt.h>

#include <cstring>
#include <memory>

namespace {

// Equal in time that depends on the lengths only.
bool sameBytes(QByteArrayView a, QByteArrayView b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QByteArray hashWith(const QByteArray& password, const QByteArray& setting)
{
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* out = crypt_r(password.constData(), setting.constData(), data.get());
    // A failure gives null or a token starting with '*', never a hash.
    return out && out[0] != '*' ? QByteArray(out) : QByteArray();
}

} // namespace

BasicAuth::BasicAuth(std::vector<std::pair<QByteArray, QByteArray>> users)
    : m_users(std::move(users))
{
}

bool BasicAuth::isBcrypt(const QByteArray& hash)
{
    if (!hash.startsWith("$2") || hash.size() != 60)
        return false;
    return hashWith(QByteArrayLiteral("x"), hash).size() == 60;
}

bool BasicAuth::check(QByteArrayView authorization) const
{
    if (m_users.empty())
        return true;
    QByteArray decoded;
    bool readable = false;
    const QByteArrayView prefix("Basic ");
    if (authorization.size() > prefix.size() &&
        authorization.first(prefix.size()).toByteArray().compare(prefix, Qt::CaseInsensitive) ==
            0) {
        auto result = QByteArray::fromBase64Encoding(
            authorization.sliced(prefix.size()).trimmed().toByteArray(),
            QByteArray::AbortOnBase64DecodingErrors);
        readable = bool(result);
        decoded = std::move(*result);
    }
    const qsizetype colon = decoded.indexOf(':');
    readable = readable && colon >= 0;
    const QByteArray user = readable ? decoded.left(colon) : QByteArray();
    const QByteArray password = readable ? decoded.mid(colon + 1) : QByteArray();

    // Every user is compared; an unknown one is checked against the first
    // user's hash, so that the work is the same.
    const QByteArray* hash = &m_users.front().second;
    bool known = false;
    for (const auto& [name, userHash] : m_users) {
        const bool same = sameBytes(name, user);
        if (same && !known)
            hash = &userHash;
        known = known || same;
    }
    const QByteArray computed = hashWith(password, *hash);
    // crypt reads up to the first NUL: "pw\0junk" must not pass as "pw".
    const bool clean = !password.contains('\0');
    return sameBytes(computed, *hash) && known && readable && clean && !computed.isEmpty();
}
