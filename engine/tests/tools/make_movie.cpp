// Writes synthetic movies made by the test movie builder:
//   velmora-make-movie large OUTPUT SAMPLES CHUNKS_PER_MDAT
//       one 25 fps video track of SAMPLES one-byte samples, each in its own
//       chunk, spread over top-level mdat atoms of CHUNKS_PER_MDAT chunks
//   velmora-make-movie seeds DIRECTORY
//       a handful of small, valid movies (seed inputs for the fuzzer)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/movie_builder.h"

using namespace velmora::testing;

namespace {

MovieSpec large_movie(std::uint32_t samples, std::uint32_t chunks_per_mdat) {
    MovieSpec recipe;
    TrackSpec video = video_track("avc1", 25, 1, samples);
    video.constant_sample_size = 1;
    video.samples_per_chunk = 1;
    recipe.tracks = {video};
    recipe.chunks_per_mdat = chunks_per_mdat;
    recipe.ftyp = false;  // leaves room for 100,000 mdat atoms beside the moov
    return recipe;
}

std::vector<std::pair<std::string, MovieSpec>> seed_movies() {
    std::vector<std::pair<std::string, MovieSpec>> seeds;
    MovieSpec plain;
    seeds.emplace_back("plain.mov", plain);

    MovieSpec with_audio;
    with_audio.tracks.push_back(audio_track());
    with_audio.creation_time = 3'782'844'800;
    seeds.emplace_back("audio.mov", with_audio);

    MovieSpec drop_frame;
    drop_frame.tracks.push_back(timecode_track(107892, {1, 30000, 1001, 30, {}}));
    seeds.emplace_back("timecode-drop.mov", drop_frame);

    MovieSpec picture;
    picture.tracks = {video_track("apcn", 25, 1, 6), picture_track(), audio_track("sowt")};
    seeds.emplace_back("picture.mov", picture);

    MovieSpec chunked;
    chunked.tracks.front().samples_per_chunk = 3;
    chunked.tracks.front().sample_sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    chunked.tracks.front().co64 = true;
    chunked.chunks_per_mdat = 2;
    seeds.emplace_back("chunked.mov", chunked);

    MovieSpec versions;
    versions.mvhd_version = 1;
    versions.tracks.front().mdhd_version = 1;
    versions.tracks.front().tkhd_version = 1;
    versions.tracks.front().edits = std::vector<EditEntry>{{10010, 0, 0x10000}};
    versions.tracks.front().dref_entry = "alis";
    seeds.emplace_back("versions.mov", versions);

    MovieSpec recorded;
    recorded.creation_date = "2019-07-24T11:25:40.5+03:00";
    seeds.emplace_back("recorded.mov", recorded);
    return seeds;
}

int usage() {
    std::fputs("usage: velmora-make-movie large OUTPUT SAMPLES CHUNKS_PER_MDAT | seeds DIRECTORY\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "large") {
        const auto samples = static_cast<std::uint32_t>(std::stoul(args[2]));
        const auto per_mdat = static_cast<std::uint32_t>(std::stoul(args[3]));
        write_file(args[1], build_movie_bytes(large_movie(samples, per_mdat)));
        return 0;
    }
    if (args.size() == 2 && args[0] == "seeds") {
        for (const auto& [name, recipe] : seed_movies()) write_file(args[1] + "/" + name, build_movie_bytes(recipe));
        return 0;
    }
    return usage();
}
