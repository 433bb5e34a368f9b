#include "probe_report.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <numeric>

#include "movie.h"
#include "utf8.h"

namespace velmora {

namespace {

constexpr std::uint64_t kUnixEpochFrom1904 = 2'082'844'800;

struct CodecName {
    FourCC code;
    std::string_view name;
};

constexpr std::array<CodecName, 16> kCodecNames{{
    {"hvc1", "hevc"},   {"hev1", "hevc"},      {"avc1", "h264"},      {"avc3", "h264"},
    {"apch", "prores"}, {"apcn", "prores"},    {"apcs", "prores"},    {"apco", "prores"},
    {"ap4h", "prores"}, {"ap4x", "prores"},    {"mp4v", "mpeg4"},     {"mp4a", "aac"},
    {"sowt", "pcm_s16le"}, {"twos", "pcm_s16be"}, {"jpeg", "mjpeg"}, {"tmcd", "timecode"},
}};

std::string_view stream_type(FourCC handler) {
    if (handler == FourCC("vide")) return "video";
    if (handler == FourCC("soun")) return "audio";
    return "data";
}

std::string tag_text(FourCC code) {
    return utf8_lossy(std::string_view(reinterpret_cast<const char*>(code.bytes.data()), code.bytes.size()));
}

bool is_attached_picture(const Track& track) {
    return track.sample_entry == FourCC("jpeg") && track.sample_count == 1;
}

std::string reduced_rate(std::uint32_t timescale, std::uint32_t delta) {
    const std::uint32_t g = std::gcd(timescale, delta);
    return std::to_string(timescale / g) + "/" + std::to_string(delta / g);
}

std::string stream_object(std::size_t index, const Track& track) {
    std::string out = "{\"index\":" + std::to_string(index);
    out += ",\"trackId\":" + std::to_string(track.track_id);
    out += ",\"type\":" + json_string(stream_type(track.handler));
    out += ",\"codec\":" + json_string(codec_name(track.sample_entry));
    out += ",\"tag\":" + json_string(tag_text(track.sample_entry));
    out += ",\"attachedPicture\":";
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

std::string format_duration(double seconds) {
    // The shortest digits that read back as the same double come from the
    // scientific form; they are then laid out positionally, padded with zeros.
    std::array<char, 64> text{};
    const auto written =
        std::to_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::scientific);
    const std::string_view scientific(text.data(), static_cast<std::size_t>(written.ptr - text.data()));
    const std::size_t e = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, e);
    std::string out;
    if (mantissa.starts_with('-')) {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits += c;
    int exponent = 0;
    std::string_view exponent_text = scientific.substr(e + 1);
    if (exponent_text.starts_with('+')) exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

    const auto count = static_cast<int>(digits.size());
    if (exponent >= count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
    } else if (exponent >= 0) {
        const std::size_t whole_digits = static_cast<std::size_t>(exponent) + 1;
        out += digits.substr(0, whole_digits);
        out += '.';
        out += digits.substr(whole_digits);
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

std::string format_created_unix(std::uint64_t creation_time) {
    if (creation_time == 0) return "null";
    if (creation_time >= kUnixEpochFrom1904) return std::to_string(creation_time - kUnixEpochFrom1904);
    return "-" + std::to_string(kUnixEpochFrom1904 - creation_time);
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    std::array<char, 8> escape{};
                    std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(c));
                    out += escape.data();
                } else {
                    out += c;
                }
        }
    }
    out += "\"";
    return out;
}

std::string probe_report(const Movie& movie) {
    const Track& video = movie.video();
    const double duration = static_cast<double>(video.media_duration) / static_cast<double>(video.media_timescale);
    std::string out = "{\"engine\":\"velmora-native\"";
    const FrameRate rate = movie.video_rate();
    out += ",\"rate\":\"" + reduced_rate(rate.timescale, rate.frame_duration) + "\"";
    out += ",\"duration\":" + format_duration(duration);
    out += ",\"timecode\":" + (movie.existing_timecode ? json_string(*movie.existing_timecode) : "null");
    out += ",\"createdUnix\":" + format_created_unix(movie.creation_time);
    out += ",\"width\":" + std::to_string(video.width);
    out += ",\"height\":" + std::to_string(video.height);
    out += ",\"codec\":" + json_string(codec_name(video.sample_entry));
    out += ",\"videoIndex\":" + std::to_string(movie.video_index);
    out += ",\"streams\":[";
    for (std::size_t i = 0; i < movie.tracks.size(); ++i) {
        if (i != 0) out += ",";
        out += stream_object(i, movie.tracks[i]);
    }
    out += "]";
    // Only a video labelled at a standard rate it does not keep tells what it measured.
    if (movie.variable_rate) out += ",\"measuredRate\":\"" + movie.variable_rate->measured + "\"";
    out += "}";
    return out;
}

}  // namespace velmora
