#include "rewriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <unistd.h>

#include "boxes.h"
#include "copy_progress.h"
#include "output_file.h"
#include "platform.h"
#include "probe_report.h"
#include "reel_name.h"
#include "stamp_record.h"
#include "timecode.h"
#include "track_builder.h"
#include "verify.h"

namespace velmora {

namespace {

constexpr std::uint64_t kCopyStep = std::uint64_t{4} * 1024 * 1024;

void print_flushed(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// mvhd with its next track identifier raised past the timecode track.
Result<Bytes> raised_mvhd(ByteView payload, std::uint32_t timecode_track_id) {
    if (timecode_track_id == UINT32_MAX) return fail("Track identifier overflow");
    // Below four bytes the offset wraps, and the bounded read refuses it as an overflow.
    const Field next_track_id{payload.size() - kNextTrackIdFromEnd, 4};
    TRY(const std::uint64_t stored, read_field(payload, next_track_id));
    Bytes mvhd(payload.begin(), payload.end());
    put_field(mvhd, next_track_id, std::max<std::uint64_t>(stored, timecode_track_id + 1));
    return make_atom(FourCC("mvhd"), mvhd);
}

// Copies the input's first N bytes through the kernel where it can, else
// through one 4 MiB buffer, in steps of at most 4 MiB.
class InputCopier {
public:
    InputCopier(const File& in, OutputFile& out) : in_(in), out_(out) {}

    // Copies up to `length` bytes at `offset`; answers fewer only at the end
    // of the input.
    Result<std::uint64_t> step(std::uint64_t offset, std::uint64_t length) {
        std::uint64_t done = 0;
        while (done < length) {
            TRY(const std::uint64_t got, copy_some(offset + done, length - done));
            if (got == 0) break;
            done += got;
        }
        return done;
    }

private:
    Result<std::uint64_t> copy_some(std::uint64_t offset, std::uint64_t length) {
        if (use_kernel_) {
            TRY(const std::optional<std::uint64_t> copied, kernel_copy(in_, offset, out_.file(), offset, length));
            if (copied) return *copied;
            use_kernel_ = false;
        }
        if (buffer_.empty()) buffer_.assign(kCopyStep, 0);
        TRY(const std::uint64_t got, read_some_at(offset, std::min(length, kCopyStep)));
        TRY_VOID(out_.write_all_at(offset, ByteView(buffer_).first(got)));
        return got;
    }

    Result<std::uint64_t> read_some_at(std::uint64_t offset, std::uint64_t length) {
        for (;;) {
            const ssize_t got = ::pread(in_.get(), buffer_.data(), length, static_cast<off_t>(offset));
            if (got >= 0) return static_cast<std::uint64_t>(got);
            if (errno != EINTR) return fail(system_error_text(errno));
        }
    }

    const File& in_;
    OutputFile& out_;
    bool use_kernel_ = true;
    Bytes buffer_;
};

Status copy_input(const Movie& movie, OutputFile& out, const WriteEvents& events) {
    InputCopier copier(movie.file, out);
    CopyProgress progress(movie.file_size);
    std::uint64_t copied = 0;
    while (copied < movie.file_size) {
        TRY(const std::uint64_t got, copier.step(copied, std::min(movie.file_size - copied, kCopyStep)));
        if (got == 0) return fail("Source changed or was truncated during copying");
        start_writeback(out.file(), copied, got);
        copied += got;
        if (const auto k = progress.advance(copied); k && events.progress) events.progress(progress_line(*k));
    }
    return {};
}

Status append_new_atoms(OutputFile& out, const Movie& movie, const WritePlan& plan) {
    TRY_VOID(out.write_all_at(plan.free_patch_offset, FourCC("free").bytes));
    TRY_VOID(out.write_all_at(movie.file_size, plan.sample_atom));
    return out.write_all_at(movie.file_size + plan.sample_atom.size(), plan.moov);
}

}  // namespace

Result<Bytes> rebuild_moov(const Movie& movie, std::uint32_t timecode_track_id, ByteView timecode_trak,
                           ByteView video_trak, const std::optional<StampRecord>& record) {
    TRY(const std::vector<AtomSpan> children, list_children(movie.metadata));
    Bytes payload;
    std::size_t trak_number = 0;
    bool has_udta = false;
    for (const AtomSpan& child : children) {
        if (child.atom_type == FourCC("udta")) {
            has_udta = true;
            const ByteView udta = atom_payload(movie.metadata, child);
            // Without a record to change, udta stays as stored, byte for byte.
            if (record || holds_stamp_record(udta)) {
                TRY(const Bytes amended, udta_payload_with(udta, record));
                append_bytes(payload, make_atom(FourCC("udta"), amended));
                continue;
            }
        }
        if (child.atom_type == FourCC("mvhd")) {
            TRY(const Bytes mvhd, raised_mvhd(atom_payload(movie.metadata, child), timecode_track_id));
            append_bytes(payload, mvhd);
            continue;
        }
        if (child.atom_type == FourCC("trak")) {
            const std::size_t i = trak_number++;
            if (i == movie.video_index) {
                append_bytes(payload, video_trak);
                continue;
            }
            if (i < movie.tracks.size() && movie.tracks[i].sample_entry == FourCC("tmcd")) continue;
            // Other tracks stay byte for byte: the read-back compares them so.
            append_bytes(payload, atom_bytes(movie.metadata, child));
            continue;
        }
        append_bytes(payload, copied_child(movie.metadata, child));
    }
    append_bytes(payload, timecode_trak);
    if (record && !has_udta) append_bytes(payload, make_atom(FourCC("udta"), stamp_record_atom(*record)));
    return make_atom(FourCC("moov"), payload);
}

Result<WritePlan> plan_write(const Movie& movie, const std::string& timecode, const std::optional<std::string>& reel,
                             const std::optional<StampRecord>& record) {
    const Track& video = movie.video();
    const FrameRate rate = movie.video_rate();
    TRY(const TimecodeValue start, parse_timecode(timecode, rate.timescale, rate.frame_duration));
    if (reel && !is_valid_reel_name(*reel)) return fail("Invalid reel name");
    TRY(const std::uint32_t timecode_track_id, choose_timecode_track_id(movie.tracks));
    std::optional<FrameRate> standard_rate;
    if (movie.variable_rate) standard_rate = rate;
    TRY_VOID(check_timecode_limits(movie.file_size, video, standard_rate));
    TRY(const Bytes timecode_trak, build_timecode_trak(video, timecode_track_id, start.drop_frame,
                                                       timecode_sample_offset(movie.file_size), standard_rate, reel));
    TRY(const Bytes video_trak, reference_timecode_track(video.trak_bytes, timecode_track_id));
    TRY(Bytes moov, rebuild_moov(movie, timecode_track_id, timecode_trak, video_trak, record));

    const auto first_moov = std::ranges::find(movie.atoms, FourCC("moov"), &AtomSpan::atom_type);
    if (first_moov == movie.atoms.end()) return fail("Expected one movie metadata atom");
    return WritePlan{timecode_track_id, timecode_sample_atom(start.frame), std::move(moov), first_moov->offset + 4};
}

WriteEvents standard_stream_events() {
    return WriteEvents{
        [](std::string_view line) { print_flushed(stderr, line); },
        [](std::string_view line) { print_flushed(stdout, line); },
        nullptr,
    };
}

Status write_movie(const std::string& input, const std::string& output, const std::string& timecode,
                   const std::optional<std::string>& reel) {
    return write_movie(input, output, timecode, standard_stream_events(), reel);
}

Status write_movie(const std::string& input, const std::string& output, const std::string& timecode,
                   const WriteEvents& events, const std::optional<std::string>& reel) {
    TRY(const Movie movie, open_movie(input));
    TRY(const WritePlan plan, plan_write(movie, timecode, reel));

    TRY(OutputFile out, OutputFile::create(output));
    TRY_VOID(copy_input(movie, out, events));
    TRY_VOID(append_new_atoms(out, movie, plan));
    TRY_VOID(full_flush(out.file()));
    out.close();

    if (events.before_verification) events.before_verification(out.readable_path());
    TRY(const Movie written, verify_written_movie(movie, out.readable_path(), timecode, reel));
    TRY_VOID(out.publish());
    if (events.report) events.report(probe_report(written) + "\n");
    return {};
}

}  // namespace velmora
