#include "stamp_record.h"

#include <algorithm>

#include "boxes.h"
#include "track_builder.h"

namespace velmora {

namespace {

constexpr FourCC kStampRecord("vlmr");
constexpr std::uint64_t kClosingWord = 4;

// The listable part of a udta payload and whether a closing zero word follows it.
struct UdtaParts {
    ByteView atoms;
    bool closing_word = false;
};

UdtaParts split_closing_word(ByteView payload) {
    if (list_children(payload) || payload.size() < kClosingWord) return {payload, false};
    const ByteView last = payload.last(kClosingWord);
    if (!std::ranges::all_of(last, [](std::uint8_t b) { return b == 0; })) return {payload, false};
    return {payload.first(payload.size() - kClosingWord), true};
}

Result<StampRecord> parse_record(ByteView payload) {
    if (payload.size() != kStampRecordPayloadSize) return fail("Invalid stamp record");
    TRY(const std::uint32_t version_and_flags, read_u32_at(payload, 0));
    if (version_and_flags != 0) return fail("Invalid stamp record");
    StampRecord record;
    TRY(record.original_length, read_field(payload, kStampOriginalLength));
    TRY(record.old_moov_offset, read_field(payload, kStampOldMoovOffset));
    return record;
}

}  // namespace

Bytes stamp_record_atom(const StampRecord& record) {
    Bytes payload(kStampRecordPayloadSize, 0);
    put_field(payload, kStampOriginalLength, record.original_length);
    put_field(payload, kStampOldMoovOffset, record.old_moov_offset);
    return make_atom(kStampRecord, payload);
}

std::optional<StampRecord> read_stamp_record(const Children& moov) {
    const auto udta = moov.optional("udta");
    if (!udta || !*udta) return std::nullopt;
    const auto children = parse_children(split_closing_word(**udta).atoms);
    if (!children) return std::nullopt;
    const auto record = children->optional(kStampRecord);
    if (!record || !*record) return std::nullopt;
    const auto parsed = parse_record(**record);
    if (!parsed) return std::nullopt;
    return *parsed;
}

bool holds_stamp_record(ByteView udta_payload) {
    const auto children = list_children(split_closing_word(udta_payload).atoms);
    return children && std::ranges::any_of(*children, [](const AtomSpan& c) { return c.atom_type == kStampRecord; });
}

Result<Bytes> udta_payload_with(ByteView udta_payload, const std::optional<StampRecord>& record) {
    const UdtaParts parts = split_closing_word(udta_payload);
    TRY(const std::vector<AtomSpan> children, list_children(parts.atoms));
    Bytes payload;
    for (const AtomSpan& child : children)
        if (child.atom_type != kStampRecord) append_bytes(payload, copied_child(parts.atoms, child));
    if (record) append_bytes(payload, stamp_record_atom(*record));
    if (parts.closing_word) payload.resize(payload.size() + kClosingWord, 0);
    return payload;
}

}  // namespace velmora
