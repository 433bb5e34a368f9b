#pragma once
// Test-only movie builder: assembles QuickTime movies from a description, so
// that a test can start from a good movie and change exactly one thing.
//
//   MovieSpec recipe;                          // one 29.97 fps avc1 track, 10 samples
//   recipe.tracks.push_back(audio_track());    // plus an aac track
//   Atoms movie = build_movie(recipe);         // ftyp, mdat, moov; chunk offsets filled in
//   find(movie, "moov/trak/mdia/minf/stbl/stts").payload = stts_payload({{9, 1001}, {1, 1000}});
//   TempFile file(serialize(movie));
//   auto opened = velmora::open_movie(file.path());
//
// Paths name atoms by type, separated by "/"; "trak#1" is the second `trak`
// among its siblings (a trailing-space code such as "url " is written as is).
// The media data precedes the movie atom, so editing anything inside `moov`
// never moves a sample. All integers are written big-endian.

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "atoms.h"

namespace velmora::testing {

// One atom: a leaf with a payload, or a container with children.
struct Atom {
    FourCC type;
    Bytes payload;  // of a container: written before its children (a full box's version and flags)
    std::vector<Atom> children;
    bool container = false;
    std::optional<std::uint32_t> size_field;  // written instead of the true 32-bit size (0, 1, a lie)
    bool large_size = false;                  // 16-byte header: size field 1, then a 64-bit size

    Bytes bytes() const;
    // The descendant at a relative path such as "mdia/minf/stbl"; throws when absent.
    Atom& at(std::string_view path);
};
using Atoms = std::vector<Atom>;

Atom leaf(FourCC type, Bytes payload = {});
Atom container(FourCC type, std::vector<Atom> children);

// The atom at a path from the top level ("moov/trak#1/tkhd"); throws when absent.
Atom& find(Atoms& top, std::string_view path);
// Removes the atom at the path; throws when absent.
void remove(Atoms& top, std::string_view path);
Bytes serialize(const Atoms& top);

// The single `tmcd` sample description of a timecode track.
struct TimecodeEntry {
    std::uint32_t flags = 0;  // bit 0: drop-frame
    std::uint32_t timescale = 30000;
    std::uint32_t frame_duration = 1001;
    std::uint8_t frames_per_second = 30;
    Bytes source_reference;  // behind the pad byte: a reel's `name` atom, or what another maker put there
};

// One untrimmed-or-not edit in an `elst`.
struct EditEntry {
    std::uint64_t segment_duration = 0;
    std::int64_t media_time = 0;
    std::uint32_t rate = 0x10000;
};

struct TrackSpec {
    std::uint32_t track_id = 0;  // 0: position in the movie plus one
    FourCC handler{"vide"};
    FourCC sample_entry{"avc1"};
    std::uint32_t timescale = 30000;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> timing{{10, 1001}};  // stts (count, delta)
    std::optional<std::uint64_t> media_duration;                              // default: the timing total
    std::uint16_t width = 320;
    std::uint16_t height = 240;
    std::uint32_t constant_sample_size = 4;   // used when sample_sizes is empty
    std::vector<std::uint32_t> sample_sizes;  // per-sample sizes (stsz sample size 0)
    std::uint32_t samples_per_chunk = 0;      // 0: every sample in one chunk
    Bytes sample_data;                        // the track's media bytes; default zeros
    bool co64 = false;                        // 64-bit chunk offsets
    FourCC dref_entry{"url "};
    std::uint32_t dref_flags = 1;  // bit 0: media in this file
    std::uint8_t mdhd_version = 0;
    std::uint8_t tkhd_version = 0;
    std::optional<TimecodeEntry> timecode;        // for a `tmcd` sample description
    std::optional<std::vector<EditEntry>> edits;  // an edts/elst (version 0 unless an entry needs 64 bits)
};

struct MovieSpec {
    std::vector<TrackSpec> tracks{TrackSpec{}};
    std::uint32_t movie_timescale = 600;
    std::uint64_t creation_time = 0;  // seconds since 1904; above 32 bits selects mvhd version 1
    std::uint8_t mvhd_version = 0;
    std::uint32_t chunks_per_mdat = 0;  // 0: one mdat; otherwise a new mdat every N chunks
    bool ftyp = true;                   // old QuickTime movies start directly with their media data
    // As Apple devices keep it: a moov/meta after the tracks whose `keys` list
    // "com.apple.quicktime.make" and "com.apple.quicktime.creationdate", and
    // whose `ilst` holds "Apple" and this text as UTF-8 items 1 and 2.
    std::optional<std::string> creation_date;
};

// Ready-made tracks.
TrackSpec video_track(FourCC sample_entry = "avc1", std::uint32_t timescale = 30000, std::uint32_t delta = 1001,
                      std::uint32_t samples = 10);
TrackSpec audio_track(FourCC sample_entry = "mp4a");
// A timecode track whose single sample holds `start` (the frame number).
TrackSpec timecode_track(std::uint32_t start, TimecodeEntry entry = {});
// A single-sample jpeg picture (an attached cover), handler vide.
TrackSpec picture_track();

// The `ilst` item of a 1-based key index (its type is the index, not a code).
FourCC item_type(std::uint32_t key_index);
// A `data` atom: type indicator (a zero byte, then the well-known type), locale 0, the value.
Atom data_atom(std::uint32_t type, std::string_view value);

Atoms build_movie(const MovieSpec& recipe);
Bytes build_movie_bytes(const MovieSpec& recipe);

// Table payloads, for replacing one table of a built movie.
Bytes stts_payload(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries);
Bytes stsz_payload(std::uint32_t constant_size, std::uint32_t count, const std::vector<std::uint32_t>& sizes = {});
Bytes stsc_payload(const std::vector<std::array<std::uint32_t, 3>>& entries);  // first chunk, samples, description
Bytes stco_payload(const std::vector<std::uint32_t>& offsets);
Bytes co64_payload(const std::vector<std::uint64_t>& offsets);
Bytes elst_payload(std::uint8_t version, const std::vector<EditEntry>& entries);
// A dref holding the given entries (each a whole atom), with the given count.
Bytes dref_payload(std::uint32_t count, const std::vector<Atom>& entries);
Atom dref_entry(FourCC type, std::uint32_t flags, Bytes rest = {});

std::uint32_t read_u32(const Bytes& bytes, std::size_t offset);
void set_u16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void set_u32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void set_u64(Bytes& bytes, std::size_t offset, std::uint64_t value);

// Where temporary test files go: TMPDIR, else the memory file system
// (thousands of small files are created and removed), else /tmp.
std::string temp_base();

// A file holding the given bytes, removed when the object goes away.
class TempFile {
public:
    explicit TempFile(const Bytes& contents, std::string_view suffix = ".mov");
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A fresh directory, removed with its contents when the object goes away.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& contents);

}  // namespace velmora::testing

namespace velmora {

// Failure messages show a recorded time by its numbers (found next to the type).
inline void PrintTo(const RecordedTime& t, std::ostream* os) {
    *os << t.unix_seconds << " s at " << t.offset_minutes << " min";
}

}  // namespace velmora
