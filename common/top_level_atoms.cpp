#include "top_level_atoms.h"

#include <cstring>

#include "descriptor.h"

namespace velmora {

namespace {

constexpr std::uint64_t kMaxTopLevelAtoms = 100'001;

}  // namespace

std::uint64_t load_be(ByteView bytes) {
    std::uint64_t value = 0;
    for (std::uint8_t byte : bytes) value = (value << 8) | byte;
    return value;
}

FourCC FourCC::from_bytes(ByteView four) {
    FourCC code;
    std::memcpy(code.bytes.data(), four.data(), 4);
    return code;
}

Result<std::vector<AtomSpan>> list_top_level_atoms(int fd, std::uint64_t file_size) {
    std::vector<AtomSpan> atoms;
    std::uint64_t p = 0;
    while (p < file_size) {
        if (atoms.size() == kMaxTopLevelAtoms) return fail("Too many top-level movie atoms");
        const std::uint64_t remaining = file_size - p;
        if (remaining < 8) return fail("Truncated movie atom header");
        std::array<std::uint8_t, 8> header{};
        TRY_VOID(read_exact_at(fd, p, header));
        const std::uint64_t size_field = load_be(std::span(header).first(4));
        AtomSpan span{p, size_field, 8, FourCC::from_bytes(std::span(header).subspan(4))};
        if (size_field == 1) {
            std::array<std::uint8_t, 8> large{};
            TRY_VOID(read_exact_at(fd, p + 8, large));
            span.size = load_be(large);
            span.header_size = 16;
            if (span.size < 16) return fail("Invalid movie atom size");
        } else if (size_field == 0) {
            return fail("Open-ended movie atoms are not supported yet");
        } else if (size_field < 8) {
            return fail("Invalid movie atom size");
        }
        if (span.size > remaining) return fail("Invalid movie atom size");
        atoms.push_back(span);
        p += span.size;
    }
    return atoms;
}

}  // namespace velmora
