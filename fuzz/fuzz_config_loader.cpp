// Feeds arbitrary bytes to the configuration loader as a file's contents. The
// loader may refuse them only with the application's error type; whatever it
// takes, once saved, must load back exactly.
#include "core/AppErrors.h"
#include "config/ConfigFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A memory file system where there is one: a save syncs the file to disk,
// which would otherwise bound the fuzzer's speed.
QString scratchFolder()
{
    const QString shm = QStringLiteral("/dev/shm");
    return QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
}

const QString& inputPath()
{
    static const QString path =
        scratchFolder() + QStringLiteral("/orv-fuzz-config-%1.hcf").arg(::getpid());
    return path;
}

const QString& savedPath()
{
    static const QString path =
        scratchFolder() + QStringLiteral("/orv-fuzz-config-%1-saved.hcf").arg(::getpid());
    return path;
}

void writeInput(const uint8_t* data, size_t size)
{
    const QByteArray name = QFile::encodeName(inputPath());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        std::perror("fuzz_config_loader: temporary file");
        std::abort();
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            std::perror("fuzz_config_loader: write");
            std::abort();
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

void removeFiles()
{
    ::unlink(QFile::encodeName(inputPath()).constData());
    ::unlink(QFile::encodeName(savedPath()).constData());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeInput(data, size);

    // A partial take leaves a valid settings set too, so the round trip is
    // checked whether or not the load ended in an error.
    ConnectionSettings loaded;
    try {
        LoadConfigFile(inputPath(), loaded);
    } catch (const EAppError&) {
    }

    std::mt19937 rng(static_cast<std::mt19937::result_type>(
        qHash(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)))));
    if (!SaveConfigFile(savedPath(), loaded, rng).isEmpty())
        return 0; // refused: no key can carry the values

    ConnectionSettings again;
    again.Port = 1; // unlike the defaults, so that a value not taken shows
    again.User = "x";
    try {
        LoadConfigFile(savedPath(), again);
    } catch (const EAppError& e) {
        std::fprintf(stderr, "saved line does not load: %s\n", e.what());
        std::abort();
    }
    if (!(again == loaded)) {
        std::fprintf(stderr, "saved line loads back different settings\n");
        std::abort();
    }
    return 0;
}
