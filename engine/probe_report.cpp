#include "probe_report.h"

#include <array>
#include <cstdlib>
#include <numeric>

#include "json_writer.h"
#include "movie.h"
#include "names.h"
#include "utf8.h"

namespace velmora {

namespace {

constexpr std::uint64_t kUnixEpochFrom1904 = 2'082'844'800;

struct CodecName {
    FourCC code;
    std::string_view name;
};

// clang-format off
constexpr std::array<CodecName, 16> kCodecNames{{
    {"hvc1", "hevc"},   {"hev1", "hevc"},      {"avc1", "h264"},      {"avc3", "h264"},
    {"apch", "prores"}, {"apcn", "prores"},    {"apcs", "prores"},    {"apco", "prores"},
    {"ap4h", "prores"}, {"ap4x", "prores"},    {"mp4v", "mpeg4"},     {"mp4a", "aac"},
    {"sowt", "pcm_s16le"}, {"twos", "pcm_s16be"}, {"jpeg", "mjpeg"}, {"tmcd", "timecode"},
}};
// clang-format on

std::string_view stream_type(FourCC handler) {
    if (handler == FourCC("vide")) return "video";
    if (handler == FourCC("soun")) return "audio";
    return "data";
}

std::string tag_text(FourCC code) {
    return decode_utf8_lossy(std::string_view(reinterpret_cast<const char*>(code.bytes.data()), code.bytes.size()));
}

std::string two_digits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

bool is_attached_picture(const Track& track) { return track.sample_entry == FourCC("jpeg") && track.sample_count == 1; }

std::string reduced_rate(std::uint32_t timescale, std::uint32_t delta) {
    const std::uint32_t g = std::gcd(timescale, delta);
    return std::to_string(timescale / g) + "/" + std::to_string(delta / g);
}

// Opens a member: a comma unless it is the object's first, then the quoted key.
void append_key(std::string& out, std::string_view key) {
    if (out.back() != '{') out += ',';
    append_json_string(out, key);
    out += ':';
}

std::string stream_object(std::size_t index, const Track& track) {
    using namespace report_key;
    std::string out = "{";
    append_key(out, kIndex);
    out += std::to_string(index);
    append_key(out, kTrackId);
    out += std::to_string(track.track_id);
    append_key(out, kType);
    out += json_string(stream_type(track.handler));
    append_key(out, kCodec);
    out += json_string(codec_name(track.sample_entry));
    append_key(out, kTag);
    out += json_string(tag_text(track.sample_entry));
    append_key(out, kAttachedPicture);
    out += is_attached_picture(track) ? "true" : "false";
    out += "}";
    return out;
}

}  // namespace

std::string_view codec_name(FourCC sample_entry) {
    for (const CodecName& known : kCodecNames)
        if (known.code == sample_entry) return known.name;
    return "opaque";
}

std::string format_duration(double seconds) { return positional_decimal(seconds); }

std::string format_created_unix(std::uint64_t creation_time) {
    if (creation_time == 0) return "null";
    if (creation_time >= kUnixEpochFrom1904) return std::to_string(creation_time - kUnixEpochFrom1904);
    return "-" + std::to_string(kUnixEpochFrom1904 - creation_time);
}

std::string format_recorded_offset(int offset_minutes) {
    const int magnitude = std::abs(offset_minutes);
    return std::string(offset_minutes < 0 ? "-" : "+") + two_digits(magnitude / 60) + ":" + two_digits(magnitude % 60);
}

std::string probe_report(const Movie& movie) {
    using namespace report_key;
    const Track& video = movie.video();
    const double duration = static_cast<double>(video.media_duration) / static_cast<double>(video.media_timescale);
    std::string out = "{";
    append_key(out, kEngine);
    out += "\"velmora-native\"";
    const FrameRate rate = movie.video_rate();
    append_key(out, kRate);
    out += json_string(reduced_rate(rate.timescale, rate.frame_duration));
    append_key(out, kDuration);
    out += format_duration(duration);
    append_key(out, kTimecode);
    out += movie.existing_timecode ? json_string(*movie.existing_timecode) : "null";
    if (movie.existing_reel) {
        append_key(out, kReel);
        out += json_string(*movie.existing_reel);
    }
    if (movie.stamp_record) {
        append_key(out, kAppended);
        out += "true";
    }
    append_key(out, kCreatedUnix);
    out += format_created_unix(movie.creation_time);
    append_key(out, kWidth);
    out += std::to_string(video.width);
    append_key(out, kHeight);
    out += std::to_string(video.height);
    append_key(out, kCodec);
    out += json_string(codec_name(video.sample_entry));
    append_key(out, kVideoIndex);
    out += std::to_string(movie.video_index);
    append_key(out, kStreams);
    out += "[";
    for (std::size_t i = 0; i < movie.tracks.size(); ++i) {
        if (i != 0) out += ",";
        out += stream_object(i, movie.tracks[i]);
    }
    out += "]";
    // Only a video labelled at a standard rate it does not keep tells what it measured.
    if (movie.variable_rate) {
        append_key(out, kMeasuredRate);
        out += json_string(movie.variable_rate->measured);
    }
    // Only a movie that knows when recording began tells it.
    if (movie.recorded_time) {
        append_key(out, kRecordedUnix);
        out += std::to_string(movie.recorded_time->unix_seconds);
        append_key(out, kRecordedOffset);
        out += json_string(format_recorded_offset(movie.recorded_time->offset_minutes));
    }
    out += "}";
    return out;
}

}  // namespace velmora
