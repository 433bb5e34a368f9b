#include "movie.h"

#include <array>
#include <set>

#include "boxes.h"
#include "recorded_time.h"
#include "sample_tables.h"
#include "stamp_record.h"
#include "timecode_track.h"

namespace velmora {

namespace {

constexpr std::uint32_t kUnityRate = 0x10000;  // 1.0 in 16.16 fixed point
constexpr double kMinFrameRate = 1.0;
constexpr double kMaxFrameRate = 99.0;

std::size_t count_of(const std::vector<AtomSpan>& atoms, FourCC type) {
    std::size_t count = 0;
    for (const AtomSpan& atom : atoms) count += atom.atom_type == type;
    return count;
}

Result<AtomSpan> single_moov(const std::vector<AtomSpan>& atoms) {
    if (count_of(atoms, "moov") != 1) return fail("Expected one movie metadata atom");
    if (count_of(atoms, "moof") != 0 || count_of(atoms, "mfra") != 0)
        return fail("Fragmented movies are not supported yet");
    for (const AtomSpan& atom : atoms)
        if (atom.atom_type == FourCC("moov")) {
            if (atom.size > kMaxMetadataSize) return fail("Movie metadata exceeds the 128 MB safety limit");
            return atom;
        }
    return fail("Expected one movie metadata atom");
}

Result<Bytes> read_metadata(const File& file, const AtomSpan& moov) {
    Bytes metadata(moov.payload_size(), 0);
    TRY_VOID(read_exact_at(file, moov.payload_offset(), metadata));
    return metadata;
}

// Creation time from mvhd; the movie time scale is checked but not kept.
Result<std::uint64_t> read_movie_header(const Children& moov) {
    TRY(const ByteView mvhd, moov.required("mvhd"));
    TRY(const MovieHeaderLayout* layout, choose_layout(kMovieHeader, mvhd));
    TRY(const std::uint64_t creation_time, read_field(mvhd, layout->creation_time));
    TRY(const std::uint64_t timescale, read_field(mvhd, layout->timescale));
    if (timescale == 0) return fail("Invalid movie time scale");
    return creation_time;
}

Result<std::uint32_t> read_track_id(const Children& trak) {
    TRY(const ByteView tkhd, trak.required("tkhd"));
    TRY(const TrackHeaderLayout* layout, choose_layout(kTrackHeader, tkhd));
    TRY(const std::uint64_t track_id, read_field(tkhd, layout->track_id));
    return static_cast<std::uint32_t>(track_id);
}

struct MediaHeader {
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
};

Result<MediaHeader> read_media_header(ByteView mdhd) {
    TRY(const MediaHeaderLayout* layout, choose_layout(kMediaHeader, mdhd));
    TRY(const std::uint64_t timescale, read_field(mdhd, layout->timescale));
    if (timescale == 0) return fail("Invalid media time scale");
    TRY(const std::uint64_t duration, read_field(mdhd, layout->duration));
    return MediaHeader{static_cast<std::uint32_t>(timescale), duration};
}

Result<FourCC> read_sample_entry(ByteView stsd) {
    TRY(const ByteView entries_bytes, tail_at(stsd, kTableEntries));
    TRY(const std::uint64_t entries, read_field(stsd, kEntryCount));
    if (entries != 1) return fail("Multiple sample descriptions are not supported yet");
    TRY(const auto listed, list_children(entries_bytes));
    if (listed.size() != 1) return fail("Invalid sample descriptions");
    return listed.front().atom_type;
}

// One data reference entry, of any type, flagged as "media in this file".
// Apple's frameworks write `alis`, iTunes-era files `cios`, others `url `;
// the self-contained flag means the same in all of them.
Status check_self_contained(const Children& minf) {
    TRY(const ByteView dinf, minf.required("dinf"));
    TRY(const ByteView dref, required_child(dinf, "dref"));
    const Result<ByteView> entries_bytes = tail_at(dref, kTableEntries);
    if (!entries_bytes) return fail("Truncated dref");
    TRY(const auto entries, list_children(*entries_bytes));
    if (entries.size() != 1) return fail("External media references are not supported");
    TRY(const std::uint64_t count, read_field(dref, kEntryCount));
    if (count != 1) return fail("External media references are not supported");
    TRY(const std::uint32_t flags, read_u32_at(atom_payload(*entries_bytes, entries.front()), 0));
    if ((flags & 1u) == 0) return fail("External media references are not supported");
    return {};
}

TimingKind timing_kind(const Track& track) {
    if (track.handler != FourCC("vide")) return TimingKind::other;
    return track.sample_entry == FourCC("jpeg") ? TimingKind::jpeg_video : TimingKind::video;
}

Result<Track> read_track(const AtomSpan& span, ByteView metadata) {
    TRY(const ByteView atom, slice_at(metadata, span.offset, span.size));
    Track track;
    TRY(const ByteView trak_payload, required_child(atom, "trak"));
    TRY(const Children trak, parse_children(trak_payload));
    TRY(track.track_id, read_track_id(trak));

    TRY(const ByteView mdia_payload, trak.required("mdia"));
    TRY(const Children mdia, parse_children(mdia_payload));
    TRY(const ByteView hdlr, mdia.required("hdlr"));
    TRY(const ByteView mdhd, mdia.required("mdhd"));
    TRY(const MediaHeader media, read_media_header(mdhd));
    track.media_timescale = media.timescale;
    track.media_duration = media.duration;

    TRY(const ByteView minf_payload, mdia.required("minf"));
    TRY(const Children minf, parse_children(minf_payload));
    TRY(const ByteView stbl_payload, minf.required("stbl"));
    TRY(const Children stbl, parse_children(stbl_payload));
    TRY(const ByteView stsd, stbl.required("stsd"));
    TRY(track.sample_entry, read_sample_entry(stsd));

    TRY(track.handler, read_fourcc_at(hdlr, kHandlerType.offset));
    if (track.handler == FourCC("vide")) {
        TRY(const std::uint64_t width, read_sample_entry_field(stsd, kVisualWidth));
        TRY(const std::uint64_t height, read_sample_entry_field(stsd, kVisualHeight));
        track.width = static_cast<std::uint16_t>(width);
        track.height = static_cast<std::uint16_t>(height);
    }

    TRY(const SampleTiming timing, read_sample_timing(stbl, track.media_duration, timing_kind(track)));
    track.sample_count = timing.sample_count;
    track.sample_delta = timing.sample_delta;

    TRY_VOID(check_self_contained(minf));
    TRY(const std::uint64_t data_reference, read_sample_entry_field(stsd, kDataReferenceIndex));
    if (data_reference != 1) return fail("Unsupported sample data reference");

    track.trak_bytes.assign(atom.begin(), atom.end());
    return track;
}

Status check_track_ids(const std::vector<Track>& tracks) {
    std::set<std::uint32_t> seen;
    for (const Track& track : tracks)
        if (track.track_id == 0 || !seen.insert(track.track_id).second)
            return fail("Duplicate or invalid track identifiers");
    return {};
}

// A video track without samples is never the primary video; when it is the
// only video there is, its timing is what is missing.
Result<std::size_t> find_primary_video(const std::vector<Track>& tracks) {
    std::size_t found = 0;
    std::size_t count = 0;
    bool empty_video = false;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        empty_video = empty_video || (tracks[i].handler == FourCC("vide") && tracks[i].sample_count == 0);
        if (is_primary_video(tracks[i])) {
            found = i;
            ++count;
        }
    }
    if (count == 0 && empty_video) return fail("Incomplete sample timing is not supported");
    if (count != 1) return fail("Expected one primary video track");
    return found;
}

// A video whose durations differ only by a closing frame keeps a constant
// delta; any other, and a constant one that only nears a standard rate, is
// labelled at the standard rate its durations stand for.
Status decide_frame_rate(Movie& movie) {
    Track& video = movie.tracks[movie.video_index];
    TRY(const ByteView stbl, sample_table_of(video.trak_bytes));
    TRY(const std::vector<TimingEntry> entries, timing_entries(stbl));
    TRY(RateChoice choice, choose_frame_rate(video.media_timescale, entries));
    video.sample_delta = choice.sample_delta;
    movie.variable_rate = std::move(choice.variable);
    const FrameRate rate = movie.video_rate();
    const double fps = static_cast<double>(rate.timescale) / static_cast<double>(rate.frame_duration);
    if (!(fps >= kMinFrameRate && fps <= kMaxFrameRate)) return fail("Unsupported frame rate");
    return {};
}

Status check_not_encrypted(const std::vector<Track>& tracks) {
    for (const Track& track : tracks)
        if (track.sample_entry == FourCC("encv") || track.sample_entry == FourCC("enca"))
            return fail("Encrypted media is not supported");
    return {};
}

constexpr std::uint64_t kEditCountLimit = 2;

struct Edit {
    std::uint64_t media_time = 0;
    std::uint32_t rate = 0;
};

Result<Edit> read_edit(ByteView elst, const EditListLayout& layout, std::uint64_t index) {
    Edit edit;
    TRY(edit.media_time, read_field(elst, entry_field(layout.entry_size, index, layout.media_time)));
    TRY(const std::uint64_t rate, read_field(elst, entry_field(layout.entry_size, index, layout.rate)));
    edit.rate = static_cast<std::uint32_t>(rate);
    return edit;
}

bool is_empty_edit(const Edit& edit, const EditListLayout& layout) {
    return edit.media_time == layout.empty_media_time;
}

bool is_negative(const Edit& edit, const EditListLayout& layout) {
    return (edit.media_time >> (8 * layout.media_time.width - 1)) & 1u;
}

// Carried over: one edit at normal speed, optionally after a leading empty
// edit (a delayed start). Its media time may skip the composition delay of
// B-frames but must lie inside the media.
Status check_edit_list(const Track& video) {
    TRY(const ByteView trak, required_child(video.trak_bytes, "trak"));
    TRY(const std::optional<ByteView> edts, optional_child(trak, "edts"));
    if (!edts) return {};
    TRY(const ByteView elst, required_child(*edts, "elst"));
    TRY(const EditListLayout* layout, choose_layout(kEditList, elst));
    TRY(const std::uint64_t media_time, read_field(elst, entry_field(layout->entry_size, 0, layout->media_time)));
    TRY(const std::uint64_t entries, read_field(elst, kEntryCount));
    if (entries == 1 && media_time == 0) {
        TRY(const std::uint64_t rate, read_field(elst, entry_field(layout->entry_size, 0, layout->rate)));
        if (rate == kUnityRate) return {};
    }
    const auto refused = [] { return fail(kTrimmedEditRefusal); };
    if (entries == 0 || entries > kEditCountLimit) return refused();
    TRY(const Edit first, read_edit(elst, *layout, 0));
    Edit shown = first;
    if (entries == 2) {
        if (!is_empty_edit(first, *layout)) return refused();
        TRY(shown, read_edit(elst, *layout, 1));
    }
    if (is_negative(shown, *layout) || shown.rate != kUnityRate || shown.media_time >= video.media_duration)
        return refused();
    return {};
}

Status check_not_fragmented_metadata(const Children& moov) {
    for (const AtomSpan& child : moov.spans)
        if (child.atom_type == FourCC("cmov") || child.atom_type == FourCC("mvex"))
            return fail("Fragmented or compressed movie metadata is not supported yet");
    return {};
}

Result<std::vector<Track>> read_tracks(const Children& moov) {
    std::vector<Track> tracks;
    for (const AtomSpan& child : moov.spans) {
        if (child.atom_type != FourCC("trak")) continue;
        TRY(Track track, read_track(child, moov.range));
        tracks.push_back(std::move(track));
    }
    return tracks;
}

}  // namespace

std::vector<MediaRange> media_ranges(const std::vector<AtomSpan>& atoms) {
    std::vector<MediaRange> ranges;
    for (const AtomSpan& atom : atoms)
        if (atom.atom_type == FourCC("mdat")) ranges.emplace_back(atom.payload_offset(), atom.offset + atom.size);
    return ranges;
}

Result<ByteView> sample_table_of(ByteView trak_bytes) {
    TRY(const ByteView trak, required_child(trak_bytes, "trak"));
    TRY(const ByteView mdia, required_child(trak, "mdia"));
    TRY(const ByteView minf, required_child(mdia, "minf"));
    return required_child(minf, "stbl");
}

bool is_primary_video(const Track& track) {
    const bool still_picture = track.sample_entry == FourCC("jpeg") && track.sample_count == 1;
    return track.handler == FourCC("vide") && !still_picture && track.sample_count != 0;
}

Result<Movie> open_movie(const std::string& path) { return open_movie(path, std::nullopt); }

Result<Movie> open_movie(const std::string& path, std::optional<std::uint64_t> retyped_moov) {
    Movie movie;
    TRY(movie.file, open_read_only(path));
    TRY(movie.file_size, file_size_of(movie.file));
    TRY(movie.atoms, list_top_level_atoms(movie.file.get(), movie.file_size));
    if (retyped_moov)
        for (AtomSpan& atom : movie.atoms)
            if (atom.offset == *retyped_moov && atom.atom_type == FourCC("moov")) atom.atom_type = FourCC("free");
    TRY(const AtomSpan moov, single_moov(movie.atoms));
    TRY(movie.metadata, read_metadata(movie.file, moov));
    TRY(const Children moov_children, parse_children(movie.metadata));
    TRY_VOID(check_not_fragmented_metadata(moov_children));
    TRY(movie.creation_time, read_movie_header(moov_children));
    TRY(movie.tracks, read_tracks(moov_children));
    TRY_VOID(check_track_ids(movie.tracks));
    TRY(movie.video_index, find_primary_video(movie.tracks));
    TRY_VOID(decide_frame_rate(movie));
    TRY_VOID(check_not_encrypted(movie.tracks));
    TRY_VOID(check_edit_list(movie.video()));
    const std::vector<MediaRange> ranges = media_ranges(movie.atoms);
    for (const Track& track : movie.tracks) TRY_VOID(validate_sample_layout(track, ranges));
    TRY(movie.existing_timecode, read_existing_timecode(movie));
    movie.existing_reel = read_existing_reel(movie);
    // Last, and never a refusal: a movie reads the same with or without it.
    movie.recorded_time = read_recorded_time(moov_children);
    movie.stamp_record = read_stamp_record(moov_children);
    return movie;
}

}  // namespace velmora
