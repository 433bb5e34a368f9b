#include "track_builder.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "boxes.h"

namespace velmora {

namespace {

constexpr FourCC kTmcd("tmcd");

// Identity in QuickTime's matrix encoding: a, d in 16.16, w in 2.30.
constexpr std::uint32_t kIdentityMatrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};

void fill_zero(Bytes& bytes, std::uint64_t offset, std::uint64_t length) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), length, std::uint8_t{0});
}

// In movie only: neither enabled nor shown in previews.
constexpr std::uint32_t kInMovieOnly = 2;

Result<Bytes> timecode_tkhd(const Children& trak, std::uint32_t track_id) {
    TRY(const ByteView video_tkhd, trak.required(FourCC("tkhd")));
    TRY(const std::uint8_t version, read_u8_at(video_tkhd, 0));
    TRY(const TrackHeaderLayout* layout, layout_for_version(kTrackHeader, version));
    TRY_VOID(slice_at(video_tkhd, 0, layout->size + kTrackHeaderSizeWidth));

    Bytes tkhd(video_tkhd.begin(), video_tkhd.end());
    put_field(tkhd, {kTrackHeaderFlags, 3}, kInMovieOnly);
    put_field(tkhd, layout->track_id, track_id);
    fill_zero(tkhd, layout->layer, 8);
    for (unsigned i = 0; i < 9; ++i) put_u32_be(tkhd, layout->matrix + std::uint64_t{4} * i, kIdentityMatrix[i]);
    fill_zero(tkhd, layout->size, kTrackHeaderSizeWidth);
    return make_atom(FourCC("tkhd"), tkhd);
}

// The clock the timecode track runs on.
struct TimecodeClock {
    std::uint32_t timescale = 0;
    std::uint32_t frame_duration = 0;
    std::uint64_t duration = 0;  // of the single sample and of the media
};

// A constant-rate video lends its own clock. A variable-rate one cannot (a
// time scale of 600 has no whole frame duration at 29.97), so the track runs
// at its standard rate with the video's duration rounded up onto it.
TimecodeClock timecode_clock(const Track& video, const std::optional<FrameRate>& standard_rate) {
    if (!standard_rate) return {video.media_timescale, video.sample_delta, video.media_duration};
    __extension__ using Wide = unsigned __int128;
    const Wide scaled = Wide{video.media_duration} * standard_rate->timescale;
    const Wide converted = (scaled + video.media_timescale - 1) / video.media_timescale;
    const std::uint64_t duration = converted > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(converted);
    return {standard_rate->timescale, standard_rate->frame_duration, duration};
}

// The video's edit list with every edit starting at media time 0, so the
// timecode's single sample labels the first frame shown. A leading empty
// edit (media time all ones) stays; durations and rates are kept.
Result<Bytes> edit_list_from_start(ByteView edts_payload) {
    Bytes edts(edts_payload.begin(), edts_payload.end());
    TRY(const std::vector<AtomSpan> children, list_children(edts_payload));
    for (const AtomSpan& child : children) {
        if (child.atom_type != FourCC("elst")) continue;
        const ByteView elst = atom_payload(edts_payload, child);
        const std::uint64_t base = child.offset + child.header_size;
        TRY(const std::uint8_t version, read_u8_at(elst, 0));
        const Result<const EditListLayout*> layout = layout_for_version(kEditList, version);
        if (!layout) continue;  // copied as it is
        TRY(const std::uint64_t count, read_field(elst, kEntryCount));
        for (std::uint64_t i = 0; i < count; ++i) {
            const Field media_time = entry_field((*layout)->entry_size, i, (*layout)->media_time);
            TRY(const std::uint64_t value, read_field(elst, media_time));
            if (value != (*layout)->empty_media_time) fill_zero(edts, base + media_time.offset, media_time.width);
        }
    }
    return make_atom(FourCC("edts"), edts);
}

Result<std::optional<Bytes>> copied_edit_list(const Children& trak) {
    TRY(const std::optional<ByteView> edts, trak.optional(FourCC("edts")));
    if (!edts) return std::optional<Bytes>{};
    TRY(Bytes copy, edit_list_from_start(*edts));
    return std::optional<Bytes>{std::move(copy)};
}

// The video's media header with the language cleared; on a clock of its own
// (variable-rate video) with that time scale and duration.
Result<Bytes> timecode_mdhd(ByteView mdia_payload, const std::optional<TimecodeClock>& own_clock) {
    TRY(const ByteView video_mdhd, required_child(mdia_payload, FourCC("mdhd")));
    TRY_VOID(slice_at(video_mdhd, 0, kLanguageFromEnd));
    Bytes mdhd(video_mdhd.begin(), video_mdhd.end());
    fill_zero(mdhd, mdhd.size() - kLanguageFromEnd, kLanguageWidth);
    if (own_clock) {
        TRY(const MediaHeaderLayout* layout, choose_layout(kMediaHeader, video_mdhd));
        TRY_VOID(slice_at(video_mdhd, 0, layout->duration.offset + layout->duration.width));
        put_field(mdhd, layout->timescale, own_clock->timescale);
        put_field(mdhd, layout->duration, own_clock->duration);
    }
    return make_atom(FourCC("mdhd"), mdhd);
}

Bytes timecode_hdlr() {
    Bytes payload(kHandlerFixedSize, 0);
    std::copy(kTmcd.bytes.begin(), kTmcd.bytes.end(), payload.begin() + kHandlerType.offset);
    constexpr char kName[] = "TimeCodeHandler";  // the terminating zero is part of the field
    payload.insert(payload.end(), kName, kName + sizeof kName);
    return make_atom(FourCC("hdlr"), payload);
}

Bytes timecode_gmhd() {
    Bytes gmin = pack_u32_be({0});
    for (std::uint16_t field : std::initializer_list<std::uint16_t>{0x0040, 0x8000, 0x8000, 0x8000, 0, 0})
        append_u16_be(gmin, field);

    Bytes tcmi = pack_u32_be({0});
    // font, face, size 12, reserved, text colour black, background white
    for (std::uint16_t field : std::initializer_list<std::uint16_t>{0, 0, 12, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF})
        append_u16_be(tcmi, field);
    tcmi.push_back(0);  // empty counted font name

    return make_container(FourCC("gmhd"), {make_atom(FourCC("gmin"), gmin),
                                           make_container(FourCC("tmcd"), {make_atom(FourCC("tcmi"), tcmi)})});
}

// A table box payload (version 0, no flags) holding one entry.
Bytes one_entry_table(ByteView entry) {
    Bytes table(kTableEntries, 0);
    put_field(table, kEntryCount, 1);
    append_bytes(table, entry);
    return table;
}

// One self-contained data reference: the sample lies in this file.
Bytes timecode_dinf() {
    const Bytes dref = one_entry_table(make_atom(FourCC("url "), pack_u32_be({1})));
    return make_container(FourCC("dinf"), {make_atom(FourCC("dref"), dref)});
}

std::uint8_t frames_per_second_byte(std::uint32_t timescale, std::uint32_t frame_duration) {
    const double rounded = std::round(static_cast<double>(timescale) / static_cast<double>(frame_duration));
    return static_cast<std::uint8_t>(std::clamp(rounded, 0.0, 255.0));
}

// The reel as the source reference's `name` atom, language code 0. The
// caller has checked the text (at most 32 bytes).
Bytes reel_name_atom(const std::string& reel) {
    Bytes payload(kReelText, 0);
    put_field(payload, kReelTextLength, reel.size());
    put_field(payload, kReelLanguage, 0);
    payload.insert(payload.end(), reel.begin(), reel.end());
    return make_atom(FourCC("name"), payload);
}

Bytes timecode_sample_description(const TimecodeClock& clock, bool drop_frame, const std::optional<std::string>& reel) {
    Bytes entry(kTimecodeEntry.size, 0);
    put_field(entry, kDataReferenceIndex, 1);
    put_field(entry, kTimecodeEntry.flags, drop_frame ? 3u : 2u);  // 24-hour maximum, plus drop frame
    put_field(entry, kTimecodeEntry.timescale, clock.timescale);
    put_field(entry, kTimecodeEntry.frame_duration, clock.frame_duration);
    put_field(entry, kTimecodeEntry.frames_byte, frames_per_second_byte(clock.timescale, clock.frame_duration));
    if (reel) {
        entry.resize(kTimecodeEntry.source_reference);  // the name atom takes the empty reference's place
        append_bytes(entry, reel_name_atom(*reel));
    }
    return make_atom(FourCC("stsd"), one_entry_table(make_atom(kTmcd, entry)));
}

Bytes chunk_offset_table(std::uint64_t sample_offset) {
    const bool wide = sample_offset > UINT32_MAX;
    const std::uint64_t width = wide ? kChunkOffsetWidth64 : kChunkOffsetWidth32;
    Bytes offset(width, 0);
    put_field(offset, {0, width}, sample_offset);
    return make_atom(FourCC(wide ? "co64" : "stco"), one_entry_table(offset));
}

// The single sample lasts the whole video; check_timecode_limits keeps it in 32 bits.
Bytes timecode_stts(std::uint64_t duration) {
    Bytes entry(kTimeToSampleEntrySize, 0);
    put_field(entry, kTimeToSampleCount, 1);
    put_field(entry, kTimeToSampleDelta, static_cast<std::uint32_t>(duration));
    return make_atom(FourCC("stts"), one_entry_table(entry));
}

Bytes timecode_stsc() {
    Bytes entry(kSampleToChunkEntrySize, 0);
    put_field(entry, kFirstChunk, 1);
    put_field(entry, kSamplesPerChunk, 1);
    put_field(entry, kSampleDescriptionIndex, 1);
    return make_atom(FourCC("stsc"), one_entry_table(entry));
}

// One sample of four bytes: the start frame.
Bytes timecode_stsz() {
    Bytes stsz(kSampleSizeTable, 0);
    put_field(stsz, kConstantSampleSize, 4);
    put_field(stsz, kSampleSizeCount, 1);
    return make_atom(FourCC("stsz"), stsz);
}

Bytes timecode_stbl(const TimecodeClock& clock, bool drop_frame, std::uint64_t sample_offset,
                    const std::optional<std::string>& reel) {
    return make_container(FourCC("stbl"), {
                                              timecode_sample_description(clock, drop_frame, reel),
                                              timecode_stts(clock.duration),
                                              timecode_stsc(),
                                              timecode_stsz(),
                                              chunk_offset_table(sample_offset),
                                          });
}

Bytes timecode_reference(std::uint32_t timecode_track_id) {
    Bytes reference(kReferencedTrackId.width, 0);
    put_field(reference, kReferencedTrackId, timecode_track_id);
    return make_atom(kTmcd, reference);
}

Result<Bytes> rebuilt_tref(ByteView tref_payload, std::uint32_t timecode_track_id) {
    TRY(const std::vector<AtomSpan> references, list_children(tref_payload));
    std::vector<Bytes> kept;
    for (const AtomSpan& reference : references) {
        if (reference.atom_type == kTmcd) continue;
        kept.push_back(copied_child(tref_payload, reference));
    }
    kept.push_back(timecode_reference(timecode_track_id));
    return make_container(FourCC("tref"), kept);
}

}  // namespace

Bytes copied_child(ByteView range, const AtomSpan& child) {
    const auto stored_size = read_u32_at(range, child.offset);
    const bool open_ended = child.header_size == 8 && stored_size && *stored_size == 0;
    if (open_ended) return make_atom(child.atom_type, atom_payload(range, child));
    const ByteView whole = atom_bytes(range, child);
    return Bytes(whole.begin(), whole.end());
}

Result<std::uint32_t> choose_timecode_track_id(const std::vector<Track>& tracks) {
    std::uint32_t largest = 0;
    for (const Track& track : tracks) {
        if (track.sample_entry == kTmcd) return track.track_id;
        largest = std::max(largest, track.track_id);
    }
    if (largest == UINT32_MAX) return fail("Track identifier overflow");
    return largest + 1;
}

Status check_timecode_limits(std::uint64_t input_size, const Track& video,
                             const std::optional<FrameRate>& standard_rate) {
    if (input_size > UINT64_MAX - kTimecodeSampleHeader) return fail("File size overflow");
    if (timecode_clock(video, standard_rate).duration > UINT32_MAX)
        return fail("Timecode media duration exceeds supported 32-bit range");
    return {};
}

std::uint64_t timecode_sample_offset(std::uint64_t input_size) { return input_size + kTimecodeSampleHeader; }

Result<Bytes> build_timecode_trak(const Track& video, std::uint32_t timecode_track_id, bool drop_frame,
                                  std::uint64_t sample_offset, const std::optional<FrameRate>& standard_rate,
                                  const std::optional<std::string>& reel) {
    const TimecodeClock clock = timecode_clock(video, standard_rate);
    std::optional<TimecodeClock> own_clock;
    if (standard_rate) own_clock = clock;
    TRY(const ByteView trak_payload, required_child(video.trak_bytes, FourCC("trak")));
    TRY(const Children trak, parse_children(trak_payload));
    TRY(Bytes tkhd, timecode_tkhd(trak, timecode_track_id));
    TRY(std::optional<Bytes> edts, copied_edit_list(trak));
    TRY(const ByteView mdia_payload, trak.required(FourCC("mdia")));
    TRY(Bytes mdhd, timecode_mdhd(mdia_payload, own_clock));

    Bytes minf = make_container(
        FourCC("minf"), {timecode_gmhd(), timecode_dinf(), timecode_stbl(clock, drop_frame, sample_offset, reel)});
    Bytes mdia = make_container(FourCC("mdia"), {mdhd, timecode_hdlr(), minf});

    std::vector<Bytes> children;
    children.push_back(std::move(tkhd));
    if (edts) children.push_back(std::move(*edts));
    children.push_back(std::move(mdia));
    return make_container(FourCC("trak"), children);
}

Bytes timecode_sample_atom(std::uint32_t start_frame) { return make_atom(FourCC("mdat"), pack_u32_be({start_frame})); }

Result<Bytes> reference_timecode_track(ByteView video_trak, std::uint32_t timecode_track_id) {
    TRY(const ByteView trak_payload, required_child(video_trak, FourCC("trak")));
    TRY(const std::vector<AtomSpan> children, list_children(trak_payload));
    std::vector<Bytes> rebuilt;
    bool had_tref = false;
    for (const AtomSpan& child : children) {
        if (child.atom_type == FourCC("tref")) {
            had_tref = true;
            TRY(Bytes tref, rebuilt_tref(atom_payload(trak_payload, child), timecode_track_id));
            rebuilt.push_back(std::move(tref));
            continue;
        }
        rebuilt.push_back(copied_child(trak_payload, child));
    }
    if (!had_tref) rebuilt.push_back(make_container(FourCC("tref"), {timecode_reference(timecode_track_id)}));
    return make_container(FourCC("trak"), rebuilt);
}

}  // namespace velmora
