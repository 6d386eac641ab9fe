#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <utility>
#include <vector>

// HTTP basic authentication against bcrypt hashes, checked by the system's
// crypt(3). Every check costs one hash of the configured cost, whether the
// user is known, the header readable or the password right, and the result
// is compared in constant time: an answer's timing tells nothing.
class BasicAuth
{
public:
    BasicAuth() = default;
    explicit BasicAuth(std::vector<std::pair<QByteArray, QByteArray>> users);

    bool enabled() const { return !m_users.empty(); }

    // The value of an Authorization header; true when it names a user with
    // the right password.
    bool check(QByteArrayView authorization) const;

    // Whether hash is a bcrypt hash the system's crypt understands.
    static bool isBcrypt(const QByteArray& hash);

private:
    std::vector<std::pair<QByteArray, QByteArray>> m_users;
};
