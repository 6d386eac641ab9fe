#include "config/ConfigFile.h"

#include "core/AppErrors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Keys are the characters with codes 48 ("0") to 67 ("C").
constexpr int KeyBase = 48;
constexpr int KeyCount = 20;

// The separator between two quoted fields of the line.
constexpr char Separator[] = "\",\"";

// The bytes the line cannot carry inside a field: a double quote shifts every
// later field, a line break or end-of-text cuts the line when it is read.
constexpr std::array<unsigned char, 4> LineBreakers = {'"', '\r', '\n', 26};

bool breaksLine(unsigned char byte)
{
    for (unsigned char b : LineBreakers) {
        if (byte == b)
            return true;
    }
    return false;
}

// The seven logon fields in the order of the file (and of the logon record).
struct LogonField
{
    const char* name;
    QByteArray ConnectionSettings::*member;
};

constexpr std::array<LogonField, 7> LogonFields = {{
    {"User", &ConnectionSettings::User},
    {"UserPassword", &ConnectionSettings::UserPassword},
    {"Group", &ConnectionSettings::Group},
    {"GroupPassword", &ConnectionSettings::GroupPassword},
    {"Account", &ConnectionSettings::Account},
    {"AccountPassword", &ConnectionSettings::AccountPassword},
    {"LogonExtra", &ConnectionSettings::LogonExtra},
}};

// The keys (bit i for code KeyBase + i) that would scramble some byte of value
// into a byte the line cannot carry.
quint32 keysRuledOutBy(QByteArrayView value)
{
    quint32 mask = 0;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        for (unsigned char breaker : LineBreakers) {
            const int key = byte ^ breaker;
            if (key >= KeyBase && key < KeyBase + KeyCount)
                mask |= 1u << (key - KeyBase);
        }
    }
    return mask;
}

constexpr quint32 AllKeys = (1u << KeyCount) - 1;

// Why no key can carry the logon fields, naming the field (or the fields that
// together leave no key), or an empty string when some key can.
QString keyProblem(const ConnectionSettings& settings, quint32& ruledOut)
{
    std::array<quint32, LogonFields.size()> masks = {};
    ruledOut = 0;
    for (std::size_t i = 0; i < LogonFields.size(); ++i) {
        masks[i] = keysRuledOutBy(settings.*LogonFields[i].member);
        if (masks[i] == AllKeys) {
            return QStringLiteral("No key can carry the value of %1; change it and save again.")
                .arg(QLatin1StringView(LogonFields[i].name));
        }
        ruledOut |= masks[i];
    }
    if (ruledOut != AllKeys)
        return {};

    // Name only fields that matter: drop each field whose keys the others
    // rule out anyway.
    std::array<bool, LogonFields.size()> named = {};
    for (std::size_t i = 0; i < LogonFields.size(); ++i)
        named[i] = masks[i] != 0;
    for (std::size_t i = 0; i < LogonFields.size(); ++i) {
        quint32 others = 0;
        for (std::size_t j = 0; j < LogonFields.size(); ++j) {
            if (j != i && named[j])
                others |= masks[j];
        }
        if (others == AllKeys)
            named[i] = false;
    }
    QStringList culprits;
    for (std::size_t i = 0; i < LogonFields.size(); ++i) {
        if (named[i])
            culprits << QLatin1StringView(LogonFields[i].name);
    }
    return QStringLiteral(
               "No key can carry the values of %1 together; change one of them and save again.")
        .arg(culprits.join(QStringLiteral(", ")));
}

// Draws the key uniformly among the 20; a key that would make the line
// unreadable is set aside and another is drawn among the rest.
char drawKey(quint32 ruledOut, std::mt19937& rng)
{
    std::vector<int> remaining;
    remaining.reserve(KeyCount);
    for (int i = 0; i < KeyCount; ++i)
        remaining.push_back(i);
    for (;;) {
        std::uniform_int_distribution<std::size_t> pick(0, remaining.size() - 1);
        const std::size_t at = pick(rng);
        const int key = remaining[at];
        if (!(ruledOut & (1u << key)))
            return static_cast<char>(KeyBase + key);
        remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

int errorNumberOr(int saved, int fallback)
{
    return saved != 0 ? saved : fallback;
}

// The bytes of the first line: up to the first CR, LF or end-of-text (26), or
// the end of the file. Reads no further than one byte past the longest line
// (the file is opened unbuffered, so nothing is read ahead either).
QByteArray readFirstLine(QFile& file, const QString& path)
{
    QByteArray line;
    char chunk[16384];
    for (;;) {
        const qint64 room = LongestConfigLine + 1 - line.size();
        errno = 0;
        const qint64 got = file.read(chunk, std::min<qint64>(sizeof chunk, room));
        if (got < 0)
            throw EInOutError(errorNumberOr(errno, EIO));
        if (got == 0)
            return line;
        for (qint64 i = 0; i < got; ++i) {
            const auto byte = static_cast<unsigned char>(chunk[i]);
            if (byte == '\r' || byte == '\n' || byte == 26) {
                line.append(chunk, i);
                return line;
            }
        }
        line.append(chunk, got);
        if (line.size() > LongestConfigLine)
            throw EConfigLineTooLong(path);
    }
}

// While a save runs, a write past the file size limit fails with EFBIG and is
// reported like a full disk, instead of the limit's signal ending the program.
class FileSizeSignalIgnored
{
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        m_saved = ::sigaction(SIGXFSZ, &ignore, &m_previous) == 0;
    }
    ~FileSizeSignalIgnored()
    {
        if (m_saved)
            ::sigaction(SIGXFSZ, &m_previous, nullptr);
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

private:
    struct sigaction m_previous = {};
    bool m_saved = false;
};

// Whether the file must be written in place rather than replaced: it has other
// names, which a replacement would leave with the old settings, or its folder
// does not let us create the temporary file or rename it over the file (no
// write access, or a sticky folder where the file is someone else's).
bool mustWriteInPlace(const QString& target, const struct stat& existing)
{
    if (existing.st_nlink > 1)
        return true;
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return true;
    struct stat dir = {};
    const uid_t me = ::geteuid();
    return ::stat(folder.constData(), &dir) == 0 && (dir.st_mode & S_ISVTX) && me != 0 &&
           existing.st_uid != me && dir.st_uid != me;
}

// Writes all of bytes at offset 0; 0 or the error number.
int writeAllAt(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errorNumberOr(errno, EIO);
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

// Writes line over the file's own bytes and cuts it after the line: the
// inode, and with it every link, the owner and the mode, stay as they are.
// The old bytes the line will cover are read first and put back when the
// write or the cut fails, so that a failed save still leaves the old file.
QString writeInPlace(const QString& target, const QByteArray& line)
{
    const QByteArray name = QFile::encodeName(target);
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("IOResult: %1").arg(errorNumberOr(errno, EACCES));
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return EInOutError(errorNumberOr(errno, EIO)).message();
    QByteArray old(qsizetype(std::min<off_t>(st.st_size, line.size())), Qt::Uninitialized);
    for (qsizetype done = 0; done < old.size();) {
        const ssize_t n = ::pread(fd, old.data() + done, size_t(old.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0) { // the file shrank under us: keep what is there
                old.truncate(done);
                break;
            }
            return EInOutError(errorNumberOr(errno, EIO)).message();
        }
        done += n;
    }

    int error = writeAllAt(fd, line);
    if (error == 0 && ::ftruncate(fd, line.size()) != 0)
        error = errorNumberOr(errno, EIO);
    if (error != 0) {
        // The old bytes fit in the space the file already had.
        writeAllAt(fd, old);
        if (::ftruncate(fd, st.st_size) != 0) {
            // nothing more can be done; the error below is what matters
        }
        return EInOutError(error).message();
    }
    if (::fsync(fd) != 0)
        return EInOutError(errorNumberOr(errno, EIO)).message();
    return {};
}

// Slot number q (the count of double quotes seen so far) whose characters are
// kept: the odd counts up to 17, then 18, 19 and 20.
bool keepsSlot(int q)
{
    return (q >= 1 && q <= 17 && (q % 2) == 1) || (q >= 18 && q <= 20);
}

} // namespace

EConfigLineTooLong::EConfigLineTooLong(const QString& path)
    : EAppError(QStringLiteral("%1: the first line is longer than %2 bytes; "
                               "this is not a configuration file")
                    .arg(path)
                    .arg(LongestConfigLine))
{
}

QByteArray ScrambleField(QByteArrayView key, QByteArrayView text)
{
    if (text.isEmpty())
        return {};
    if (key.isEmpty())
        throw ERangeError();
    const char k = key.front();
    QByteArray result(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        result[i] = static_cast<char>(text[i] ^ k);
    return result;
}

void LoadConfigFile(const QString& path, ConnectionSettings& settings)
{
    if (path.isEmpty())
        return;

    QByteArray line;
    {
        // Opened without waiting and taken only when it is a regular file: a
        // FIFO or a device at the path would otherwise hold the caller until
        // somebody writes to it. Such a file counts as one that cannot be
        // opened.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return; // a missing or unreadable file is silently passed over
        struct stat info;
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return;
        }
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return;
        }
        line = readFirstLine(file, path);
    }

    std::array<QByteArray, 21> slots;
    int q = 0;
    for (char c : std::as_const(line)) {
        if (c == '"')
            ++q;
        else if (keepsSlot(q))
            slots[static_cast<std::size_t>(q)].append(c);
    }

    // Each value replaces the current setting as soon as it is taken, so an
    // error leaves the values before it taken and those after it unchanged.
    settings.HostAddress = slots[1];

    const std::int32_t port = StrToInt(slots[3]);
    if (port < 0 || port > 65535)
        throw ERangeError();
    settings.Port = static_cast<quint16>(port);

    const QByteArray& key = slots[5];
    std::size_t slot = 7;
    for (const LogonField& field : LogonFields) {
        settings.*field.member = ScrambleField(key, slots[slot]);
        slot += 2; // 7, 9, ..., 17, then 19 (18 holds the comma before field 10)
    }

    std::int32_t seconds = StrToInt(QByteArrayView(slots[20]).sliced(slots[20].isEmpty() ? 0 : 1));
    seconds = std::clamp<std::int32_t>(seconds, 5, 60);
    settings.RefreshInterval = seconds * 1000;
}

QByteArray ConfigLine(const ConnectionSettings& settings, char key)
{
    const QByteArrayView keyView(&key, 1);
    const qint64 seconds = static_cast<qint64>(settings.RefreshInterval) / 1000;

    QByteArray line;
    line.reserve(64 + settings.HostAddress.size() + settings.User.size() +
                 settings.UserPassword.size() + settings.Group.size() +
                 settings.GroupPassword.size() + settings.Account.size() +
                 settings.AccountPassword.size() + settings.LogonExtra.size());
    line.append('"');
    line.append(settings.HostAddress);
    line.append(Separator);
    line.append(QByteArray::number(settings.Port));
    line.append(Separator);
    line.append(key);
    for (const LogonField& field : LogonFields) {
        line.append(Separator);
        line.append(ScrambleField(keyView, settings.*field.member));
    }
    line.append("\",");
    line.append(QByteArray::number(seconds));
    line.append("\r\n");
    return line;
}

QString SaveConfigFile(const QString& path, const ConnectionSettings& settings, std::mt19937& rng)
{
    if (path.isEmpty())
        return {};

    // Refuse, before touching the file, what could not be read back as written.
    for (char c : settings.HostAddress) {
        if (breaksLine(static_cast<unsigned char>(c))) {
            return QStringLiteral("The host address contains a double quote or a line break "
                                  "and cannot be saved.");
        }
    }
    quint32 ruledOut = 0;
    const QString problem = keyProblem(settings, ruledOut);
    if (!problem.isEmpty())
        return problem;

    const QByteArray line = ConfigLine(settings, drawKey(ruledOut, rng));
    // A line the reader would refuse is refused here, in the reader's words.
    if (line.size() - 2 > LongestConfigLine)
        return EConfigLineTooLong(path).message();
    const FileSizeSignalIgnored sizeLimitIsAnError;

    // The file holds logon names and passwords: a new file is for its owner
    // only, an existing one keeps the permissions it was given.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat existing = {};
    const bool replacing =
        ::stat(QFile::encodeName(path).constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (replacing) {
        mode = existing.st_mode & 07777;
        QString target = QFileInfo(path).canonicalFilePath(); // through symbolic links
        if (target.isEmpty())
            target = path;
        if (mustWriteInPlace(target, existing))
            return writeInPlace(target, line);
    }

    // Written beside the target and renamed over it, so that a failure at any
    // point leaves the old file as it was. Unbuffered, so that a short write
    // (disk full, file size limit) is seen here and not lost in a flush.
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        int error = errno;
        if (error == 0)
            error = QFileInfo(path).isDir() ? EISDIR : EACCES;
        return QStringLiteral("IOResult: %1").arg(error);
    }
    // The replacement also keeps the old file's owner where we may give it
    // (an administrator saving an operator's file); otherwise it is ours.
    if (replacing && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        if (::fchown(file.handle(), existing.st_uid, existing.st_gid) != 0) {
            // not permitted: the new file stays ours, with the old permissions
        }
    }
    if (::fchmod(file.handle(), mode) != 0) {
        const int error = errorNumberOr(errno, EIO);
        file.cancelWriting();
        return EInOutError(error).message();
    }
    errno = 0;
    const qint64 written = file.write(line);
    if (written != line.size()) {
        const int error = errorNumberOr(errno, ENOSPC);
        file.cancelWriting();
        return EInOutError(error).message();
    }
    errno = 0;
    if (!file.commit())
        return EInOutError(errorNumberOr(errno, EIO)).message();
    return {};
}

ConfigResult loadConfig(const QString& path, ConnectionSettings& settings)
{
    try {
        LoadConfigFile(path, settings);
    } catch (const EAppError& error) {
        return ConfigResult{error.message()};
    }
    return ConfigResult{};
}

ConfigResult saveConfig(const QString& path, const ConnectionSettings& settings, std::mt19937& rng)
{
    try {
        return ConfigResult{SaveConfigFile(path, settings, rng)};
    } catch (const EAppError& error) {
        return ConfigResult{error.message()};
    }
}
