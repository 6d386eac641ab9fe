#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <utility>
#include <vector>

// HTTP basic authentication against bcrypt hashes, checked by the system's
// crypt(3). A header that names a user costs one hash whether the user is
// known or not (an unknown one is checked against a hash of the highest
// cost configured) and whether the password is right or not, and the result
// is compared in constant time: an answer's timing does not tell which users
// exist. A header without credentials is refused without hashing.
class BasicAuth
{
public:
    BasicAuth() = default;
    explicit BasicAuth(std::vector<std::pair<QByteArray, QByteArray>> users);

    bool enabled() const { return !m_users.empty(); }

    // The value of an Authorization header; true when it names a user with
    // the right password. Takes one bcrypt hash: call it off the event loop.
    bool check(QByteArrayView authorization) const;

    // Whether the header carries a user name and password at all (no hash).
    static bool readable(QByteArrayView authorization);

    // The cost of a bcrypt hash ($2a$, $2b$ or $2y$, two digits, then 53
    // characters of bcrypt's alphabet), read without hashing; -1 when hash
    // does not have that shape. bcrypt itself takes costs 4 to 31.
    static int bcryptCost(QByteArrayView hash);

private:
    std::vector<std::pair<QByteArray, QByteArray>> m_users;
    QByteArray m_unknownUser; // a setting of the highest cost, no user's
};
