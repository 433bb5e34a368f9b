#include "backups.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/backend_harness.h"

namespace velmora {
namespace {

using testing::TempDir;

std::string be32(std::uint64_t value) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((value >> shift) & 0xff));
    return bytes;
}

std::string be64(std::uint64_t value) { return be32(value >> 32) + be32(value & 0xffffffff); }

std::string atom(std::string_view type, std::string_view payload) {
    return be32(8 + payload.size()) + std::string(type) + std::string(payload);
}

std::string large_atom(std::string_view type, std::string_view payload) {
    return be32(1) + std::string(type) + be64(16 + payload.size()) + std::string(payload);
}

std::string media(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7);
    return bytes;
}

const std::string ftyp = atom("ftyp", std::string("qt  \0\0\0\0qt  ", 12));
const std::string old_moov = atom("moov", atom("mvhd", media(100, 'm')));
// The movie atom sits between two halves of media, 1.5 MiB each, so that
// the quick check reaches it only through its own range.
const std::string first_half = atom("mdat", media(3 << 19, 'a'));
const std::string second_half = atom("mdat", media(3 << 19, 'b'));
const std::string original = ftyp + first_half + old_moov + second_half;
const std::size_t moov_at = ftyp.size() + first_half.size();
const std::string timecode_mdat = atom("mdat", std::string("\0\0\0\x01", 4));
const std::string new_moov_payload = atom("mvhd", media(100, 'n')) + atom("trak", media(40, 't'));

std::string retyped(std::string bytes, std::size_t at, std::string_view type) {
    bytes.replace(at + 4, 4, type);
    return bytes;
}

std::string stamped(const std::string& backup = original, std::size_t moov_offset = moov_at) {
    return retyped(backup, moov_offset, "free") + timecode_mdat + atom("moov", new_moov_payload);
}

// The check's reason, or "" where it passed.
std::string reason_of(const Result<std::uint64_t>& checked) { return checked ? std::string() : checked.error(); }

std::string flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
}

TEST(Backups, TheCheckTellsWhyAMovieIsNotItsBackupWithATimecodeAdded) {
    const std::string one(not_one_movie_atom_message);
    const std::string not_stamped(not_stamped_message);
    const std::string differ(bytes_differ_message);
    const std::string twice = original + old_moov;
    struct Case {
        const char* label;
        std::string backup;
        std::string movie;
        std::string quick;  // the reason; empty: it is the original
        std::string full;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"the stamped movie", original, stamped(), "", ""},
        {"a 64-bit size on the new moov",
         original, retyped(original, moov_at, "free") + timecode_mdat + large_atom("moov", new_moov_payload), "", ""},
        {"truncated tail", original, stamped().substr(0, stamped().size() - 1), not_stamped, not_stamped},
        {"the backup itself", original, original, not_stamped, not_stamped},
        {"the movie shorter than its backup", original, original.substr(0, 1000), not_stamped, not_stamped},
        {"wrong mdat size",
         original, retyped(original, moov_at, "free") + atom("mdat", "12345678") + atom("moov", new_moov_payload),
         not_stamped, not_stamped},
        {"a 12-byte atom that is not mdat",
         original, retyped(original, moov_at, "free") + atom("skip", "1234") + atom("moov", new_moov_payload),
         not_stamped, not_stamped},
        {"no moov after the mdat",
         original, retyped(original, moov_at, "free") + timecode_mdat + atom("udta", new_moov_payload),
         not_stamped, not_stamped},
        {"a second atom after moov", original, stamped() + atom("free", ""), not_stamped, not_stamped},
        {"the moov's size short of the end",
         original, retyped(original, moov_at, "free") + timecode_mdat + atom("moov", new_moov_payload) + "x",
         not_stamped, not_stamped},
        {"the old moov not retyped", original, original + timecode_mdat + atom("moov", new_moov_payload),
         differ, differ},
        {"the old moov retyped skip",
         original, retyped(original, moov_at, "skip") + timecode_mdat + atom("moov", new_moov_payload), differ, differ},
        {"a byte changed in the first MiB", original, flipped(stamped(), 1000), differ, differ},
        {"a byte changed in the media's middle", original, flipped(stamped(), 5 << 18), "", differ},
        {"a byte changed in the old moov", original, flipped(stamped(), moov_at + 30), differ, differ},
        {"a byte changed in the last MiB", original, flipped(stamped(), original.size() - 5), differ, differ},
        {"a backup with two moov atoms", twice, stamped(twice), one, one},
        {"a backup without moov", ftyp + first_half, ftyp + first_half + timecode_mdat + atom("moov", ""), one, one},
        {"a backup whose top level does not read", original + be32(4096) + "mdat", stamped() + "12345678", one, one},
    };
    // clang-format on
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string movie = dir.join("clip.mov");
        const std::string backup = dir.join("clip.mov.velmora-backup-1-2-3");
        testing::write_file(movie, c.movie);
        testing::write_file(backup, c.backup);
        for (const auto& [form, reason] :
             {std::pair{BackupCheck::quick, c.quick}, std::pair{BackupCheck::full, c.full}}) {
            const auto checked = check_backup(movie, backup, form);
            if (reason.empty()) {
                ASSERT_TRUE(checked.has_value()) << checked.error();
                EXPECT_EQ(*checked, c.backup.size());
            } else {
                EXPECT_EQ(reason_of(checked), reason);
            }
        }
    }

    // I/O failures give the system's text; a link is never taken for a backup.
    const std::string movie = dir.join("clip.mov");
    testing::write_file(movie, stamped());
    testing::write_file(dir.join("real"), original);
    std::filesystem::create_symlink(dir.join("real"), dir.join("link"));
    EXPECT_EQ(reason_of(check_backup(movie, dir.join("gone"), BackupCheck::full)),
              "No such file or directory (os error 2)");
    EXPECT_EQ(reason_of(check_backup(movie, dir.join("link"), BackupCheck::full)),
              "Too many levels of symbolic links (os error 40)");
    EXPECT_EQ(reason_of(check_backup(dir.join("no movie"), dir.join("real"), BackupCheck::quick)),
              "No such file or directory (os error 2)");
}

TEST(Backups, NamesOfAMoviesBackups) {
    const std::string long_name = std::string(240, 'a') + ".mov";  // with a backup's 21 more bytes: 265
    struct Case {
        const char* label;
        std::string movie;
        std::string candidate;
        std::size_t limit;
        bool backup;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"exact name", "clip.mov", "clip.mov.velmora-backup-1-2-3", 255, true},
        {"a real token", "clip.mov", "clip.mov.velmora-backup-123456-1765000000123456789-42", 255, true},
        {"two numbers", "clip.mov", "clip.mov.velmora-backup-1-2", 255, false},
        {"four numbers", "clip.mov", "clip.mov.velmora-backup-1-2-3-4", 255, false},
        {"a letter in the token", "clip.mov", "clip.mov.velmora-backup-1-2-x", 255, false},
        {"an empty number", "clip.mov", "clip.mov.velmora-backup-1--3", 255, false},
        {"no token", "clip.mov", "clip.mov.velmora-backup-", 255, false},
        {"something after the token", "clip.mov", "clip.mov.velmora-backup-1-2-3.mov", 255, false},
        {"a prefix that is not a cut", "clip.mov", "clip.mo.velmora-backup-1-2-3", 255, false},
        {"another movie's backup", "clip.mov", "clap.mov.velmora-backup-1-2-3", 255, false},
        {"a longer movie's backup", "clip.mov", "clip.mov 2.velmora-backup-1-2-3", 255, false},
        {"nothing before the mark", "clip.mov", ".velmora-backup-1-2-3", 255, false},
        {"the movie itself", "clip.mov", "clip.mov", 255, false},
        {"cut at the folder's limit", long_name, long_name.substr(0, 234) + ".velmora-backup-1-2-3", 255, true},
        {"cut shorter", long_name, long_name.substr(0, 200) + ".velmora-backup-1-2-3", 255, true},
        {"the whole long name", long_name, long_name + ".velmora-backup-1-2-3", 255, true},
        {"a cut of another long movie", long_name, std::string(234, 'b') + ".velmora-backup-1-2-3", 255, false},
        {"cut where the folder's limit is small", "clip.mov", "clip.velmora-backup-1-2-3", 28, true},
        {"no cut where the name fits that limit", "clip.mov", "clip.velmora-backup-1-2-3", 29, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(is_backup_name_of(c.movie, c.candidate, c.limit), c.backup) << c.label;
    }

    // Beside a movie on disk: regular files only, in byte order of their names.
    TempDir dir;
    testing::write_file(dir.join("clip.mov"), "movie");
    testing::write_file(dir.join("clip.mov.velmora-backup-1-2-3"), "first");
    testing::write_file(dir.join("clip.mov.velmora-backup-0-0-1"), "second!");
    std::filesystem::create_symlink(dir.join("clip.mov.velmora-backup-1-2-3"),
                                    dir.join("clip.mov.velmora-backup-4-5-6"));
    std::filesystem::create_directory(dir.join("clip.mov.velmora-backup-7-8-9"));
    testing::write_file(dir.join("clap.mov.velmora-backup-1-2-3"), "other");
    testing::write_file(dir.join("clip.mo.velmora-backup-1-2-3"), "not a cut");
    const auto found = backups_beside(dir.join("clip.mov"));
    ASSERT_TRUE(found.has_value()) << found.error();
    ASSERT_EQ(found->size(), 2u);
    EXPECT_EQ((*found)[0].path, dir.join("clip.mov.velmora-backup-0-0-1"));
    EXPECT_EQ((*found)[0].size, 7u);
    EXPECT_EQ((*found)[1].path, dir.join("clip.mov.velmora-backup-1-2-3"));
    EXPECT_EQ((*found)[1].size, 5u);
}

TEST(Backups, TheRecordListsEachBackupWithTheQuickCheck) {
    TempDir dir;
    const std::string movie = dir.join("clip.mov");
    testing::write_file(movie, stamped());
    testing::write_file(dir.join("clip.mov.velmora-backup-2-2-2"), original);
    testing::write_file(dir.join("clip.mov.velmora-backup-1-1-1"), flipped(original, 1000));
    nlohmann::json record{{"id", "1-2-3"}};
    describe_backups(record, movie);
    const nlohmann::json expected = {
        {{"original", false},
         {"path", dir.join("clip.mov.velmora-backup-1-1-1")},
         {"reason", "The movie's bytes differ from the backup's."},
         {"size", original.size()}},
        {{"original", true}, {"path", dir.join("clip.mov.velmora-backup-2-2-2")}, {"size", original.size()}},
    };
    EXPECT_EQ(record.at("backups"), expected);

    // Gone since: the key goes with them.
    std::filesystem::remove(dir.join("clip.mov.velmora-backup-2-2-2"));
    std::filesystem::remove(dir.join("clip.mov.velmora-backup-1-1-1"));
    describe_backups(record, movie);
    EXPECT_EQ(record, (nlohmann::json{{"id", "1-2-3"}}));
}

}  // namespace
}  // namespace velmora
