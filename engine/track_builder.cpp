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
    for (unsigned i = 0; i < 9; ++i) put_u32_be(tkhd, layout.matrix + 4 * i, kIdentityMatrix[i]);
    fill_zero(tkhd, layout.size, 8);
    return make_atom(FourCC("tkhd"), tkhd);
}

Result<std::optional<Bytes>> copied_edit_list(ByteView trak_payload) {
    TRY(const std::optional<ByteView> edts, optional_child(trak_payload, FourCC("edts")));
    if (!edts) return std::optional<Bytes>{};
    return std::optional<Bytes>{make_atom(FourCC("edts"), *edts)};
}

// The video's media header with the language cleared.
Result<Bytes> timecode_mdhd(ByteView mdia_payload) {
    TRY(const ByteView video_mdhd, required_child(mdia_payload, FourCC("mdhd")));
    if (video_mdhd.size() < 4) return fail("Truncated movie metadata");
    Bytes mdhd(video_mdhd.begin(), video_mdhd.end());
    fill_zero(mdhd, mdhd.size() - 4, 2);
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

Bytes timecode_sample_description(const Track& video, bool drop_frame) {
    Bytes entry(6, 0);
    append_u16_be(entry, 1);  // data reference index
    append_u32_be(entry, 0);
    append_u32_be(entry, drop_frame ? 3u : 2u);  // 24-hour maximum, plus drop frame
    append_u32_be(entry, video.media_timescale);
    append_u32_be(entry, video.sample_delta);
    entry.push_back(frames_per_second_byte(video.media_timescale, video.sample_delta));
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

Bytes timecode_stbl(const Track& video, bool drop_frame, std::uint64_t sample_offset) {
    // The single sample lasts the whole video; check_timecode_limits keeps it in 32 bits.
    const auto duration = static_cast<std::uint32_t>(video.media_duration);
    return make_container(FourCC("stbl"), {
                                              timecode_sample_description(video, drop_frame),
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

Status check_timecode_limits(std::uint64_t input_size, const Track& video) {
    if (input_size > UINT64_MAX - kTimecodeSampleHeader) return fail("File size overflow");
    if (video.media_duration > UINT32_MAX) return fail("Timecode media duration exceeds supported 32-bit range");
    return {};
}

std::uint64_t timecode_sample_offset(std::uint64_t input_size) { return input_size + kTimecodeSampleHeader; }

Result<Bytes> build_timecode_trak(const Track& video, std::uint32_t timecode_track_id, bool drop_frame,
                                  std::uint64_t sample_offset) {
    TRY(const ByteView trak_payload, required_child(video.trak_bytes, FourCC("trak")));
    TRY(Bytes tkhd, timecode_tkhd(trak_payload, timecode_track_id));
    TRY(std::optional<Bytes> edts, copied_edit_list(trak_payload));
    TRY(const ByteView mdia_payload, required_child(trak_payload, FourCC("mdia")));
    TRY(Bytes mdhd, timecode_mdhd(mdia_payload));

    Bytes minf = make_container(FourCC("minf"),
                                {timecode_gmhd(), timecode_dinf(), timecode_stbl(video, drop_frame, sample_offset)});
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
