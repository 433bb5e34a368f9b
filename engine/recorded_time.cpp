#include "recorded_time.h"

#include <chrono>
#include <cstdint>

#include "boxes.h"

namespace velmora {

namespace {

constexpr std::string_view kCreationDateKey = "com.apple.quicktime.creationdate";
constexpr std::uint64_t kKeyEntryHeader = 8;  // entry size, then the key's namespace
constexpr std::uint32_t kUtf8Type = 1;        // type indicator: a zero byte, then well-known type 1
constexpr std::uint64_t kDataValue = 8;       // after the type indicator and the locale
constexpr int kMinOffsetMinutes = -12 * 60;
constexpr int kMaxOffsetMinutes = 14 * 60;

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// QuickTime's meta holds its children directly; the ISO form puts a version
// and flags word, always zero, before them. A child's size is never zero here,
// since `hdlr`, `keys` and `ilst` cannot all run to the end.
Result<Children> meta_children(ByteView meta) {
    TRY(const std::uint32_t first_word, read_u32_at(meta, 0));
    if (first_word != 0) return parse_children(meta);
    TRY(const ByteView children, tail_at(meta, 4));
    return parse_children(children);
}

// The 1-based position of a key in `keys`: the type of its item in `ilst`.
Result<std::optional<std::uint32_t>> key_index(ByteView keys, std::string_view wanted) {
    TRY(const std::uint64_t count, read_field(keys, kEntryCount));
    std::uint64_t offset = kTableEntries;
    // Every entry takes at least its 8-byte header, so a false count stops at the end of the payload.
    for (std::uint64_t index = 1; index <= count; ++index) {
        TRY(const std::uint32_t size, read_u32_at(keys, offset));
        if (size < kKeyEntryHeader) return fail("Invalid metadata key");
        TRY(const ByteView key, slice_at(keys, offset + kKeyEntryHeader, size - kKeyEntryHeader));
        if (as_text(key) == wanted) return static_cast<std::uint32_t>(index);
        offset += size;
    }
    return std::optional<std::uint32_t>{};
}

// The first UTF-8 value of an `ilst` item: its `data` atoms carry a type
// indicator and a locale before the value.
Result<std::optional<ByteView>> utf8_value(ByteView item) {
    TRY(const Children values, parse_children(item));
    for (const AtomSpan& value : values.spans) {
        if (value.atom_type != FourCC("data")) continue;
        const ByteView data = atom_payload(values.range, value);
        TRY(const std::uint32_t type, read_u32_at(data, 0));
        if (type != kUtf8Type) continue;
        TRY(const ByteView text, tail_at(data, kDataValue));
        return std::optional<ByteView>{text};
    }
    return std::optional<ByteView>{};
}

// The value of the `ilst` item whose type is the key's index.
Result<std::optional<ByteView>> item_value(ByteView ilst, std::uint32_t index) {
    TRY(const Children items, parse_children(ilst));
    for (const AtomSpan& item : items.spans) {
        TRY(const std::uint32_t type, read_u32_at(atom_bytes(ilst, item), 4));
        if (type == index) return utf8_value(atom_payload(ilst, item));
    }
    return std::optional<ByteView>{};
}

Result<std::optional<RecordedTime>> find_recorded_time(const Children& moov) {
    TRY(const std::optional<ByteView> meta, moov.optional("meta"));
    if (!meta) return std::optional<RecordedTime>{};
    TRY(const Children children, meta_children(*meta));
    TRY(const std::optional<ByteView> keys, children.optional("keys"));
    TRY(const std::optional<ByteView> ilst, children.optional("ilst"));
    if (!keys || !ilst) return std::optional<RecordedTime>{};
    TRY(const std::optional<std::uint32_t> index, key_index(*keys, kCreationDateKey));
    if (!index) return std::optional<RecordedTime>{};
    TRY(const std::optional<ByteView> text, item_value(*ilst, *index));
    if (!text) return std::optional<RecordedTime>{};
    return parse_recorded_time(as_text(*text));
}

// Reads ISO 8601 text from left to right.
class TextCursor {
public:
    explicit TextCursor(std::string_view text) : text_(text) {}

    // Exactly `width` decimal digits.
    std::optional<int> number(std::size_t width) {
        if (text_.size() < width) return std::nullopt;
        int value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            if (!is_digit(text_[i])) return std::nullopt;
            value = value * 10 + (text_[i] - '0');
        }
        text_.remove_prefix(width);
        return value;
    }
    bool skip(char c) {
        if (text_.empty() || text_.front() != c) return false;
        text_.remove_prefix(1);
        return true;
    }
    // One digit or more; answers whether there was one.
    bool skip_digits() {
        std::size_t n = 0;
        while (n < text_.size() && is_digit(text_[n])) ++n;
        text_.remove_prefix(n);
        return n != 0;
    }
    bool at_end() const { return text_.empty(); }

private:
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    std::string_view text_;
};

// "Z", "+hh:mm", "+hhmm", "-hh:mm" or "-hhmm", in minutes east of UTC.
std::optional<int> parse_zone(TextCursor& cursor) {
    if (cursor.skip('Z')) return 0;
    const bool east = cursor.skip('+');
    if (!east && !cursor.skip('-')) return std::nullopt;
    const std::optional<int> hours = cursor.number(2);
    cursor.skip(':');
    const std::optional<int> minutes = cursor.number(2);
    if (!hours || !minutes || *minutes > 59) return std::nullopt;
    const int offset = (east ? 1 : -1) * (*hours * 60 + *minutes);
    if (offset < kMinOffsetMinutes || offset > kMaxOffsetMinutes) return std::nullopt;
    return offset;
}

// "YYYY-MM-DD" as days since 1970-01-01.
std::optional<std::int64_t> parse_date(TextCursor& cursor) {
    const std::optional<int> year = cursor.number(4);
    if (!year || !cursor.skip('-')) return std::nullopt;
    const std::optional<int> month = cursor.number(2);
    if (!month || !cursor.skip('-')) return std::nullopt;
    const std::optional<int> day = cursor.number(2);
    if (!day) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days{date}.time_since_epoch().count();
}

// "hh:mm:ss" and an optional fraction, which is dropped, as seconds of the day.
std::optional<std::int64_t> parse_time_of_day(TextCursor& cursor) {
    const std::optional<int> hours = cursor.number(2);
    if (!hours || !cursor.skip(':')) return std::nullopt;
    const std::optional<int> minutes = cursor.number(2);
    if (!minutes || !cursor.skip(':')) return std::nullopt;
    const std::optional<int> seconds = cursor.number(2);
    if (!seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
    if ((cursor.skip('.') || cursor.skip(',')) && !cursor.skip_digits()) return std::nullopt;
    return std::int64_t{*hours} * 3600 + *minutes * 60 + *seconds;
}

}  // namespace

std::optional<RecordedTime> parse_recorded_time(std::string_view text) {
    TextCursor cursor(text);
    const std::optional<std::int64_t> days = parse_date(cursor);
    if (!days || !cursor.skip('T')) return std::nullopt;
    const std::optional<std::int64_t> seconds = parse_time_of_day(cursor);
    if (!seconds) return std::nullopt;
    const std::optional<int> offset = parse_zone(cursor);
    if (!offset || !cursor.at_end()) return std::nullopt;
    return RecordedTime{*days * 86'400 + *seconds - std::int64_t{*offset} * 60, *offset};
}

std::optional<RecordedTime> read_recorded_time(const Children& moov) {
    const Result<std::optional<RecordedTime>> found = find_recorded_time(moov);
    if (!found) return std::nullopt;
    return *found;
}

}  // namespace velmora
