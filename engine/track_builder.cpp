#include "track_builder.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace velmora {

namespace {

constexpr FourCC kTmcd("tmcd");

// Field positions in a tkhd payload, by version.
struct TrackHeaderLayout {
    std::uint64_t track_id;
    std::uint64_t layer;   // layer, alternate group, volume, reserved: 8 bytes
    std::uint64_t matrix;  // 36 bytes
    std::uint64_t size;    // width and height: 8 bytes
};
constexpr TrackHeaderLayout kTrackHeaderV0{12, 32, 40, 76};
constexpr TrackHeaderLayout kTrackHeaderV1{20, 44, 52, 88};

// Identity in QuickTime's matrix encoding: a, d in 16.16, w in 2.30.
constexpr std::uint32_t kIdentityMatrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};

void fill_zero(Bytes& bytes, std::uint64_t offset, std::uint64_t length) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), length, std::uint8_t{0});
}

Result<Bytes> timecode_tkhd(ByteView trak_payload, std::uint32_t track_id) {
    TRY(const ByteView video_tkhd, required_child(trak_payload, FourCC("tkhd")));
    TRY(const std::uint8_t version, read_u8_at(video_tkhd, 0));
    if (version > 1) return fail("Unsupported track header version");
    const TrackHeaderLayout& layout = version == 0 ? kTrackHeaderV0 : kTrackHeaderV1;
    TRY_VOID(slice_at(video_tkhd, 0, layout.size + 8));

    Bytes tkhd(video_tkhd.begin(), video_tkhd.end());
    // In movie only: neither enabled nor shown in previews.
    tkhd[1] = 0;
    tkhd[2] = 0;
    tkhd[3] = 2;
    put_u32_be(tkhd, layout.track_id, track_id);
    fill_zero(tkhd, layout.layer, 8);
    for (unsigned i = 0; i < 9; ++i) put_u32_be(tkhd, layout.matrix + std::uint64_t{4} * i, kIdentityMatrix[i]);
    fill_zero(tkhd, layout.size, 8);
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
        if (version > 1) continue;
        TRY(const std::uint32_t count, read_u32_at(elst, 4));
        for (std::uint64_t i = 0; i < count; ++i) {
            if (version == 1) {
                const std::uint64_t at = 16 + 20 * i;
                TRY(const std::uint64_t media_time, read_u64_at(elst, at));
                if (media_time != UINT64_MAX) fill_zero(edts, base + at, 8);
            } else {
                const std::uint64_t at = 12 + 12 * i;
                TRY(const std::uint32_t media_time, read_u32_at(elst, at));
                if (media_time != UINT32_MAX) fill_zero(edts, base + at, 4);
            }
        }
    }
    return make_atom(FourCC("edts"), edts);
}

Result<std::optional<Bytes>> copied_edit_list(ByteView trak_payload) {
    TRY(const std::optional<ByteView> edts, optional_child(trak_payload, FourCC("edts")));
    if (!edts) return std::optional<Bytes>{};
    TRY(Bytes copy, edit_list_from_start(*edts));
    return std::optional<Bytes>{std::move(copy)};
}

// The video's media header with the language cleared; on a clock of its own
// (variable-rate video) with that time scale and duration.
Result<Bytes> timecode_mdhd(ByteView mdia_payload, const std::optional<TimecodeClock>& own_clock) {
    TRY(const ByteView video_mdhd, required_child(mdia_payload, FourCC("mdhd")));
    if (video_mdhd.size() < 4) return fail("Truncated movie metadata");
    Bytes mdhd(video_mdhd.begin(), video_mdhd.end());
    fill_zero(mdhd, mdhd.size() - 4, 2);
    if (own_clock) {
        const bool v1 = mdhd[0] == 1;
        TRY_VOID(slice_at(video_mdhd, 0, v1 ? 32 : 20));
        put_u32_be(mdhd, v1 ? 20 : 12, own_clock->timescale);
        if (v1) {
            put_u32_be(mdhd, 24, static_cast<std::uint32_t>(own_clock->duration >> 32));
            put_u32_be(mdhd, 28, static_cast<std::uint32_t>(own_clock->duration));
        } else {
            put_u32_be(mdhd, 16, static_cast<std::uint32_t>(own_clock->duration));
        }
    }
    return make_atom(FourCC("mdhd"), mdhd);
}

Bytes timecode_hdlr() {
    Bytes payload = pack_u32_be({0, 0});
    append_bytes(payload, kTmcd.bytes);
    payload.resize(payload.size() + 12, 0);
    constexpr char kName[] = "TimeCodeHandler";  // the terminating zero is part of the field
    payload.insert(payload.end(), kName, kName + sizeof kName);
    return make_atom(FourCC("hdlr"), payload);
}

Bytes timecode_gmhd() {
    Bytes gmin = pack_u32_be({0});
    for (std::uint16_t field : std::initializer_list<std::uint16_t>{0x0040, 0x8000, 0x8000, 0x8000, 0, 0}) append_u16_be(gmin, field);

    Bytes tcmi = pack_u32_be({0});
    // font, face, size 12, reserved, text colour black, background white
    for (std::uint16_t field : std::initializer_list<std::uint16_t>{0, 0, 12, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF}) append_u16_be(tcmi, field);
    tcmi.push_back(0);  // empty counted font name

    return make_container(FourCC("gmhd"), {make_atom(FourCC("gmin"), gmin),
                                           make_container(FourCC("tmcd"), {make_atom(FourCC("tcmi"), tcmi)})});
}

// One self-contained data reference: the sample lies in this file.
Bytes timecode_dinf() {
    Bytes dref = pack_u32_be({0, 1});
    append_bytes(dref, make_atom(FourCC("url "), pack_u32_be({1})));
    return make_container(FourCC("dinf"), {make_atom(FourCC("dref"), dref)});
}

std::uint8_t frames_per_second_byte(std::uint32_t timescale, std::uint32_t frame_duration) {
    const double rounded = std::round(static_cast<double>(timescale) / static_cast<double>(frame_duration));
    return static_cast<std::uint8_t>(std::clamp(rounded, 0.0, 255.0));
}

Bytes timecode_sample_description(const TimecodeClock& clock, bool drop_frame) {
    Bytes entry(6, 0);
    append_u16_be(entry, 1);  // data reference index
    append_u32_be(entry, 0);
    append_u32_be(entry, drop_frame ? 3u : 2u);  // 24-hour maximum, plus drop frame
    append_u32_be(entry, clock.timescale);
    append_u32_be(entry, clock.frame_duration);
    entry.push_back(frames_per_second_byte(clock.timescale, clock.frame_duration));
    entry.resize(entry.size() + 3, 0);

    Bytes stsd = pack_u32_be({0, 1});
    append_bytes(stsd, make_atom(kTmcd, entry));
    return make_atom(FourCC("stsd"), stsd);
}

Bytes chunk_offset_table(std::uint64_t sample_offset) {
    if (sample_offset > UINT32_MAX) {
        Bytes co64 = pack_u32_be({0, 1});
        append_u64_be(co64, sample_offset);
        return make_atom(FourCC("co64"), co64);
    }
    return make_atom(FourCC("stco"), pack_u32_be({0, 1, static_cast<std::uint32_t>(sample_offset)}));
}

Bytes timecode_stbl(const TimecodeClock& clock, bool drop_frame, std::uint64_t sample_offset) {
    // The single sample lasts the whole video; check_timecode_limits keeps it in 32 bits.
    const auto duration = static_cast<std::uint32_t>(clock.duration);
    return make_container(FourCC("stbl"), {
                                              timecode_sample_description(clock, drop_frame),
                                              make_atom(FourCC("stts"), pack_u32_be({0, 1, 1, duration})),
                                              make_atom(FourCC("stsc"), pack_u32_be({0, 1, 1, 1, 1})),
                                              make_atom(FourCC("stsz"), pack_u32_be({0, 4, 1})),
                                              chunk_offset_table(sample_offset),
                                          });
}

Bytes timecode_reference(std::uint32_t timecode_track_id) {
    return make_atom(kTmcd, pack_u32_be({timecode_track_id}));
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
                                  std::uint64_t sample_offset, const std::optional<FrameRate>& standard_rate) {
    const TimecodeClock clock = timecode_clock(video, standard_rate);
    std::optional<TimecodeClock> own_clock;
    if (standard_rate) own_clock = clock;
    TRY(const ByteView trak_payload, required_child(video.trak_bytes, FourCC("trak")));
    TRY(Bytes tkhd, timecode_tkhd(trak_payload, timecode_track_id));
    TRY(std::optional<Bytes> edts, copied_edit_list(trak_payload));
    TRY(const ByteView mdia_payload, required_child(trak_payload, FourCC("mdia")));
    TRY(Bytes mdhd, timecode_mdhd(mdia_payload, own_clock));

    Bytes minf = make_container(FourCC("minf"),
                                {timecode_gmhd(), timecode_dinf(), timecode_stbl(clock, drop_frame, sample_offset)});
    Bytes mdia = make_container(FourCC("mdia"), {mdhd, timecode_hdlr(), minf});

    std::vector<Bytes> children;
    children.push_back(std::move(tkhd));
    if (edts) children.push_back(std::move(*edts));
    children.push_back(std::move(mdia));
    return make_container(FourCC("trak"), children);
}

Bytes timecode_sample_atom(std::uint32_t start_frame) {
    return make_atom(FourCC("mdat"), pack_u32_be({start_frame}));
}

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
