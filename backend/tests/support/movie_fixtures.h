#pragma once

// Movies made by Debian's ffmpeg for the tests that run the real engine.
//
//   make_small_movie(path);               // 1 s of 128x96 MJPEG and PCM audio (about 170 KB)
//   make_large_movie(path, seconds);      // 1080p raw video, about 104 MB per second
//   make_medium_movie(path);              // 1 s of 320x240 raw video (about 3.8 MB), media before moov
//   file_digest(path);                    // 64-bit FNV-1a of the whole file, read in 1 MiB steps
//   set_modified(path, seconds);          // modification time, as a user touching the file would

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::testing {

void make_small_movie(const std::string& path);
void make_large_movie(const std::string& path, int seconds);
void make_medium_movie(const std::string& path);
std::optional<std::uint64_t> file_digest(const std::string& path);
void set_modified(const std::string& path, long seconds);

}  // namespace velmora::testing
