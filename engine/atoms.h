#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "result.h"
#include "types.h"

namespace velmora {

// Bounded reads: every read of metadata goes through these.
Result<std::uint8_t> read_u8_at(ByteView range, std::uint64_t offset);
Result<std::uint16_t> read_u16_at(ByteView range, std::uint64_t offset);
Result<std::uint32_t> read_u32_at(ByteView range, std::uint64_t offset);
Result<std::uint64_t> read_u64_at(ByteView range, std::uint64_t offset);
Result<FourCC> read_fourcc_at(ByteView range, std::uint64_t offset);
Result<ByteView> slice_at(ByteView range, std::uint64_t offset, std::uint64_t length);
// The bytes from `offset` to the end of the range.
Result<ByteView> tail_at(ByteView range, std::uint64_t offset);

// The atoms that follow one another in a container's payload.
Result<std::vector<AtomSpan>> list_children(ByteView range);
// The whole atom (header included) of a listed child.
ByteView atom_bytes(ByteView range, const AtomSpan& span);
// The payload of a listed child.
ByteView atom_payload(ByteView range, const AtomSpan& span);

// A container's children, listed once; every lookup by type reuses the list.
struct Children {
    ByteView range;
    std::vector<AtomSpan> spans;

    // Payload of the single child of the given type.
    Result<ByteView> required(FourCC type) const;
    // Payload of the child of the given type, or nullopt when there is none.
    Result<std::optional<ByteView>> optional(FourCC type) const;
};
Result<Children> parse_children(ByteView range);

// One lookup in a container that is read only once.
Result<ByteView> required_child(ByteView range, FourCC type);
Result<std::optional<ByteView>> optional_child(ByteView range, FourCC type);

// Writers for the atoms the engine builds: always a 32-bit size header.
Bytes make_atom(FourCC type, ByteView payload);
Bytes make_container(FourCC type, std::initializer_list<ByteView> children);
Bytes make_container(FourCC type, const std::vector<Bytes>& children);
Bytes pack_u32_be(std::initializer_list<std::uint32_t> values);
void append_u16_be(Bytes& out, std::uint16_t value);
void append_u32_be(Bytes& out, std::uint32_t value);
void append_u64_be(Bytes& out, std::uint64_t value);
void append_bytes(Bytes& out, ByteView bytes);
void put_u32_be(std::span<std::uint8_t> out, std::uint64_t offset, std::uint32_t value);

}  // namespace velmora
