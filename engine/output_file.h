#pragma once

#include <cstdint>
#include <string>

#include "atoms.h"
#include "file_io.h"
#include "result.h"

namespace velmora {

// A file this run created for OUTPUT. Where the platform can, it has no
// name until publish() links it complete, so a run killed mid-write leaves
// nothing; otherwise it was created exclusively under its name and, unless
// kept, is closed and removed by path when released.
class OutputFile {
public:
    // Refuses an existing OUTPUT up front with the system's file-exists text,
    // then creates the file unnamed in OUTPUT's folder where supported.
    static Result<OutputFile> create(const std::string& path);
    // Exclusive creation under the name itself.
    static Result<OutputFile> create_exclusive(const std::string& path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const File& file() const { return file_; }
    const std::string& path() const { return path_; }
    // Where this process can open the written bytes again for reading back.
    const std::string& readable_path() const { return readable_path_; }

    // Writes all bytes at the absolute position, retrying interrupted and
    // partial writes.
    Status write_all_at(std::uint64_t offset, ByteView bytes);
    // Closes the handle of a named file; a failed close is not reported. An
    // unnamed file stays open: closing it would discard it.
    void close();
    // Gives an unnamed file its name (failing with the file-exists text when
    // the name appeared meanwhile) and flushes the folder; a named file only
    // has its folder flushed. The file survives its owner from now on.
    Status publish();

private:
    OutputFile(std::string path, File file, bool unnamed);

    std::string path_;
    File file_;
    bool unnamed_ = false;
    std::string readable_path_;
    bool keep_ = false;
};

}  // namespace velmora
