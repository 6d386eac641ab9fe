#include "app/VersionInfo.h"

#include "app/VersionData.h"

#include <QFile>

#include <cstring>
#include <elf.h>

namespace {

struct SectionPlace
{
    qint64 Offset = 0;
    qint64 Size = 0;
};

template <typename T> bool ReadAt(QFile& file, qint64 offset, T& out)
{
    if (offset < 0 || offset + qint64(sizeof(T)) > file.size() || !file.seek(offset))
        return false;
    return file.read(reinterpret_cast<char*>(&out), sizeof(T)) == qint64(sizeof(T));
}

// Finds the version section in an ELF file of one class (32 or 64 bit).
// Every offset and size is checked against the file, so that a truncated or
// hostile file gives "no version data" rather than a wild read.
template <typename Ehdr, typename Shdr> std::optional<SectionPlace> FindSection(QFile& file)
{
    Ehdr eh{};
    if (!ReadAt(file, 0, eh))
        return std::nullopt;
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 || eh.e_shstrndx == SHN_UNDEF ||
        eh.e_shstrndx >= eh.e_shnum)
        return std::nullopt;
    const qint64 fileSize = file.size();
    const qint64 tableOffset = qint64(eh.e_shoff);
    if (tableOffset <= 0 || tableOffset > fileSize ||
        qint64(eh.e_shnum) * qint64(sizeof(Shdr)) > fileSize - tableOffset)
        return std::nullopt;

    auto sectionAt = [&](qint64 index, Shdr& sh) {
        return ReadAt(file, tableOffset + index * qint64(sizeof(Shdr)), sh);
    };
    Shdr names{};
    if (!sectionAt(eh.e_shstrndx, names) || names.sh_type == SHT_NOBITS)
        return std::nullopt;
    const qint64 namesOffset = qint64(names.sh_offset);
    const qint64 namesSize = qint64(names.sh_size);
    if (namesOffset < 0 || namesSize < 0 || namesOffset > fileSize ||
        namesSize > fileSize - namesOffset || namesSize > VersionInfo::MaxSize)
        return std::nullopt;
    if (!file.seek(namesOffset))
        return std::nullopt;
    const QByteArray table = file.read(namesSize);
    if (table.size() != namesSize)
        return std::nullopt;

    const QByteArrayView wanted(VersionData::SectionName);
    for (qint64 i = 0; i < eh.e_shnum; ++i) {
        Shdr sh{};
        if (!sectionAt(i, sh))
            return std::nullopt;
        const qint64 nameAt = qint64(sh.sh_name);
        if (nameAt < 0 || nameAt + wanted.size() >= table.size())
            continue;
        if (QByteArrayView(table.constData() + nameAt, wanted.size()) != wanted ||
            table.at(nameAt + wanted.size()) != '\0')
            continue;
        if (sh.sh_type == SHT_NOBITS)
            return std::nullopt;
        const qint64 offset = qint64(sh.sh_offset);
        const qint64 size = qint64(sh.sh_size);
        if (offset < 0 || size <= 0 || offset > fileSize || size > fileSize - offset)
            return std::nullopt;
        return SectionPlace{offset, size};
    }
    return std::nullopt;
}

std::optional<SectionPlace> Locate(QFile& file)
{
    unsigned char ident[EI_NIDENT] = {};
    if (file.read(reinterpret_cast<char*>(ident), EI_NIDENT) != EI_NIDENT)
        return std::nullopt;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64)
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(file);
    if (ident[EI_CLASS] == ELFCLASS32)
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(file);
    return std::nullopt;
}

std::optional<SectionPlace> LocatePath(const QString& path, QFile& file)
{
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto place = Locate(file);
    if (place && place->Size > VersionInfo::MaxSize)
        return std::nullopt;
    return place;
}

quint32 Le(const char* p, int bytes)
{
    quint32 v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(p[k]);
    return v;
}

} // namespace

qint64 VersionInfo::fileVersionInfoSize(const QString& path)
{
    QFile file;
    const auto place = LocatePath(path, file);
    return place ? place->Size : 0;
}

bool VersionInfo::fileVersionInfo(const QString& path, qint64 size, QByteArray& data)
{
    QFile file;
    const auto place = LocatePath(path, file);
    if (!place || size <= 0 || !file.seek(place->Offset))
        return false;
    data = file.read(std::min(size, place->Size));
    return data.size() == std::min(size, place->Size);
}

std::optional<QByteArrayView> VersionInfo::queryValue(QByteArrayView data, QStringView subBlock)
{
    const QByteArrayView magic(VersionData::Magic.data(), qsizetype(VersionData::Magic.size()));
    if (data.size() < 8 || data.first(4) != magic)
        return std::nullopt;
    const quint32 count = Le(data.data() + 4, 4);
    qsizetype at = 8;
    for (quint32 i = 0; i < count; ++i) {
        if (data.size() - at < 2)
            return std::nullopt;
        const qsizetype keyLength = Le(data.data() + at, 2);
        at += 2;
        if (data.size() - at < keyLength + 4)
            return std::nullopt;
        const QByteArrayView key = data.sliced(at, keyLength);
        at += keyLength;
        const qint64 valueLength = Le(data.data() + at, 4);
        at += 4;
        if (data.size() - at < valueLength)
            return std::nullopt;
        const QByteArrayView value = data.sliced(at, qsizetype(valueLength));
        at += qsizetype(valueLength);
        if (QString::fromLatin1(key).compare(subBlock, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}
