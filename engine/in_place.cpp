#include "in_place.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"
#include "flush.h"
#include "movie.h"
#include "probe_report.h"
#include "rewriter.h"
#include "stamp_record.h"
#include "track_builder.h"
#include "verify.h"

namespace velmora {

namespace {

constexpr const char* kNotStamped = "Not a movie stamped in place by Velmora";
constexpr const char* kUndone = "Verification failed. The original is unchanged.";
constexpr std::uint64_t kSampleAtomSize = kTimecodeSampleHeader + 4;
constexpr std::uint64_t kTypeField = 4;  // behind the 32-bit size, also of a 64-bit header

// The input, open for writing, with the times it had when opened.
class InPlaceFile {
public:
    // `found` is the file's status before anything read it, when the caller took one.
    static Result<InPlaceFile> open(const std::string& path, const std::optional<struct stat>& found = std::nullopt) {
        TRY(File file, open_read_write(path));
        struct stat status {};
        if (::fstat(file.get(), &status) != 0) return fail(system_error_text(errno));
        if (found && (found->st_dev != status.st_dev || found->st_ino != status.st_ino))
            return fail("Input changed while it was read");
        if (found) {
            status.st_atim = found->st_atim;
            status.st_mtim = found->st_mtim;
        }
        return InPlaceFile(std::move(file), status);
    }

    const File& file() const { return file_; }
    std::uint64_t size() const { return size_; }

    Status write_at(std::uint64_t offset, ByteView bytes) { return write_all_at(file_.get(), offset, bytes); }
    Status flush() { return full_flush(file_); }

    Status truncate(std::uint64_t length) {
        while (::ftruncate(file_.get(), static_cast<off_t>(length)) != 0)
            if (errno != EINTR) return fail(system_error_text(errno));
        return {};
    }

    // Reading the file back may have moved its access time; writing, its modification time.
    Status restore_times() {
        if (::futimens(file_.get(), times_) != 0) return fail(system_error_text(errno));
        return {};
    }

private:
    InPlaceFile(File file, const struct stat& status)
        : file_(std::move(file)),
          size_(static_cast<std::uint64_t>(status.st_size)),
          times_{status.st_atim, status.st_mtim} {}

    File file_;
    std::uint64_t size_ = 0;
    struct timespec times_[2];
};

// Retypes the atom whose type field is at `type_offset` (when given), cuts
// the file back to `length` and flushes: the undo of a stamp and unstamp's work.
Status restore_original(InPlaceFile& file, std::optional<std::uint64_t> type_offset, std::uint64_t length) {
    if (type_offset) {
        TRY_VOID(file.write_at(*type_offset, FourCC("moov").bytes));
        TRY_VOID(file.flush());
    }
    TRY_VOID(file.truncate(length));
    TRY_VOID(file.flush());
    return file.restore_times();
}

// Undoes what a failed stamp had done and answers its message, or the
// undo's own when that fails too.
Status undone(InPlaceFile& file, std::optional<std::uint64_t> type_offset, std::uint64_t length, std::string why) {
    TRY_VOID(restore_original(file, type_offset, length));
    return fail(std::move(why));
}

// The stamped movie read back as `retyped` says, accepted only when it holds
// what was asked for and the record that was written.
Result<Movie> read_back(const std::string& input, const Movie& original, std::optional<std::uint64_t> retyped,
                        const std::string& timecode, const std::optional<std::string>& reel,
                        const StampRecord& record) {
    TRY(Movie stamped, open_movie(input, retyped));
    TRY_VOID(check_written_movie(original, stamped, timecode, reel));
    if (stamped.stamp_record != record) return fail(kUndone);
    return stamped;
}

Result<std::uint64_t> moov_offset(const Movie& movie) {
    const auto moov = std::ranges::find(movie.atoms, FourCC("moov"), &AtomSpan::atom_type);
    if (moov == movie.atoms.end()) return fail("Expected one movie metadata atom");
    return moov->offset;
}

// What unstamp found: the old moov's type field, when it is still `free`,
// and the length the file had before the stamp.
struct Restoration {
    std::optional<std::uint64_t> type_offset;
    std::uint64_t original_length = 0;
};

const AtomSpan* atom_at(const std::vector<AtomSpan>& atoms, std::uint64_t offset) {
    const auto found = std::ranges::find(atoms, offset, &AtomSpan::offset);
    return found == atoms.end() ? nullptr : &*found;
}

std::optional<StampRecord> record_of_last_moov(const File& file, const AtomSpan& last) {
    if (last.atom_type != FourCC("moov") || last.size > kMaxMetadataSize) return std::nullopt;
    Bytes metadata(last.payload_size(), 0);
    if (!read_exact_at(file, last.payload_offset(), metadata)) return std::nullopt;
    const auto children = parse_children(metadata);
    if (!children) return std::nullopt;
    return read_stamp_record(*children);
}

// The file must end in our mdat and a moov whose record names that mdat's
// start, and an old moov (retyped or not yet) of its own size before it.
std::optional<Restoration> find_restoration(const InPlaceFile& file) {
    const auto atoms = list_top_level_atoms(file.file().get(), file.size());
    if (!atoms || atoms->empty()) return std::nullopt;
    const std::optional<StampRecord> record = record_of_last_moov(file.file(), atoms->back());
    if (!record) return std::nullopt;
    const AtomSpan* sample = atom_at(*atoms, record->original_length);
    if (sample == nullptr || sample->atom_type != FourCC("mdat") || sample->size != kSampleAtomSize ||
        sample->offset + sample->size != atoms->back().offset)
        return std::nullopt;
    const AtomSpan* old_moov = atom_at(*atoms, record->old_moov_offset);
    if (old_moov == nullptr || old_moov->offset + old_moov->size > record->original_length) return std::nullopt;
    if (old_moov->atom_type == FourCC("moov")) return Restoration{std::nullopt, record->original_length};
    if (old_moov->atom_type == FourCC("free"))
        return Restoration{old_moov->offset + kTypeField, record->original_length};
    return std::nullopt;
}

}  // namespace

Status stamp_movie(const std::string& input, const std::string& timecode, const std::optional<std::string>& reel,
                   const std::function<void(std::string_view line)>& report) {
    // Taken before the reader moves the access time; a failure here leaves the reader's message.
    std::optional<struct stat> found{std::in_place};
    if (::stat(input.c_str(), &*found) != 0) found.reset();
    TRY(const Movie original, open_movie(input));
    TRY(const std::uint64_t old_moov, moov_offset(original));
    const std::uint64_t length = original.file_size;
    const StampRecord record{length, old_moov};
    TRY(const WritePlan plan, plan_write(original, timecode, reel, record));
    TRY(InPlaceFile file, InPlaceFile::open(input, found));
    if (file.size() != length) return fail("Input changed while it was read");

    // a: the new atoms behind the original, in one write.
    Bytes tail = plan.sample_atom;
    append_bytes(tail, plan.moov);
    if (const Status appended = file.write_at(length, tail); !appended)
        return undone(file, std::nullopt, length, appended.error());
    if (const Status flushed = file.flush(); !flushed) return undone(file, std::nullopt, length, flushed.error());

    // b: the appended moov read from disk as it will read once the old one is free.
    if (!read_back(input, original, old_moov, timecode, reel, record))
        return undone(file, std::nullopt, length, kUndone);

    // c: from this write on, readers take the new moov.
    if (const Status retyped = file.write_at(plan.free_patch_offset, FourCC("free").bytes); !retyped)
        return undone(file, plan.free_patch_offset, length, retyped.error());
    if (const Status flushed = file.flush(); !flushed)
        return undone(file, plan.free_patch_offset, length, flushed.error());

    // d: the whole file as any reader sees it now.
    const Result<Movie> stamped = read_back(input, original, std::nullopt, timecode, reel, record);
    if (!stamped) return undone(file, plan.free_patch_offset, length, kUndone);
    if (const Status kept = file.restore_times(); !kept)
        return undone(file, plan.free_patch_offset, length, kept.error());
    if (report) report(probe_report(*stamped) + "\n");
    return {};
}

Status unstamp_movie(const std::string& input) {
    TRY(InPlaceFile file, InPlaceFile::open(input));
    const std::optional<Restoration> found = find_restoration(file);
    if (!found) {
        // Only read, but reading moved the access time.
        TRY_VOID(file.restore_times());
        return fail(kNotStamped);
    }
    return restore_original(file, found->type_offset, found->original_length);
}

}  // namespace velmora
