// Movies made by ffmpeg, written by the engine, read back by ffprobe and
// MediaInfo: the peers must see the requested start timecode, and the
// decoded video and audio must be the source's, frame for frame.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/movie_builder.h"

namespace velmora {
namespace {

struct CommandRun {
    int status = -1;
    std::string out;
};

// Runs a shell command line built from fixed words and temporary paths.
CommandRun run(const std::string& command, const testing::TempDir& dir) {
    const std::string captured = dir.file(".captured");
    const int raw = std::system((command + " >" + captured + " 2>/dev/null").c_str());
    std::ifstream in(captured);
    std::stringstream text;
    text << in.rdbuf();
    return CommandRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

bool have(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

struct PeerMovie {
    const char* name;
    const char* file;
    std::string ffmpeg_args;  // inputs and codecs, before the output path
    const char* timecode;
};

const std::string kAudio = " -f lavfi -i sine=frequency=440:sample_rate=48000";
std::string video_source(const char* rate) {
    return " -f lavfi -i testsrc2=size=128x96:rate=" + std::string(rate);
}

const std::vector<PeerMovie>& peer_movies() {
    static const std::vector<PeerMovie> movies = {
        {"mjpeg 25 fps, pcm, mov", "mjpeg.mov", video_source("25") + kAudio + " -t 1 -c:v mjpeg -c:a pcm_s16le",
         "10:00:00:00"},
        {"h264 29.97 fps drop-frame, aac, mp4", "h264.mp4",
         video_source("30000/1001") + kAudio + " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac", "01:00:00;00"},
        {"h264 25 fps, aac, moov before mdat", "faststart.mp4",
         video_source("25") + kAudio + " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac -movflags +faststart",
         "09:59:59:24"},
        {"h264 23.976 fps, m4v", "h264.m4v", video_source("24000/1001") + " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p",
         "00:59:59:23"},
        {"prores 59.94 fps drop-frame, mov", "prores.mov",
         video_source("60000/1001") + " -t 0.5 -c:v prores_ks -profile:v 0", "23:59:59;59"},
        {"mpeg4 50 fps, pcm big-endian, mov", "mpeg4.mov",
         video_source("50") + kAudio + " -t 0.5 -c:v mpeg4 -bf 0 -c:a pcm_s16be", "12:34:56:49"},
        {"hevc 30 fps, aac, mp4", "hevc.mp4",
         video_source("30") + kAudio + " -t 0.5 -c:v libx265 -x265-params bframes=0:log-level=none -tag:v hvc1 -c:a aac",
         "00:00:00:00"},
        {"mjpeg 24 fps with ffmpeg's own timecode, mov", "own_tc.mov",
         video_source("24") + kAudio + " -t 0.5 -c:v mjpeg -c:a pcm_s16le -timecode 05:06:07:08", "20:00:00:00"},
    };
    return movies;
}

class WriteInterop : public ::testing::TestWithParam<PeerMovie> {
protected:
    void SetUp() override {
        if (!have("ffmpeg") || !have("ffprobe") || !have("mediainfo"))
            GTEST_SKIP() << "ffmpeg, ffprobe or mediainfo is not installed";
    }

    std::string ffprobe_timecodes(const std::string& path) {
        // One line per tmcd stream: its timecode tag.
        return trimmed(run("ffprobe -v error -select_streams d -show_entries stream=codec_tag_string:stream_tags=timecode "
                           "-of csv=p=0 " + path,
                           dir_)
                           .out);
    }

    std::string decoded(const std::string& path) {
        const CommandRun result = run("ffmpeg -v error -i " + path + " -map 0:v -map 0:a? -f framemd5 -", dir_);
        EXPECT_EQ(result.status, 0) << path;
        EXPECT_NE(result.out.find("#tb 0:"), std::string::npos) << "no decoded stream in " << path;
        return result.out;
    }

    testing::TempDir dir_;
};

TEST_P(WriteInterop, PeersReadTheTimecodeAndTheSameFrames) {
    const PeerMovie& movie = GetParam();
    const std::string source = dir_.file(movie.file);
    const std::string output = dir_.file(std::string("tc_") + movie.file);
    ASSERT_EQ(run("ffmpeg -v error -y" + movie.ffmpeg_args + " " + source, dir_).status, 0) << movie.ffmpeg_args;

    const CommandRun written = run(std::string(VELMORA_ENGINE) + " write " + source + " " + output + " '" + movie.timecode + "'",
                            dir_);
    ASSERT_EQ(written.status, 0) << "engine write failed";
    EXPECT_NE(written.out.find(std::string("\"timecode\":\"") + movie.timecode + "\""), std::string::npos)
        << written.out;

    EXPECT_EQ(ffprobe_timecodes(output), std::string("tmcd,") + movie.timecode);
    EXPECT_EQ(trimmed(run("mediainfo '--Inform=Other;%TimeCode_FirstFrame%' " + output, dir_).out), movie.timecode);
    EXPECT_EQ(decoded(output), decoded(source));
}

TEST_P(WriteInterop, WritingAgainKeepsOneTimecodeTrack) {
    const PeerMovie& movie = GetParam();
    const std::string source = dir_.file(movie.file);
    const std::string first = dir_.file(std::string("a_") + movie.file);
    const std::string second = dir_.file(std::string("b_") + movie.file);
    ASSERT_EQ(run("ffmpeg -v error -y" + movie.ffmpeg_args + " " + source, dir_).status, 0);
    ASSERT_EQ(run(std::string(VELMORA_ENGINE) + " write " + source + " " + first + " '" + movie.timecode + "'", dir_)
                  .status,
              0);
    ASSERT_EQ(run(std::string(VELMORA_ENGINE) + " write " + first + " " + second + " 00:00:01:00", dir_).status, 0);

    EXPECT_EQ(ffprobe_timecodes(second), "tmcd,00:00:01:00");
    EXPECT_EQ(trimmed(run("mediainfo '--Inform=Other;%TimeCode_FirstFrame%' " + second, dir_).out), "00:00:01:00");
    EXPECT_EQ(decoded(second), decoded(source));
}

INSTANTIATE_TEST_SUITE_P(FfmpegMovies, WriteInterop, ::testing::ValuesIn(peer_movies()),
                         [](const ::testing::TestParamInfo<PeerMovie>& param_info) {
                             std::string name = param_info.param.file;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

}  // namespace
}  // namespace velmora
