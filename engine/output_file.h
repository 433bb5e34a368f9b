#pragma once

#include <cstdint>
#include <string>

#include "atoms.h"
#include "file_io.h"
#include "result.h"

namespace velmora {

// A file this run created exclusively. Unless kept, it is closed and then
// removed by path when released, so no failure leaves a partial output.
class OutputFile {
public:
    static Result<OutputFile> create_exclusive(const std::string& path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const File& file() const { return file_; }
    const std::string& path() const { return path_; }

    // Writes all bytes at the absolute position, retrying interrupted and
    // partial writes.
    Status write_all_at(std::uint64_t offset, ByteView bytes);
    // Closes the handle; a failed close is not reported.
    void close() { file_.close(); }
    // The file survives its owner from now on.
    void keep() { keep_ = true; }

private:
    OutputFile(std::string path, File file) : path_(std::move(path)), file_(std::move(file)) {}

    std::string path_;
    File file_;
    bool keep_ = false;
};

}  // namespace velmora
