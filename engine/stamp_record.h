#pragma once

// The `vlmr` atom a stamp in place leaves in moov/udta: what unstamp needs
// to give the file back byte for byte.

#include <cstdint>
#include <optional>

#include "atoms.h"
#include "types.h"

namespace velmora {

// The whole `vlmr` atom for a record.
Bytes stamp_record_atom(const StampRecord& record);

// The record in a movie atom's udta. A missing or malformed one is simply
// absent: this never refuses a movie.
std::optional<StampRecord> read_stamp_record(const Children& moov);

// A udta payload without any `vlmr`, with the given record's added last
// (before a closing zero word, which old QuickTime writers leave).
Result<Bytes> udta_payload_with(ByteView udta_payload, const std::optional<StampRecord>& record);

// Whether a udta payload holds a `vlmr` at its top level.
bool holds_stamp_record(ByteView udta_payload);

}  // namespace velmora
