#pragma once

#include <QString>

// English nouns in the number their count asks for: "1 record", "2 records",
// "0 records"; "has 1 of 1 user".
namespace Plural {

inline QString noun(qint64 count, const char* one, const char* many)
{
    return QString::fromLatin1(count == 1 ? one : many);
}

} // namespace Plural
