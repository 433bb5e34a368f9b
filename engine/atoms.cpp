#include "atoms.h"

namespace velmora {

namespace {

constexpr std::uint64_t kMaxChildren = 1'000'001;

// Checks that `width` bytes at `offset` lie inside the range.
Status check_bounds(ByteView range, std::uint64_t offset, std::uint64_t width) {
    if (offset > UINT64_MAX - width) return fail("Offset overflow");
    if (offset + width > range.size()) return fail("Truncated movie metadata");
    return {};
}

std::vector<AtomSpan> of_type(const std::vector<AtomSpan>& children, FourCC type) {
    std::vector<AtomSpan> matches;
    for (const AtomSpan& child : children)
        if (child.atom_type == type) matches.push_back(child);
    return matches;
}

Result<ByteView> payload_checked(ByteView range, const AtomSpan& span) {
    TRY_VOID(slice_at(range, span.offset, span.size));
    return atom_payload(range, span);
}

}  // namespace

Result<std::uint8_t> read_u8_at(ByteView range, std::uint64_t offset) {
    TRY_VOID(check_bounds(range, offset, 1));
    return range[offset];
}

Result<std::uint16_t> read_u16_at(ByteView range, std::uint64_t offset) {
    TRY_VOID(check_bounds(range, offset, 2));
    return static_cast<std::uint16_t>(load_be(range.subspan(offset, 2)));
}

Result<std::uint32_t> read_u32_at(ByteView range, std::uint64_t offset) {
    TRY_VOID(check_bounds(range, offset, 4));
    return static_cast<std::uint32_t>(load_be(range.subspan(offset, 4)));
}

Result<std::uint64_t> read_u64_at(ByteView range, std::uint64_t offset) {
    if (offset > UINT64_MAX - 8 || offset + 8 > range.size()) return fail("Truncated movie metadata");
    return load_be(range.subspan(offset, 8));
}

Result<FourCC> read_fourcc_at(ByteView range, std::uint64_t offset) {
    TRY_VOID(check_bounds(range, offset, 4));
    return FourCC::from_bytes(range.subspan(offset, 4));
}

Result<ByteView> slice_at(ByteView range, std::uint64_t offset, std::uint64_t length) {
    TRY_VOID(check_bounds(range, offset, length));
    return range.subspan(offset, length);
}

Result<ByteView> tail_at(ByteView range, std::uint64_t offset) {
    if (offset > range.size()) return fail("Truncated movie metadata");
    return range.subspan(offset);
}

Result<std::vector<AtomSpan>> list_children(ByteView range) {
    const std::uint64_t length = range.size();
    std::vector<AtomSpan> children;
    std::uint64_t p = 0;
    while (p < length) {
        if (children.size() == kMaxChildren) return fail("Too many metadata atoms");
        const std::uint64_t remaining = length - p;
        if (remaining < 8) return fail("Truncated movie metadata");
        const auto size_field = static_cast<std::uint32_t>(load_be(range.subspan(p, 4)));
        AtomSpan span{p, size_field, 8, FourCC::from_bytes(range.subspan(p + 4, 4))};
        if (size_field == 1) {
            if (remaining < 16) return fail("Truncated movie metadata");
            span.size = load_be(range.subspan(p + 8, 8));
            span.header_size = 16;
        } else if (size_field == 0) {
            span.size = remaining;
        }
        if (span.size < span.header_size || span.size > remaining) return fail("Invalid movie atom size");
        children.push_back(span);
        p += span.size;
    }
    return children;
}

ByteView atom_bytes(ByteView range, const AtomSpan& span) { return range.subspan(span.offset, span.size); }

ByteView atom_payload(ByteView range, const AtomSpan& span) {
    return range.subspan(span.payload_offset(), span.payload_size());
}

Result<Children> parse_children(ByteView range) {
    TRY(std::vector<AtomSpan> spans, list_children(range));
    return Children{range, std::move(spans)};
}

Result<ByteView> Children::required(FourCC type) const {
    const auto matches = of_type(spans, type);
    if (matches.size() != 1) return fail("Missing or duplicate required metadata atom");
    return payload_checked(range, matches.front());
}

Result<std::optional<ByteView>> Children::optional(FourCC type) const {
    const auto matches = of_type(spans, type);
    if (matches.empty()) return std::optional<ByteView>{};
    if (matches.size() > 1) return fail("Duplicate metadata atom");
    TRY(const ByteView payload, payload_checked(range, matches.front()));
    return std::optional<ByteView>{payload};
}

Result<ByteView> required_child(ByteView range, FourCC type) {
    TRY(const Children children, parse_children(range));
    return children.required(type);
}

Result<std::optional<ByteView>> optional_child(ByteView range, FourCC type) {
    TRY(const Children children, parse_children(range));
    return children.optional(type);
}

void append_bytes(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void append_u16_be(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void append_u32_be(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void append_u64_be(Bytes& out, std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void put_u32_be(std::span<std::uint8_t> out, std::uint64_t offset, std::uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

Bytes pack_u32_be(std::initializer_list<std::uint32_t> values) {
    Bytes out;
    out.reserve(values.size() * 4);
    for (std::uint32_t value : values) append_u32_be(out, value);
    return out;
}

Bytes make_atom(FourCC type, ByteView payload) {
    Bytes out;
    out.reserve(8 + payload.size());
    append_u32_be(out, static_cast<std::uint32_t>(8 + payload.size()));
    append_bytes(out, type.bytes);
    append_bytes(out, payload);
    return out;
}

Bytes make_container(FourCC type, std::initializer_list<ByteView> children) {
    Bytes payload;
    for (ByteView child : children) append_bytes(payload, child);
    return make_atom(type, payload);
}

Bytes make_container(FourCC type, const std::vector<Bytes>& children) {
    Bytes payload;
    for (const Bytes& child : children) append_bytes(payload, child);
    return make_atom(type, payload);
}

}  // namespace velmora
