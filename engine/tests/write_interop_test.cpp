// Movies made by ffmpeg, written by the engine, read back by ffprobe and
// MediaInfo: the peers must see the requested start timecode, and the
// decoded video and audio must be the source's, frame for frame.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "peers.h"
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

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

struct PeerMovie {
    const char* name;
    const char* file;
    std::string ffmpeg_args;  // inputs and codecs, before the output path; SUBTITLES names a subtitle file
    const char* timecode;
    void (*patch)(const std::string& path) = nullptr;  // changes the made movie as other makers write it
    // `file` is a phone's own movie from the real footage folder.
    bool real = false;
    // The written report's "rate" and "measuredRate", where the case is about them.
    const char* rate = nullptr;
    const char* measured = nullptr;
    const char* reel = nullptr;  // the REEL argument of the write, if any
};

// Real phone files kept beside the repository; the folder may be absent.
std::string real_footage(const char* file) { return std::string(VELMORA_REAL_FOOTAGE) + "/" + file; }

// The payload position of the first `type` atom inside the movie atom (ffmpeg
// writes it last, behind the media data).
std::size_t metadata_payload(const Bytes& movie, const char* type, std::size_t from = 0) {
    const std::string text(movie.begin(), movie.end());
    const std::size_t moov = text.rfind("moov");
    const std::size_t at = text.find(type, std::max(moov, from));
    if (moov == std::string::npos || at == std::string::npos) throw std::runtime_error(std::string("no ") + type);
    return at + 4;
}

// A phone's jitter at time scale 600: ffmpeg's frames of 20 and 21 units
// become 19, 21 and 20, over the same 30 samples and 601 units.
void jittered_frame_durations(const std::string& path) {
    Bytes movie = testing::read_file(path);
    const std::size_t stts = metadata_payload(movie, "stts");
    ASSERT_EQ(testing::read_u32(movie, stts + 4), 3u) << "ffmpeg's table changed";
    const std::uint32_t entries[][2] = {{10, 19}, {11, 21}, {9, 20}};
    for (std::size_t i = 0; i < 3; ++i) {
        testing::set_u32(movie, stts + 8 + 8 * i, entries[i][0]);
        testing::set_u32(movie, stts + 12 + 8 * i, entries[i][1]);
    }
    testing::write_file(path, movie);
}

// An action camera's timecode track: frames byte 29 at 30000/1001.
void camera_frames_byte(const std::string& path) {
    Bytes movie = testing::read_file(path);
    std::size_t stsd = metadata_payload(movie, "stsd");
    while (std::string(movie.begin() + static_cast<std::ptrdiff_t>(stsd) + 12,
                       movie.begin() + static_cast<std::ptrdiff_t>(stsd) + 16) != "tmcd")
        stsd = metadata_payload(movie, "stsd", stsd);
    ASSERT_EQ(movie[stsd + 40], 30) << "ffmpeg's timecode entry changed";
    movie[stsd + 40] = 29;
    testing::write_file(path, movie);
}

// A phone's 59.94 at time scale 90000: ffmpeg's constant 1500 at 60 fps
// becomes 1501, the media header's duration following.
void constant_1501_at_90000(const std::string& path) {
    Bytes movie = testing::read_file(path);
    const std::size_t mdhd = metadata_payload(movie, "mdhd");
    const std::size_t stts = metadata_payload(movie, "stts");
    ASSERT_EQ(testing::read_u32(movie, mdhd + 12), 90000u) << "ffmpeg's video is not the first track";
    ASSERT_EQ(testing::read_u32(movie, stts + 4), 1u) << "ffmpeg's table changed";
    ASSERT_EQ(testing::read_u32(movie, stts + 12), 1500u) << "ffmpeg's table changed";
    const std::uint32_t samples = testing::read_u32(movie, stts + 8);
    testing::set_u32(movie, stts + 12, 1501);
    testing::set_u32(movie, mdhd + 16, samples * 1501);
    testing::write_file(path, movie);
}

const std::string kAudio = " -f lavfi -i sine=frequency=440:sample_rate=48000";
std::string video_source(const char* rate) { return " -f lavfi -i testsrc2=size=128x96:rate=" + std::string(rate); }

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
         video_source("30") + kAudio +
             " -t 0.5 -c:v libx265 -x265-params bframes=0:log-level=none -tag:v hvc1 -c:a aac",
         "00:00:00:00"},
        {"mjpeg 24 fps with ffmpeg's own timecode, mov", "own_tc.mov",
         video_source("24") + kAudio + " -t 0.5 -c:v mjpeg -c:a pcm_s16le -timecode 05:06:07:08", "20:00:00:00"},
        // Refused before the engine took edit lists, variable rates and
        // zero-length samples as cameras and ffmpeg write them.
        {"h264 25 fps with default B-frames, aac, mp4", "bframes.mp4",
         video_source("25") + kAudio + " -t 1 -c:v libx264 -pix_fmt yuv420p -c:a aac", "01:00:00:00"},
        {"hevc 30 fps with default B-frames, mp4", "hevc_bframes.mp4",
         video_source("30") + " -t 0.5 -c:v libx265 -x265-params log-level=none -tag:v hvc1", "00:00:10:29"},
        {"h264 29.97 fps at time scale 600 with jitter, mov", "jitter.mov",
         video_source("30000/1001") + " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -video_track_timescale 600",
         "01:00:00;00", jittered_frame_durations},
        {"h264 25 fps with a mov_text subtitle track, mp4", "subtitles.mp4",
         video_source("25") + kAudio +
             " -i SUBTITLES -map 0:v -map 1:a -map 2:s -t 1 -c:v libx264 -bf 0"
             " -pix_fmt yuv420p -c:a aac -c:s mov_text",
         "10:00:00:00"},
        {"h264 25 fps starting 1 s late with B-frames, aac, mov", "late.mov",
         kAudio + " -itsoffset 1" + video_source("25") +
             " -map 1:v -map 0:a -t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac -copyts",
         "00:59:59:00"},
        {"h264 29.97 fps with a camera's timecode track, aac, mov", "camera_tc.mov",
         video_source("30000/1001") + kAudio +
             " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac"
             " -timecode '01:00:00;00'",
         "02:00:00;02", camera_frames_byte},
        // Phones' constant durations near a standard rate are labelled at it.
        {"h264 constant 1501 at time scale 90000, aac, mp4", "phone_1501.mp4",
         video_source("60") + kAudio +
             " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -video_track_timescale 90000 -c:a aac",
         "01:00:00;00", constant_1501_at_90000, false, "60000/1001", "90000/1501"},
        {"real phone: constant 1501 at 90000", "android-dovi-90000-1501.mp4", "", "01:00:00;00", nullptr, true,
         "60000/1001", "90000/1501"},
        {"real phone: constant 3001 at 90000", "android-hlg10-90000-3001.mp4", "", "01:00:00:00", nullptr, true, "30/1",
         "90000/3001"},
        {"real phone: durations 8994 against a media header of 8995", "android-gps-stts-8994-mdhd-8995.mp4", "",
         "00:59:59:29", nullptr, true, "30/1", "45000/1499"},
        {"real phone: durations past the media header by less than a frame", "android-stts-short-of-mdhd.mp4", "",
         "23:59:59;29", nullptr, true, "30000/1001", "115000/3853"},
        {"h264 25 fps with a reel, mov", "reel.mov",
         video_source("25") + kAudio + " -t 1 -c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac", "01:00:00:00", nullptr,
         false, nullptr, nullptr, "A001C003"},
    };
    return movies;
}

class WriteInterop : public ::testing::TestWithParam<PeerMovie> {
protected:
    void SetUp() override {
        VELMORA_REQUIRE_PROGRAMS("ffmpeg", "ffprobe", "mediainfo");
        if (GetParam().real && ::access(real_footage(GetParam().file).c_str(), R_OK) != 0)
            GTEST_SKIP() << "no real footage at " << real_footage(GetParam().file);
    }

    std::string ffprobe_timecodes(const std::string& path) {
        // One line per tmcd stream: its timecode tag.
        return trimmed(
            run("ffprobe -v error -select_streams d -show_entries stream=codec_tag_string:stream_tags=timecode "
                "-of csv=p=0 " +
                    path,
                dir_)
                .out);
    }

    // The reel_name tag of the tmcd stream, empty when it has none.
    std::string ffprobe_reel(const std::string& path) {
        return trimmed(
            run("ffprobe -v error -select_streams d -show_entries stream_tags=reel_name -of csv=p=0 " + path, dir_)
                .out);
    }

    std::string mediainfo_title(const std::string& path) {
        return trimmed(run("mediainfo '--Inform=Other;%Title%' " + path, dir_).out);
    }

    // The write command line, with the movie's reel when it has one.
    static std::string write_command(const PeerMovie& movie, const std::string& source, const std::string& output) {
        std::string command =
            std::string(VELMORA_ENGINE) + " write " + source + " " + output + " '" + movie.timecode + "'";
        if (movie.reel != nullptr) command += std::string(" '") + movie.reel + "'";
        return command;
    }

    // The timecode tag ffprobe gives the video stream from its reference
    // (values only: phones' side data would add empty csv fields).
    std::string ffprobe_video_timecode(const std::string& path) {
        return trimmed(
            run("ffprobe -v error -select_streams v -show_entries stream_tags=timecode -of default=nw=1:nk=1 " + path,
                dir_)
                .out);
    }

    // Makes the source movie as ffmpeg (and the fixture's patch) write it, or
    // copies the real phone file.
    void make_source(const PeerMovie& movie, const std::string& source) {
        if (movie.real) {
            testing::write_file(source, testing::read_file(real_footage(movie.file)));
            return;
        }
        std::string args = movie.ffmpeg_args;
        if (const std::size_t at = args.find("SUBTITLES"); at != std::string::npos) {
            const std::string subtitles = dir_.file("subtitles.srt");
            const std::string cues = "1\n00:00:00,000 --> 00:00:00,500\nOne\n\n2\n00:00:00,500 --> 00:00:01,000\nTwo\n";
            testing::write_file(subtitles, Bytes(cues.begin(), cues.end()));
            args.replace(at, 9, subtitles);
        }
        ASSERT_EQ(run("ffmpeg -v error -y" + args + " " + source, dir_).status, 0) << args;
        if (movie.patch != nullptr) movie.patch(source);
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
    ASSERT_NO_FATAL_FAILURE(make_source(movie, source));

    const CommandRun written = run(write_command(movie, source, output), dir_);
    ASSERT_EQ(written.status, 0) << "engine write failed";
    EXPECT_NE(written.out.find(std::string("\"timecode\":\"") + movie.timecode + "\""), std::string::npos)
        << written.out;
    if (movie.rate != nullptr) {
        EXPECT_NE(written.out.find(std::string("\"rate\":\"") + movie.rate + "\""), std::string::npos) << written.out;
        EXPECT_NE(written.out.find(std::string("\"measuredRate\":\"") + movie.measured + "\""), std::string::npos)
            << written.out;
    }
    const std::string reel = movie.reel == nullptr ? "" : movie.reel;
    EXPECT_EQ(written.out.find("\"reel\":\"" + reel + "\"") != std::string::npos, movie.reel != nullptr) << written.out;
    EXPECT_EQ(ffprobe_reel(output), reel);
    EXPECT_EQ(mediainfo_title(output), reel);

    EXPECT_EQ(ffprobe_timecodes(output), std::string("tmcd,") + movie.timecode);
    EXPECT_EQ(ffprobe_video_timecode(output), movie.timecode);
    EXPECT_EQ(trimmed(run("mediainfo '--Inform=Other;%TimeCode_FirstFrame%' " + output, dir_).out), movie.timecode);
    EXPECT_EQ(decoded(output), decoded(source));
}

TEST_P(WriteInterop, WritingAgainKeepsOneTimecodeTrack) {
    const PeerMovie& movie = GetParam();
    const std::string source = dir_.file(movie.file);
    const std::string first = dir_.file(std::string("a_") + movie.file);
    const std::string second = dir_.file(std::string("b_") + movie.file);
    ASSERT_NO_FATAL_FAILURE(make_source(movie, source));
    ASSERT_EQ(run(write_command(movie, source, first), dir_).status, 0);
    ASSERT_EQ(run(std::string(VELMORA_ENGINE) + " write " + first + " " + second + " 00:00:01:00", dir_).status, 0);

    EXPECT_EQ(ffprobe_timecodes(second), "tmcd,00:00:01:00");
    EXPECT_EQ(ffprobe_video_timecode(second), "00:00:01:00");
    EXPECT_EQ(trimmed(run("mediainfo '--Inform=Other;%TimeCode_FirstFrame%' " + second, dir_).out), "00:00:01:00");
    // The second write names no reel, so none of the first is left.
    EXPECT_EQ(ffprobe_reel(second), "");
    EXPECT_EQ(mediainfo_title(second), "");
    EXPECT_EQ(decoded(second), decoded(source));
}

// Stamped in place, the movie reads to the peers as write's copy does, its
// first bytes are the original's but for the old moov's type, and unstamp
// gives the original back with its times.
TEST_P(WriteInterop, StampInPlaceReadsLikeTheCopyAndUnstampRestores) {
    const PeerMovie& movie = GetParam();
    const std::string source = dir_.file(movie.file);
    const std::string stamped = dir_.file(std::string("in_place_") + movie.file);
    ASSERT_NO_FATAL_FAILURE(make_source(movie, source));
    const Bytes original = testing::read_file(source);
    testing::write_file(stamped, original);
    ASSERT_EQ(run("touch -d '2001-02-03 04:05:06' " + stamped, dir_).status, 0);
    const std::string times_before = run("stat -c '%X %Y' " + stamped, dir_).out;

    std::string command = std::string(VELMORA_ENGINE) + " stamp " + stamped + " '" + movie.timecode + "'";
    if (movie.reel != nullptr) command += std::string(" '") + movie.reel + "'";
    const CommandRun run_stamp = run(command, dir_);
    ASSERT_EQ(run_stamp.status, 0) << "engine stamp failed";
    EXPECT_EQ(run("stat -c '%X %Y' " + stamped, dir_).out, times_before);
    EXPECT_NE(run_stamp.out.find("\"appended\":true"), std::string::npos) << run_stamp.out;

    const Bytes after = testing::read_file(stamped);
    ASSERT_GT(after.size(), original.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < original.size(); ++i) differing += after[i] != original[i];
    EXPECT_EQ(differing, 4u);
    const std::string front(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(original.size()));
    EXPECT_EQ(front.find("moov"), std::string::npos) << "the old moov keeps its type";

    const std::string reel = movie.reel == nullptr ? "" : movie.reel;
    EXPECT_EQ(ffprobe_timecodes(stamped), std::string("tmcd,") + movie.timecode);
    EXPECT_EQ(ffprobe_video_timecode(stamped), movie.timecode);
    EXPECT_EQ(ffprobe_reel(stamped), reel);
    EXPECT_EQ(trimmed(run("mediainfo '--Inform=Other;%TimeCode_FirstFrame%' " + stamped, dir_).out), movie.timecode);
    EXPECT_EQ(decoded(stamped), decoded(source));

    ASSERT_EQ(run("touch -d '2001-02-03 04:05:06' " + stamped, dir_).status, 0);
    ASSERT_EQ(run(std::string(VELMORA_ENGINE) + " unstamp " + stamped, dir_).status, 0);
    EXPECT_EQ(run("stat -c '%X %Y' " + stamped, dir_).out, times_before);
    EXPECT_EQ(testing::read_file(stamped), original);
}

INSTANTIATE_TEST_SUITE_P(FfmpegMovies, WriteInterop, ::testing::ValuesIn(peer_movies()),
                         [](const ::testing::TestParamInfo<PeerMovie>& param_info) {
                             std::string name = param_info.param.file;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace velmora
