#include "exporter/BasicAuth.h"

#include <crypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

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

bool isBcryptLetter(char c)
{
    return c == '.' || c == '/' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= '0' && c <= '9');
}

// The user name and password of a basic authorization header.
std::optional<std::pair<QByteArray, QByteArray>> credentials(QByteArrayView authorization)
{
    const QByteArrayView prefix("Basic ");
    if (authorization.size() <= prefix.size() ||
        authorization.first(prefix.size()).toByteArray().compare(prefix, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const auto result =
        QByteArray::fromBase64Encoding(authorization.sliced(prefix.size()).trimmed().toByteArray(),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    const QByteArray& decoded = *result;
    const qsizetype colon = decoded.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    return std::make_pair(decoded.left(colon), decoded.mid(colon + 1));
}

} // namespace

BasicAuth::BasicAuth(std::vector<std::pair<QByteArray, QByteArray>> users)
    : m_users(std::move(users))
{
    int cost = 4;
    for (const auto& user : m_users)
        cost = std::max(cost, bcryptCost(user.second));
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$2b$", static_cast<unsigned long>(cost), nullptr, 0, setting,
                         sizeof setting))
        m_unknownUser = setting;
}

int BasicAuth::bcryptCost(QByteArrayView hash)
{
    if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' || hash[3] != '$' || hash[6] != '$')
        return -1;
    if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y')
        return -1;
    if (hash[4] < '0' || hash[4] > '9' || hash[5] < '0' || hash[5] > '9')
        return -1;
    if (!std::all_of(hash.begin() + 7, hash.end(), isBcryptLetter))
        return -1;
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

bool BasicAuth::readable(QByteArrayView authorization)
{
    return credentials(authorization).has_value();
}

bool BasicAuth::check(QByteArrayView authorization) const
{
    if (m_users.empty())
        return true;
    const auto given = credentials(authorization);
    if (!given)
        return false;
    const auto& [user, password] = *given;

    // Every user is compared, so that the work does not depend on where
    // the name is in the list.
    const QByteArray* hash = &m_unknownUser;
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
    return sameBytes(computed, *hash) && known && clean && !computed.isEmpty();
}
