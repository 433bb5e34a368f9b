#pragma once
// Big-endian bytes spelt field by field, for tests that write a box's
// expected layout by hand instead of taking it from the code under test.

#include <cstdint>
#include <initializer_list>

#include "atoms.h"

namespace velmora::testing {

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
inline Bytes u32s(std::initializer_list<std::uint32_t> values) { return pack_u32_be(values); }
inline Bytes u16s(std::initializer_list<std::uint16_t> values) {
    Bytes out;
    for (std::uint16_t v : values) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}
inline Bytes u8s(std::initializer_list<std::uint8_t> values) { return Bytes(values); }
inline Bytes u64(std::uint64_t v) { return u32s({static_cast<std::uint32_t>(v >> 32), static_cast<std::uint32_t>(v)}); }
inline Bytes tag(const char (&code)[5]) { return Bytes(code, code + 4); }
// A header spelt out: size and type.
inline Bytes head(std::uint32_t size, const char (&code)[5]) { return cat({u32s({size}), tag(code)}); }

}  // namespace velmora::testing
