#include "movie_builder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace velmora::testing {

namespace {

Bytes zeros(std::size_t count) { return Bytes(count, 0); }

Bytes concat(std::initializer_list<ByteView> parts) {
    Bytes out;
    for (ByteView part : parts) append_bytes(out, part);
    return out;
}

std::pair<std::string_view, std::size_t> split_step(std::string_view step) {
    const auto hash = step.find('#');
    if (hash == std::string_view::npos) return {step, 0};
    return {step.substr(0, hash), static_cast<std::size_t>(std::stoul(std::string(step.substr(hash + 1))))};
}

FourCC code_of(std::string_view text) {
    if (text.size() != 4) throw std::invalid_argument("atom code must be four bytes: " + std::string(text));
    FourCC code;
    for (std::size_t i = 0; i < 4; ++i) code.bytes[i] = static_cast<std::uint8_t>(text[i]);
    return code;
}

// The index of the n-th child of a type, or throws.
std::size_t child_index(const std::vector<Atom>& children, std::string_view step) {
    const auto [name, wanted] = split_step(step);
    const FourCC code = code_of(name);
    std::size_t seen = 0;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (children[i].type == code && seen++ == wanted) return i;
    throw std::out_of_range("no atom " + std::string(step));
}

std::vector<std::string_view> steps_of(std::string_view path) {
    std::vector<std::string_view> steps;
    while (!path.empty()) {
        const auto slash = path.find('/');
        steps.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return steps;
}

Atom& walk(std::vector<Atom>& level, std::string_view path) {
    Atom* current = nullptr;
    std::vector<Atom>* children = &level;
    for (std::string_view step : steps_of(path)) {
        current = &(*children)[child_index(*children, step)];
        children = &current->children;
    }
    if (current == nullptr) throw std::out_of_range("empty atom path");
    return *current;
}

std::uint64_t total_samples(const TrackSpec& track) {
    std::uint64_t total = 0;
    for (const auto& [count, delta] : track.timing) total += count;
    return total;
}

std::uint64_t timing_duration(const TrackSpec& track) {
    std::uint64_t total = 0;
    for (const auto& [count, delta] : track.timing) total += std::uint64_t{count} * delta;
    return total;
}

std::uint32_t sample_size(const TrackSpec& track, std::uint64_t index) {
    return track.sample_sizes.empty() ? track.constant_sample_size : track.sample_sizes.at(index);
}

// Sample counts of the track's chunks, in order.
std::vector<std::uint32_t> chunk_lengths(const TrackSpec& track) {
    const std::uint64_t samples = total_samples(track);
    const std::uint64_t per_chunk = track.samples_per_chunk == 0 ? samples : track.samples_per_chunk;
    std::vector<std::uint32_t> chunks;
    for (std::uint64_t placed = 0; placed < samples; placed += per_chunk)
        chunks.push_back(static_cast<std::uint32_t>(std::min(per_chunk, samples - placed)));
    return chunks;
}

Bytes media_bytes(const TrackSpec& track) {
    std::uint64_t size = 0;
    for (std::uint64_t i = 0; i < total_samples(track); ++i) size += sample_size(track, i);
    Bytes data = track.sample_data;
    data.resize(size, 0);
    return data;
}

Bytes movie_header(const MovieSpec& recipe, std::uint32_t next_track_id) {
    const bool v1 = recipe.mvhd_version == 1 || recipe.creation_time > UINT32_MAX;
    Bytes out;
    append_u32_be(out, v1 ? 0x01000000u : 0u);
    if (v1) {
        append_u64_be(out, recipe.creation_time);
        append_u64_be(out, recipe.creation_time);
        append_u32_be(out, recipe.movie_timescale);
        append_u64_be(out, 0);
    } else {
        append_u32_be(out, static_cast<std::uint32_t>(recipe.creation_time));
        append_u32_be(out, static_cast<std::uint32_t>(recipe.creation_time));
        append_u32_be(out, recipe.movie_timescale);
        append_u32_be(out, 0);
    }
    append_u32_be(out, 0x00010000);  // rate 1.0
    append_u16_be(out, 0x0100);      // volume 1.0
    append_bytes(out, zeros(10));
    for (std::uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) append_u32_be(out, m);
    append_bytes(out, zeros(24));
    append_u32_be(out, next_track_id);
    return out;
}

Bytes track_header(const TrackSpec& track, std::uint32_t track_id) {
    Bytes out;
    append_u32_be(out, (std::uint32_t{track.tkhd_version} << 24) | 0x3u);  // enabled, in movie
    if (track.tkhd_version == 1) {
        append_u64_be(out, 0);
        append_u64_be(out, 0);
        append_u32_be(out, track_id);
        append_u32_be(out, 0);
        append_u64_be(out, 0);
    } else {
        append_u32_be(out, 0);
        append_u32_be(out, 0);
        append_u32_be(out, track_id);
        append_u32_be(out, 0);
        append_u32_be(out, 0);
    }
    append_bytes(out, zeros(8));
    append_u16_be(out, 0);  // layer
    append_u16_be(out, 0);  // alternate group
    append_u16_be(out, track.handler == FourCC("soun") ? 0x0100 : 0);
    append_u16_be(out, 0);
    for (std::uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) append_u32_be(out, m);
    append_u32_be(out, std::uint32_t{track.width} << 16);
    append_u32_be(out, std::uint32_t{track.height} << 16);
    return out;
}

Bytes media_header(const TrackSpec& track) {
    const std::uint64_t duration = track.media_duration.value_or(timing_duration(track));
    Bytes out;
    append_u32_be(out, std::uint32_t{track.mdhd_version} << 24);
    if (track.mdhd_version == 1) {
        append_u64_be(out, 0);
        append_u64_be(out, 0);
        append_u32_be(out, track.timescale);
        append_u64_be(out, duration);
    } else {
        append_u32_be(out, 0);
        append_u32_be(out, 0);
        append_u32_be(out, track.timescale);
        append_u32_be(out, static_cast<std::uint32_t>(duration));
    }
    append_u16_be(out, 0x55c4);  // language "und"
    append_u16_be(out, 0);
    return out;
}

Bytes handler_payload(FourCC handler) {
    Bytes out = pack_u32_be({0});
    append_bytes(out, FourCC("mhlr").bytes);
    append_bytes(out, handler.bytes);
    append_bytes(out, zeros(12));
    out.push_back(0);  // empty name
    return out;
}

// The sample description entry's payload after its 8-byte header.
Bytes sample_entry_body(const TrackSpec& track) {
    Bytes out = zeros(6);
    append_u16_be(out, 1);  // data reference index
    if (track.timecode) {
        append_u32_be(out, 0);
        append_u32_be(out, track.timecode->flags);
        append_u32_be(out, track.timecode->timescale);
        append_u32_be(out, track.timecode->frame_duration);
        out.push_back(track.timecode->frames_per_second);
        out.push_back(0);
        append_bytes(out, track.timecode->source_reference);
    } else if (track.handler == FourCC("vide")) {
        append_bytes(out, zeros(16));  // version, revision, vendor, qualities
        append_u16_be(out, track.width);
        append_u16_be(out, track.height);
        append_u32_be(out, 0x00480000);  // 72 dpi
        append_u32_be(out, 0x00480000);
        append_u32_be(out, 0);
        append_u16_be(out, 1);  // frames per sample
        append_bytes(out, zeros(32));
        append_u16_be(out, 24);
        append_u16_be(out, 0xffff);
    } else if (track.handler == FourCC("soun")) {
        append_bytes(out, zeros(8));
        append_u16_be(out, 2);   // channels
        append_u16_be(out, 16);  // bits
        append_u32_be(out, 0);
        append_u32_be(out, track.timescale << 16);
    } else {
        append_bytes(out, zeros(8));
    }
    return out;
}

Bytes sample_description(const TrackSpec& track) {
    Bytes out = pack_u32_be({0, 1});
    append_bytes(out, make_atom(track.sample_entry, sample_entry_body(track)));
    return out;
}

Atom media_information_header(const TrackSpec& track) {
    if (track.handler == FourCC("vide")) return leaf("vmhd", pack_u32_be({1, 0, 0}));
    if (track.handler == FourCC("soun")) return leaf("smhd", pack_u32_be({0, 0}));
    return container("gmhd", {leaf("gmin", concat({pack_u32_be({0, 0x00408000, 0x80008000}), pack_u32_be({0})}))});
}

Atom edit_box(const std::vector<EditEntry>& edits) {
    std::uint8_t version = 0;
    for (const EditEntry& edit : edits)
        if (edit.segment_duration > UINT32_MAX || edit.media_time > INT32_MAX || edit.media_time < INT32_MIN)
            version = 1;
    return container("edts", {leaf("elst", elst_payload(version, edits))});
}

Atom track_atom(const TrackSpec& track, std::uint32_t track_id, const std::vector<std::uint64_t>& offsets) {
    const std::vector<std::uint32_t> chunks = chunk_lengths(track);
    std::vector<std::array<std::uint32_t, 3>> runs;
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (runs.empty() || runs.back()[1] != chunks[i])
            runs.push_back({static_cast<std::uint32_t>(i + 1), chunks[i], 1});

    const auto count = static_cast<std::uint32_t>(total_samples(track));
    Bytes sizes = track.sample_sizes.empty() ? stsz_payload(track.constant_sample_size, count)
                                             : stsz_payload(0, count, track.sample_sizes);
    Atom offsets_atom = leaf("stco");
    if (track.co64) {
        offsets_atom = leaf("co64", co64_payload(offsets));
    } else {
        std::vector<std::uint32_t> narrow;
        narrow.reserve(offsets.size());
        for (std::uint64_t offset : offsets) narrow.push_back(static_cast<std::uint32_t>(offset));
        offsets_atom = leaf("stco", stco_payload(narrow));
    }
    Atom stbl =
        container("stbl", {leaf("stsd", sample_description(track)), leaf("stts", stts_payload(track.timing)),
                           leaf("stsc", stsc_payload(runs)), leaf("stsz", std::move(sizes)), std::move(offsets_atom)});
    Atom dinf = container("dinf", {leaf("dref", dref_payload(1, {dref_entry(track.dref_entry, track.dref_flags)}))});
    Atom minf = container("minf", {media_information_header(track), std::move(dinf), std::move(stbl)});
    Atom mdia = container(
        "mdia", {leaf("mdhd", media_header(track)), leaf("hdlr", handler_payload(track.handler)), std::move(minf)});
    std::vector<Atom> trak_children{leaf("tkhd", track_header(track, track_id))};
    if (track.edits) trak_children.push_back(edit_box(*track.edits));
    trak_children.push_back(std::move(mdia));
    return container("trak", std::move(trak_children));
}

}  // namespace

std::string temp_base() {
    const char* base = std::getenv("TMPDIR");
    if (base != nullptr && *base != '\0') return base;
    if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return "/tmp";
}

Bytes Atom::bytes() const {
    Bytes body = payload;
    if (container) {
        for (const Atom& child : children) append_bytes(body, child.bytes());
    }
    Bytes out;
    const std::uint64_t header = large_size ? 16 : 8;
    const std::uint64_t total = header + body.size();
    append_u32_be(out, size_field.value_or(large_size ? 1u : static_cast<std::uint32_t>(total)));
    append_bytes(out, type.bytes);
    if (large_size) append_u64_be(out, total);
    append_bytes(out, body);
    return out;
}

Atom& Atom::at(std::string_view path) { return walk(children, path); }

Atom leaf(FourCC type, Bytes payload) {
    Atom atom;
    atom.type = type;
    atom.payload = std::move(payload);
    return atom;
}

Atom container(FourCC type, std::vector<Atom> children) {
    Atom atom;
    atom.type = type;
    atom.children = std::move(children);
    atom.container = true;
    return atom;
}

Atom& find(Atoms& top, std::string_view path) { return walk(top, path); }

void remove(Atoms& top, std::string_view path) {
    const auto slash = path.rfind('/');
    std::vector<Atom>& siblings = slash == std::string_view::npos ? top : walk(top, path.substr(0, slash)).children;
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(child_index(siblings, last)));
}

Bytes serialize(const Atoms& top) {
    Bytes out;
    for (const Atom& atom : top) append_bytes(out, atom.bytes());
    return out;
}

TrackSpec video_track(FourCC sample_entry, std::uint32_t timescale, std::uint32_t delta, std::uint32_t samples) {
    TrackSpec track;
    track.sample_entry = sample_entry;
    track.timescale = timescale;
    track.timing = {{samples, delta}};
    return track;
}

TrackSpec audio_track(FourCC sample_entry) {
    TrackSpec track;
    track.handler = "soun";
    track.sample_entry = sample_entry;
    track.timescale = 48000;
    track.timing = {{10, 1024}};
    track.width = 0;
    track.height = 0;
    return track;
}

TrackSpec timecode_track(std::uint32_t start, TimecodeEntry entry) {
    TrackSpec track;
    track.handler = "tmcd";
    track.sample_entry = "tmcd";
    track.timescale = entry.timescale;
    track.timing = {{1, entry.frame_duration}};
    track.width = 0;
    track.height = 0;
    track.timecode = entry;
    track.sample_data = pack_u32_be({start});
    return track;
}

TrackSpec picture_track() {
    TrackSpec track;
    track.sample_entry = "jpeg";
    track.timescale = 600;
    track.timing = {{1, 600}};
    return track;
}

FourCC item_type(std::uint32_t key_index) {
    FourCC code;
    put_u32_be(code.bytes, 0, key_index);
    return code;
}

Atom data_atom(std::uint32_t type, std::string_view value) {
    Bytes payload = pack_u32_be({type, 0});
    payload.insert(payload.end(), value.begin(), value.end());
    return leaf("data", std::move(payload));
}

namespace {

Atom metadata_atom(const std::string& creation_date) {
    Bytes handler = pack_u32_be({0, 0});
    append_bytes(handler, FourCC("mdta").bytes);
    append_bytes(handler, zeros(13));
    Bytes keys = pack_u32_be({0, 2});
    for (std::string_view key : {"com.apple.quicktime.make", "com.apple.quicktime.creationdate"}) {
        append_u32_be(keys, static_cast<std::uint32_t>(8 + key.size()));
        append_bytes(keys, FourCC("mdta").bytes);
        keys.insert(keys.end(), key.begin(), key.end());
    }
    return container("meta", {leaf("hdlr", std::move(handler)), leaf("keys", std::move(keys)),
                              container("ilst", {container(item_type(1), {data_atom(1, "Apple")}),
                                                 container(item_type(2), {data_atom(1, creation_date)})})});
}

}  // namespace

Atoms build_movie(const MovieSpec& recipe) {
    Atoms top;
    if (recipe.ftyp)
        top.push_back(leaf("ftyp", concat({FourCC("qt  ").bytes, pack_u32_be({0x200}), FourCC("qt  ").bytes})));
    std::uint64_t position = top.empty() ? 0 : top.front().bytes().size();

    // Lay the chunks out in track order, opening a new mdat every N chunks.
    std::vector<std::vector<std::uint64_t>> offsets(recipe.tracks.size());
    std::vector<Atom> mdats{leaf("mdat")};
    std::uint32_t chunks_in_mdat = 0;
    for (std::size_t t = 0; t < recipe.tracks.size(); ++t) {
        const TrackSpec& track = recipe.tracks[t];
        const Bytes data = media_bytes(track);
        std::uint64_t sample = 0;
        std::uint64_t cursor = 0;
        for (std::uint32_t samples : chunk_lengths(track)) {
            if (recipe.chunks_per_mdat != 0 && chunks_in_mdat == recipe.chunks_per_mdat) {
                position += 8 + mdats.back().payload.size();
                mdats.push_back(leaf("mdat"));
                chunks_in_mdat = 0;
            }
            Bytes& payload = mdats.back().payload;
            std::uint64_t length = 0;
            for (std::uint32_t i = 0; i < samples; ++i) length += sample_size(track, sample + i);
            offsets[t].push_back(position + 8 + payload.size());
            payload.insert(payload.end(), data.begin() + static_cast<std::ptrdiff_t>(cursor),
                           data.begin() + static_cast<std::ptrdiff_t>(cursor + length));
            cursor += length;
            sample += samples;
            ++chunks_in_mdat;
        }
    }
    for (Atom& atom : mdats) top.push_back(std::move(atom));

    std::vector<Atom> moov{leaf("mvhd", movie_header(recipe, static_cast<std::uint32_t>(recipe.tracks.size() + 1)))};
    for (std::size_t t = 0; t < recipe.tracks.size(); ++t) {
        const TrackSpec& track = recipe.tracks[t];
        const std::uint32_t id = track.track_id != 0 ? track.track_id : static_cast<std::uint32_t>(t + 1);
        moov.push_back(track_atom(track, id, offsets[t]));
    }
    if (recipe.creation_date) moov.push_back(metadata_atom(*recipe.creation_date));
    top.push_back(container("moov", std::move(moov)));
    return top;
}

Bytes build_movie_bytes(const MovieSpec& recipe) { return serialize(build_movie(recipe)); }

Bytes stts_payload(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
    Bytes out = pack_u32_be({0, static_cast<std::uint32_t>(entries.size())});
    for (const auto& [count, delta] : entries) append_bytes(out, pack_u32_be({count, delta}));
    return out;
}

Bytes stsz_payload(std::uint32_t constant_size, std::uint32_t count, const std::vector<std::uint32_t>& sizes) {
    Bytes out = pack_u32_be({0, constant_size, count});
    for (std::uint32_t size : sizes) append_u32_be(out, size);
    return out;
}

Bytes stsc_payload(const std::vector<std::array<std::uint32_t, 3>>& entries) {
    Bytes out = pack_u32_be({0, static_cast<std::uint32_t>(entries.size())});
    for (const auto& entry : entries) append_bytes(out, pack_u32_be({entry[0], entry[1], entry[2]}));
    return out;
}

Bytes stco_payload(const std::vector<std::uint32_t>& offsets) {
    Bytes out = pack_u32_be({0, static_cast<std::uint32_t>(offsets.size())});
    for (std::uint32_t offset : offsets) append_u32_be(out, offset);
    return out;
}

Bytes co64_payload(const std::vector<std::uint64_t>& offsets) {
    Bytes out = pack_u32_be({0, static_cast<std::uint32_t>(offsets.size())});
    for (std::uint64_t offset : offsets) append_u64_be(out, offset);
    return out;
}

Bytes elst_payload(std::uint8_t version, const std::vector<EditEntry>& entries) {
    Bytes out = pack_u32_be({std::uint32_t{version} << 24, static_cast<std::uint32_t>(entries.size())});
    for (const EditEntry& entry : entries) {
        if (version == 1) {
            append_u64_be(out, entry.segment_duration);
            append_u64_be(out, static_cast<std::uint64_t>(entry.media_time));
        } else {
            append_u32_be(out, static_cast<std::uint32_t>(entry.segment_duration));
            append_u32_be(out, static_cast<std::uint32_t>(entry.media_time));
        }
        append_u32_be(out, entry.rate);
    }
    return out;
}

Bytes dref_payload(std::uint32_t count, const std::vector<Atom>& entries) {
    Bytes out = pack_u32_be({0, count});
    for (const Atom& entry : entries) append_bytes(out, entry.bytes());
    return out;
}

Atom dref_entry(FourCC type, std::uint32_t flags, Bytes rest) {
    Bytes payload = pack_u32_be({flags});
    append_bytes(payload, rest);
    return leaf(type, std::move(payload));
}

std::uint32_t read_u32(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | bytes.at(offset + i);
    return value;
}

void set_u16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value >> 8);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value);
}

void set_u32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void set_u64(Bytes& bytes, std::size_t offset, std::uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (56 - 8 * i));
}

TempFile::TempFile(const Bytes& contents, std::string_view suffix) {
    std::string pattern = temp_base() + "/velmora-test-XXXXXX";
    pattern += suffix;
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw std::runtime_error("mkstemps failed");
    ::close(fd);
    path_ = pattern;
    write_file(path_, contents);
}

TempFile::~TempFile() { ::unlink(path_.c_str()); }

TempDir::TempDir() {
    std::string pattern = temp_base() + "/velmora-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace velmora::testing
