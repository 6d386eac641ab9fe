#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The version data carried by the program file: a small block of keyed
// values, looked up by sub-block path as the About box asks for them:
//   "\"                                   the fixed file information
//   "\VarFileInfo\Translation"            pairs of 16-bit language / code page
//   "\StringFileInfo\040904E4\<Name>"     zero-terminated texts of a translation
//
// Block layout, little-endian: the magic "OVI1", a 32-bit entry count, then
// per entry a 16-bit key length, the key, a 32-bit value length, the value.
// The block sits in the ELF section named by VersionSectionName.
namespace VersionData {

inline constexpr std::string_view Magic = "OVI1";
inline constexpr const char* SectionName = ".orv_version";
inline constexpr std::uint32_t FixedSignature = 0xFEEF04BD;
// Size of the fixed file information: thirteen 32-bit words (signature,
// structure version, file version high and low, product version high and
// low, flags mask, flags, OS, type, subtype, date high and low).
inline constexpr std::size_t FixedInfoSize = 52;

struct Entry
{
    std::string_view Key;
    std::string_view Value;
};

// Writes the block through put(unsigned char); usable at compile time.
template <typename Put> constexpr void Write(std::span<const Entry> entries, Put put)
{
    auto u16 = [&](std::size_t v) {
        put(static_cast<unsigned char>(v & 0xFF));
        put(static_cast<unsigned char>((v >> 8) & 0xFF));
    };
    auto u32 = [&](std::size_t v) {
        u16(v & 0xFFFF);
        u16((v >> 16) & 0xFFFF);
    };
    for (char c : Magic)
        put(static_cast<unsigned char>(c));
    u32(entries.size());
    for (const Entry& e : entries) {
        u16(e.Key.size());
        for (char c : e.Key)
            put(static_cast<unsigned char>(c));
        u32(e.Value.size());
        for (char c : e.Value)
            put(static_cast<unsigned char>(c));
    }
}

constexpr std::size_t Size(std::span<const Entry> entries)
{
    std::size_t n = 0;
    Write(entries, [&n](unsigned char) { ++n; });
    return n;
}

template <std::size_t N>
constexpr std::array<unsigned char, N> Encode(std::span<const Entry> entries)
{
    std::array<unsigned char, N> out{};
    std::size_t i = 0;
    Write(entries, [&](unsigned char c) {
        if (i < N)
            out[i] = c;
        ++i;
    });
    return out;
}

// The fixed file information for file (and product) version a.b.c.d.
constexpr std::array<char, FixedInfoSize> FixedInfo(std::uint16_t a, std::uint16_t b,
                                                    std::uint16_t c, std::uint16_t d)
{
    std::array<char, FixedInfoSize> out{};
    const std::uint32_t ms = (std::uint32_t(a) << 16) | b;
    const std::uint32_t ls = (std::uint32_t(c) << 16) | d;
    const std::uint32_t words[13] = {FixedSignature, 0x00010000, ms, ls, ms, ls, 0x3F, 0,
                                     0x00040004,     1,          0,  0,  0};
    for (std::size_t w = 0; w < 13; ++w)
        for (std::size_t k = 0; k < 4; ++k)
            out[w * 4 + k] = static_cast<char>((words[w] >> (8 * k)) & 0xFF);
    return out;
}

} // namespace VersionData
