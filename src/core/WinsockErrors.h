#pragma once

#include <QString>

// The Windows Sockets error numbers that the console reports, and the mapping
// of this platform's errno and resolver codes onto them.
namespace Winsock {

// The fixed English text for a code; "Not a Winsock error" for any other.
QString ErrorText(int code);
// errno -> Windows Sockets number (ECONNREFUSED -> 10061, ...).
int FromErrno(int err);
// getaddrinfo() result (EAI_*) -> Windows Sockets number (EAI_NONAME -> 11001, ...).
int FromResolver(int gaiError, int savedErrno);

} // namespace Winsock
