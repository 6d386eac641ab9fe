// The program file's version data, placed in its own ELF section so that the
// About box (and any tool) can read it back from the file on disk. Compiled
// into the program only, never into a library.

#include "VersionConfig.h"
#include "app/VersionData.h"

namespace {

constexpr auto kFixed = VersionData::FixedInfo(ORV_VERSION_MAJOR, ORV_VERSION_MINOR,
                                               ORV_VERSION_PATCH, ORV_VERSION_TWEAK);
// Language 0409 (U.S. English), code page 04E4 (1252), each 16-bit little-endian.
constexpr char kTranslation[] = {0x09, 0x04, char(0xE4), 0x04};
// Zero-terminated, as the string table keeps its texts.
constexpr char kLegalCopyright[] = ORV_LEGAL_COPYRIGHT;

constexpr VersionData::Entry kEntries[] = {
    {"\\", {kFixed.data(), kFixed.size()}},
    {"\\VarFileInfo\\Translation", {kTranslation, sizeof kTranslation}},
    {"\\StringFileInfo\\040904E4\\LegalCopyright", {kLegalCopyright, sizeof kLegalCopyright}},
};

} // namespace

[[gnu::used, gnu::section(".orv_version")]] extern const auto OrvVersionBlock =
    VersionData::Encode<VersionData::Size(kEntries)>(kEntries);
