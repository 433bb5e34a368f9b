#pragma once

// The top level of a QuickTime-family file: a row of atoms, each a size and a
// type. The engine reads movies from it, and the backend uses it to tell a
// stamped movie from its original.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "result.h"

namespace velmora {

using ByteView = std::span<const std::uint8_t>;

// The unsigned big-endian number the bytes spell (at most eight of them).
std::uint64_t load_be(ByteView bytes);

// A four-character code, stored as the four bytes in file order.
struct FourCC {
    std::array<std::uint8_t, 4> bytes{};

    constexpr FourCC() = default;
    // From a four-character literal such as "moov" or "url ".
    constexpr FourCC(const char (&text)[5])
        : bytes{static_cast<std::uint8_t>(text[0]), static_cast<std::uint8_t>(text[1]),
                static_cast<std::uint8_t>(text[2]), static_cast<std::uint8_t>(text[3])} {}
    static FourCC from_bytes(ByteView four);

    friend constexpr bool operator==(const FourCC&, const FourCC&) = default;
};

// One atom inside a byte range; offset counts from the start of that range.
struct AtomSpan {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t header_size = 0;
    FourCC atom_type;

    std::uint64_t payload_offset() const { return offset + header_size; }
    std::uint64_t payload_size() const { return size - header_size; }
};

// Walks the top-level atoms of an open file by seeking from header to
// header; the media data itself is never read.
Result<std::vector<AtomSpan>> list_top_level_atoms(int fd, std::uint64_t file_size);

}  // namespace velmora
