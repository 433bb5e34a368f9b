#include "boxes.h"

namespace velmora {

Result<std::uint64_t> read_field(ByteView payload, Field field) {
    switch (field.width) {
        case 1: return read_u8_at(payload, field.offset);
        case 2: return read_u16_at(payload, field.offset);
        case 4: return read_u32_at(payload, field.offset);
        case 8: return read_u64_at(payload, field.offset);
        default: {
            TRY(const ByteView bytes, slice_at(payload, field.offset, field.width));
            return load_be(bytes);
        }
    }
}

void put_field(std::span<std::uint8_t> payload, Field field, std::uint64_t value) {
    for (std::uint64_t i = 0; i < field.width; ++i)
        payload[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * (field.width - 1 - i)));
}

Result<std::uint64_t> read_sample_entry_field(ByteView stsd, Field field) {
    return read_field(stsd, {kFirstSampleEntry + field.offset, field.width});
}

}  // namespace velmora
