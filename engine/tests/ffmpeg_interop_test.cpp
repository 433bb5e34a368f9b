// Real movies from ffmpeg: probe must agree with ffprobe on what both report,
// and refuse what ffmpeg writes fragmented.
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "peers.h"
#include "support/movie_builder.h"
#include "support/program_run.h"

namespace velmora {
namespace {

using nlohmann::json;
using testing::run_program;

struct Fixture {
    const char* name;
    std::vector<std::string> ffmpeg_args;  // between the inputs and the output
    bool audio;
    const char* rate;     // the video frame rate given to the source
    const char* refusal;  // nullptr: accepted
    const char* reel;     // the reel ffmpeg names on the timecode track, if any
};

const std::string kAudio = "sine=frequency=440:sample_rate=48000";

// clang-format off
const Fixture kFixtures[] = {
    {"h264_aac_25.mov", {"-c:v", "libx264", "-bf", "0", "-c:a", "aac"}, true, "25", nullptr},
    {"prores_pcm_23976.mov", {"-c:v", "prores_ks", "-profile:v", "2", "-c:a", "pcm_s16le"}, true, "24000/1001", nullptr},
    {"mjpeg_2997_drop.mov", {"-c:v", "mjpeg", "-timecode", "01:00:00;00"}, false, "30000/1001", nullptr},
    {"mjpeg_pcm_be_25_timecode.mov", {"-c:v", "mjpeg", "-c:a", "pcm_s16be", "-timecode", "00:59:59:24"}, true, "25",
     nullptr},
    {"h264_5994_created.mp4",
     {"-c:v", "libx264", "-bf", "0", "-c:a", "aac", "-metadata", "creation_time=2024-01-02T03:04:05Z"}, true,
     "60000/1001", nullptr},
    {"h264_5994_drop.mov", {"-c:v", "libx264", "-bf", "0", "-timecode", "23:59:59;59"}, false, "60000/1001", nullptr},
    {"h264_2997_timecode.m4v", {"-c:v", "libx264", "-bf", "0", "-c:a", "aac", "-timecode", "10:00:00:00",
                                "-write_tmcd", "1"}, true, "30000/1001", nullptr},
    // ffmpeg's timecode track takes its reel from the video stream's metadata.
    {"mjpeg_25_timecode_reel.mov", {"-c:v", "mjpeg", "-timecode", "01:00:00:00", "-metadata:s:v:0",
                                    "reel_name=A001C003"}, false, "25", nullptr, "A001C003"},
    // Default encodes with B-frames: one edit skipping the composition delay.
    {"h264_bframes.mp4", {"-c:v", "libx264", "-c:a", "aac"}, true, "25", nullptr},
    {"hevc_bframes.mp4", {"-c:v", "libx265", "-x265-params", "log-level=none", "-tag:v", "hvc1"}, false, "30", nullptr},
    // 29.97 cannot be kept at time scale 600: frames of 20 and 21 units.
    {"h264_2997_at_600.mov", {"-c:v", "libx264", "-bf", "0", "-video_track_timescale", "600"}, false, "30000/1001",
     nullptr},
    {"h264_fragmented.mp4", {"-c:v", "libx264", "-bf", "0", "-movflags", "frag_keyframe+empty_moov"}, false, "25",
     "Fragmented movies are not supported yet"},
};
// clang-format on

// Test names and failure traces show the case by its name.
void PrintTo(const Fixture& c, std::ostream* os) { *os << c.name; }

class FfmpegInterop : public ::testing::TestWithParam<Fixture> {
protected:
    static void SetUpTestSuite() {
        if (testing::missing_programs({"ffmpeg", "ffprobe"})) return;
        directory_ = std::make_unique<testing::TempDir>();
    }
    static void TearDownTestSuite() { directory_.reset(); }
    static inline std::unique_ptr<testing::TempDir> directory_;
};

std::string make_movie(const testing::TempDir& dir, const Fixture& f) {
    std::string path = dir.file(f.name);
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-loglevel",
                                  "error",  "-y",       "-f",
                                  "lavfi",  "-i",       std::string("testsrc2=size=160x120:rate=") + f.rate};
    if (f.audio) argv.insert(argv.end(), {"-f", "lavfi", "-i", kAudio});
    argv.insert(argv.end(), {"-t", "1"});
    argv.insert(argv.end(), f.ffmpeg_args.begin(), f.ffmpeg_args.end());
    argv.push_back(path);
    const auto made = run_program(argv);
    if (made.status != 0) ADD_FAILURE() << "ffmpeg failed for " << f.name << ": " << made.err;
    return path;
}

std::optional<std::int64_t> unix_seconds(const std::string& iso) {
    std::tm parts{};
    if (::strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &parts) == nullptr) return std::nullopt;
    return static_cast<std::int64_t>(::timegm(&parts));
}

// The timecode ffprobe shows, on the timecode stream or on the video stream.
std::optional<std::string> ffprobe_timecode(const json& streams) {
    for (const auto& stream : streams)
        if (stream.contains("tags") && stream["tags"].contains("timecode"))
            return stream["tags"]["timecode"].get<std::string>();
    return std::nullopt;
}

// The reel ffprobe shows on the timecode stream.
std::optional<std::string> ffprobe_reel(const json& streams) {
    for (const auto& stream : streams)
        if (stream.contains("tags") && stream["tags"].contains("reel_name"))
            return stream["tags"]["reel_name"].get<std::string>();
    return std::nullopt;
}

TEST_P(FfmpegInterop, ProbeAgreesWithFfprobe) {
    VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe");
    const Fixture& f = GetParam();
    const std::string path = make_movie(*directory_, f);
    const auto ours = run_program({VELMORA_ENGINE, "probe", path});
    if (f.refusal != nullptr) {
        EXPECT_EQ(ours.status, 1);
        EXPECT_EQ(ours.out, "");
        EXPECT_EQ(ours.err, std::string(f.refusal) + "\n");
        return;
    }
    ASSERT_EQ(ours.status, 0) << ours.err;
    ASSERT_TRUE(ours.out.ends_with("\n"));
    const json report = json::parse(ours.out);

    const auto theirs = run_program({"ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    const json probe = json::parse(theirs.out);
    const json& streams = probe.at("streams");

    ASSERT_EQ(report.at("streams").size(), streams.size());
    const auto video_index = report.at("videoIndex").get<std::size_t>();
    const json& video = streams.at(video_index);
    EXPECT_EQ(video.at("codec_type"), "video");
    EXPECT_EQ(report.at("rate").get<std::string>(), video.at("r_frame_rate").get<std::string>());
    // Differing frame durations: the measured rate is ffprobe's average.
    if (report.contains("measuredRate")) {
        EXPECT_EQ(report.at("measuredRate").get<std::string>(), video.at("avg_frame_rate").get<std::string>());
    }
    EXPECT_NEAR(report.at("duration").get<double>(), std::stod(video.at("duration").get<std::string>()), 1e-6);
    EXPECT_EQ(report.at("width"), video.at("width"));
    EXPECT_EQ(report.at("height"), video.at("height"));
    EXPECT_EQ(report.at("codec"), video.at("codec_name"));
    EXPECT_EQ(report.at("timecode").is_null() ? std::optional<std::string>() : report.at("timecode").get<std::string>(),
              ffprobe_timecode(streams));
    const std::optional<std::string> reel =
        report.contains("reel") ? std::optional(report.at("reel").get<std::string>()) : std::nullopt;
    EXPECT_EQ(reel, ffprobe_reel(streams));
    EXPECT_EQ(reel, f.reel == nullptr ? std::nullopt : std::optional<std::string>(f.reel));

    for (std::size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        const json& mine = report.at("streams").at(i);
        const json& other = streams.at(i);
        EXPECT_EQ(mine.at("index"), other.at("index"));
        EXPECT_EQ(mine.at("tag"), other.at("codec_tag_string"));
        EXPECT_EQ(mine.at("type"), other.at("codec_type"));
        EXPECT_EQ(mine.at("trackId").get<std::uint32_t>(), std::stoul(other.at("id").get<std::string>(), nullptr, 16));
        if (mine.at("codec") != "timecode") {
            EXPECT_EQ(mine.at("codec"), other.at("codec_name"));
        }
        EXPECT_EQ(mine.at("attachedPicture").get<bool>(), other.at("disposition").at("attached_pic").get<int>() == 1);
    }

    const json& format = probe.at("format");
    if (format.contains("tags") && format["tags"].contains("creation_time")) {
        EXPECT_EQ(report.at("createdUnix").get<std::int64_t>(),
                  unix_seconds(format["tags"]["creation_time"].get<std::string>()));
    } else {
        EXPECT_TRUE(report.at("createdUnix").is_null());
    }
}

std::string fixture_name(const ::testing::TestParamInfo<Fixture>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '.') c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Movies, FfmpegInterop, ::testing::ValuesIn(kFixtures), fixture_name);

}  // namespace
}  // namespace velmora
