#include "backups.h"
#include "leftovers.h"
#include "output_naming_json.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace velmora {
namespace {

OutputOptions new_file() {
    OutputOptions options;
    options.copy = true;
    return options;
}

OutputOptions suffixed(std::string suffix) {
    OutputOptions options = new_file();
    options.suffix = std::move(suffix);
    return options;
}

OutputOptions renamed(std::string prefix, bool number) {
    OutputOptions options = new_file();
    options.rename = true;
    options.prefix = std::move(prefix);
    options.number = number;
    return options;
}

TEST(OutputNaming, OptionsCountOnlyTrueBooleansAndNonEmptyStrings) {
    const OutputOptions defaults = output_options_from(nlohmann::json::parse(
        R"({"copy":true,"destination":null,"retain":true,"rename":false,"prefix":"TC_","number":false})"));
    EXPECT_TRUE(defaults.copy);
    EXPECT_FALSE(defaults.destination.has_value());
    EXPECT_TRUE(defaults.retain);
    EXPECT_FALSE(defaults.rename);
    EXPECT_EQ(defaults.prefix, "TC_");

    const OutputOptions odd = output_options_from(
        nlohmann::json::parse(R"({"copy":"yes","destination":"","retain":1,"rename":true,"prefix":5,"number":true})"));
    EXPECT_FALSE(odd.copy);
    EXPECT_FALSE(odd.destination.has_value());
    EXPECT_FALSE(odd.retain);
    EXPECT_TRUE(odd.rename);
    EXPECT_EQ(odd.prefix, "");
    EXPECT_TRUE(odd.number);
    EXPECT_EQ(odd.suffix, "_TC");
    EXPECT_FALSE(odd.number_existing);

    const OutputOptions chosen = output_options_from(nlohmann::json::parse(R"({"suffix":"","existing":"number"})"));
    EXPECT_EQ(chosen.suffix, "");
    EXPECT_TRUE(chosen.number_existing);
    const OutputOptions refused = output_options_from(nlohmann::json::parse(R"({"suffix":"a/b","existing":"skip"})"));
    EXPECT_EQ(refused.suffix, "_TC");
    EXPECT_FALSE(refused.number_existing);

    EXPECT_FALSE(output_options_from(nullptr).copy);
    EXPECT_EQ(output_options_from(nlohmann::json::parse(R"({"destination":"/out"})")).destination, "/out");
}

TEST(OutputNaming, SplitsStemAndExtensionAtTheLastDotAfterTheFirstByte) {
    struct Case {
        std::string name, stem, extension;
    };
    const std::vector<Case> cases = {
        {"clip.mov", "clip", "mov"}, {"a.b.MP4", "a.b", "MP4"}, {".mov", ".mov", ""}, {"noext", "noext", ""},
        {"trail.", "trail", ""},     {"..mov", ".", "mov"},     {"", "", ""},
    };
    for (const Case& c : cases) {
        const NameParts parts = split_file_name(c.name);
        EXPECT_EQ(parts.stem, c.stem) << c.name;
        EXPECT_EQ(parts.extension, c.extension) << c.name;
    }
}

TEST(OutputNaming, FileNames) {
    struct Case {
        std::string source;
        OutputOptions options;
        std::size_t position;
        std::string expected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"clip.mov", new_file(), 0, "clip_TC.mov"},
        {"A.MOV", new_file(), 7, "A_TC.MOV"},
        {"noext", new_file(), 0, "noext_TC."},
        {".hidden", new_file(), 0, ".hidden_TC."},
        {"a.mp4", renamed("Day1 ", true), 2, "Day1a_003.mp4"},
        {"a.mp4", renamed("\t Day1\u3000", false), 2, "Day1a.mp4"},
        {"a.mp4", renamed("", false), 0, "a.mp4"},
        {"a.mp4", renamed("", true), 998, "a_999.mp4"},
        {"a.mp4", renamed("X", true), 999, "Xa_1000.mp4"},
        {"a.m4v", renamed("caf\u00e9-", true), 0, "caf\u00e9-a_001.m4v"},
        {"clip.mov", suffixed(""), 0, "clip.mov"},
        {"clip.mov", suffixed("-stamped"), 0, "clip-stamped.mov"},
        {"GX010001.MP4", suffixed(" (tc)"), 3, "GX010001 (tc).MP4"},
        {"noext", suffixed("_x"), 0, "noext_x."},
        // Renaming keeps its own rule: a stored prefix names files as before.
        {"a.mp4", [] { OutputOptions o = renamed("P", false); o.suffix = "_S"; return o; }(), 0, "Pa.mp4"},
        // The name of an in-place batch is never built, but "rename" without
        // "copy" must not change the rule for the name itself.
        {"b.mov", [] { OutputOptions o = renamed("P", false); o.copy = false; return o; }(), 0, "Pb.mov"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto name = output_file_name(c.source, c.options, c.position);
        ASSERT_TRUE(name.has_value()) << c.source << ": " << name.error();
        EXPECT_EQ(*name, c.expected);
    }
}

TEST(OutputNaming, PrefixRuleCountsScalarValuesAfterTrimming) {
    const std::string hundred_e_acute = [] {
        std::string s;
        for (int i = 0; i < 100; ++i) s += "\u00e9";
        return s;
    }();
    struct Case {
        std::string prefix;
        bool accepted;
        std::string trimmed;
    };
    const std::vector<Case> cases = {
        {"TC_", true, "TC_"},
        {"  TC_  ", true, "TC_"},
        {"\u00a0\u2003TC_\u2029", true, "TC_"},
        {hundred_e_acute, true, hundred_e_acute},
        {" " + hundred_e_acute + " ", true, hundred_e_acute},
        {hundred_e_acute + "e", false, ""},
        {std::string(101, 'a'), false, ""},
        {"a:b", false, ""},
        {"a<b", false, ""},
        {"a>b", false, ""},
        {"a\"b", false, ""},
        {"a/b", false, ""},
        {"a\\b", false, ""},
        {"a|b", false, ""},
        {"a?b", false, ""},
        {"a*b", false, ""},
        {"a\tb", false, ""},
        {std::string("a\0b", 3), false, ""},
        {"a\x1f", false, ""},
        {"a\x7f", true, "a\x7f"},  // DEL is not below U+0020
        {"\t", true, ""},          // a tab at the end is trimmed away, not refused
        {"new\nline", false, ""},
    };
    for (const Case& c : cases) {
        const auto result = checked_prefix(c.prefix);
        ASSERT_EQ(result.has_value(), c.accepted) << "prefix: " << c.prefix;
        if (c.accepted) {
            EXPECT_EQ(*result, c.trimmed);
        } else {
            EXPECT_EQ(result.error(), "Use a filename prefix without special characters (up to 100 characters).");
        }
    }
}

TEST(OutputNaming, SuffixRuleAndNumberedNames) {
    struct Case {
        std::string text;
        bool valid;
    };
    const std::vector<Case> suffixes = {
        {"", true},
        {"_TC", true},
        {std::string(16, 's'), true},
        {std::string(17, 's'), false},
        {"a/b", false},
        {std::string("a\0b", 3), false},
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", true},
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9e", false},  // 17 bytes
    };
    for (const Case& c : suffixes) EXPECT_EQ(is_valid_suffix(c.text), c.valid) << c.text;

    struct Numbered {
        std::string name;
        std::size_t n;
        std::string expected;
    };
    const std::vector<Numbered> numbered = {
        {"GX010001_TC.MP4", 2, "GX010001_TC 2.MP4"},
        {"a.b.mov", 3, "a.b 3.mov"},
        {"noext", 2, "noext 2"},
        {"noext_TC.", 2, "noext_TC 2."},
        {".hidden", 12, ".hidden 12"},
    };
    for (const Numbered& c : numbered) EXPECT_EQ(numbered_file_name(c.name, c.n), c.expected);

    OutputOptions empty = suffixed("");
    EXPECT_TRUE(empty_suffix_beside_source("/card", "/card/a.mov", empty));
    EXPECT_TRUE(empty_suffix_beside_source("/card/", "/card/a.mov", empty));
    EXPECT_FALSE(empty_suffix_beside_source("/card/Velmora Output", "/card/a.mov", empty));
    EXPECT_FALSE(empty_suffix_beside_source("/card", "/card/a.mov", suffixed("_TC")));
    empty.rename = true;  // the prefix rule has its own overwrite check
    EXPECT_FALSE(empty_suffix_beside_source("/card", "/card/a.mov", empty));
}

TEST(OutputNaming, BadPrefixFailsTheNameButNotTheSuffixRule) {
    OutputOptions options = renamed("a:b", true);
    EXPECT_FALSE(output_file_name("a.mov", options, 0).has_value());
    options.rename = false;
    EXPECT_EQ(output_file_name("a.mov", options, 0).value(), "a_TC.mov");
}

TEST(OutputNaming, Folders) {
    struct Case {
        std::string label;
        std::string source;
        std::string relative_dir;
        OutputOptions options;
        std::string expected;
        std::string card = {};
    };
    OutputOptions in_place;
    OutputOptions default_retained = new_file();
    default_retained.retain = true;
    OutputOptions destination = new_file();
    destination.destination = "/out";
    OutputOptions destination_retained = destination;
    destination_retained.retain = true;
    OutputOptions in_place_with_destination = destination_retained;
    in_place_with_destination.copy = false;

    const std::vector<Case> cases = {
        {"in place", "/card/DCIM/100/A.MOV", "DCIM/100", in_place, "/card/DCIM/100"},
        {"in place ignores destination", "/c/A.MOV", "x", in_place_with_destination, "/c"},
        {"default", "/card/A.MOV", "", new_file(), "/card/Velmora Output"},
        // Without a destination the relative folder is not repeated below the
        // folder beside the source, whatever "retain" says.
        {"default retained", "/card/DCIM/100/A.MOV", "DCIM/100", default_retained, "/card/DCIM/100/Velmora Output"},
        {"destination", "/card/DCIM/100/A.MOV", "DCIM/100", destination, "/out"},
        {"destination retained", "/card/DCIM/100/A.MOV", "DCIM/100", destination_retained, "/out/DCIM/100"},
        {"destination retained, no relative folder", "/card/A.MOV", "", destination_retained, "/out"},
        {"card kept below the destination", "/v/A001/DCIM/100GOPRO/GX.MP4", "DCIM/100GOPRO", destination_retained,
         "/out/A001/DCIM/100GOPRO", "A001"},
        {"card, movie at its top", "/v/A002/GX.MP4", "", destination_retained, "/out/A002", "A002"},
        {"card without retain", "/v/A001/DCIM/GX.MP4", "DCIM", destination, "/out", "A001"},
        {"card without destination", "/v/A001/DCIM/GX.MP4", "DCIM", default_retained, "/v/A001/DCIM/Velmora Output",
         "A001"},
        {"card in place", "/v/A001/GX.MP4", "", in_place_with_destination, "/v/A001", "A001"},
    };
    for (const Case& c : cases) {
        const auto folder = output_folder_for(c.source, c.relative_dir, c.card, c.options);
        ASSERT_TRUE(folder.has_value()) << c.label;
        EXPECT_EQ(folder->string(), c.expected) << c.label;
    }
    const auto root = output_folder_for("/", "", "", new_file());
    ASSERT_FALSE(root.has_value());
    EXPECT_EQ(root.error(), "Invalid source path");
}

// The page previews every output with the same table before Process.
TEST(OutputNaming, SharedCaseTableWithThePagePreview) {
    std::ifstream in(VELMORA_TEST_DATA "/output_naming_cases.json");
    const auto table = nlohmann::json::parse(in).at("cases");
    ASSERT_GE(table.size(), 20u);
    for (const auto& entry : table) {
        SCOPED_TRACE(entry.at("label").get<std::string>());
        const std::filesystem::path source = entry.at("source").get<std::string>();
        const OutputOptions options = output_options_from(entry.at("options"));
        const auto position = entry.at("position").get<std::size_t>();
        const std::string expected_error = entry.value("error", "");

        const nlohmann::json card = entry.value("card", nlohmann::json(nullptr));
        const auto folder = output_folder_for(source, entry.at("relativeDir").get<std::string>(),
                                              card.is_string() ? card.get<std::string>() : std::string(), options);
        if (!folder) {
            EXPECT_EQ(folder.error(), expected_error);
            continue;
        }
        // Only an in-place movie without a copy has no backup.
        EXPECT_EQ(options.append, !options.copy && !entry.contains("backup"));
        if (!options.copy) {
            EXPECT_EQ(folder->string(), entry.at("folder").get<std::string>());
            EXPECT_EQ(source.string(), entry.at("path").get<std::string>());
            if (options.append) continue;
            EXPECT_EQ(backup_path_for(source.string(), "1-2-3"), entry.at("backup").get<std::string>() + "1-2-3");
            continue;
        }
        if (empty_suffix_beside_source(*folder, source, options)) {
            EXPECT_EQ(expected_error, "An empty suffix needs an output folder other than the movie's own folder.");
            continue;
        }
        const auto name = output_file_name(source.filename().string(), options, position);
        if (!name) {
            EXPECT_EQ(name.error(), expected_error);
            continue;
        }
        const std::filesystem::path path = *folder / *name;
        // Processing refuses this one after making the folder canonical.
        if (expected_error == "Output would overwrite the source.") {
            EXPECT_EQ(path, source);
            continue;
        }
        ASSERT_EQ(expected_error, "");
        EXPECT_EQ(folder->string(), entry.at("folder").get<std::string>());
        EXPECT_EQ(*name, entry.at("name").get<std::string>());
        EXPECT_EQ(path.string(), entry.at("path").get<std::string>());
    }
}

TEST(OutputNaming, HiddenTemporaryAndBackupNames) {
    EXPECT_EQ(temporary_file_name("12-34-5", "clip.mov"), ".velmora-12-34-5.clip.mov");
    EXPECT_EQ(temporary_file_name("1-2-3",
                                  "bad\xff"
                                  "name.mov"),
              ".velmora-1-2-3.bad\uFFFDname.mov");
    EXPECT_EQ(temporary_file_name("1-2-3", ""), ".velmora-1-2-3.");
    EXPECT_EQ(backup_path_for("/a/clip.mov", "7-8-9"), "/a/clip.mov.velmora-backup-7-8-9");
    // A backup keeps its source's bytes: it names the movie it belongs to.
    EXPECT_EQ(backup_path_for("/a/bad\xffname.mov", "7-8-9"), "/a/bad\xffname.mov.velmora-backup-7-8-9");
    EXPECT_EQ(backup_path_for("clip.mov", "7-8-9"), "clip.mov.velmora-backup-7-8-9");
}

// A long source name is cut, never split inside a character, so that the
// temporary and the backup name fit the folder's limit; the prefix, the mark
// and the token stay whole, and a backup is never taken for a temporary.
TEST(OutputNaming, LongTemporaryAndBackupNamesFitTheNameLimit) {
    const std::string token = "123456-1765000000123456789-42";  // 29 bytes; fixed part 39, of a backup 45
    const std::string e_acute = "\xc3\xa9";
    struct Case {
        const char* label;
        std::string source_name;
        std::size_t limit;
        std::size_t expected_size;
        std::size_t expected_backup_size;
        bool recognised = true;  // found again beside the movie
    };
    const std::vector<Case> cases = {
        {"fits exactly", std::string(216, 'a'), 255, 255, 255},
        {"one byte over", std::string(217, 'a'), 255, 255, 255},
        {"250 bytes", std::string(246, 'b') + ".mov", 255, 255, 255},
        {"two-byte character across the limit", std::string(215, 'c') + e_acute + "d.mov", 255, 254, 255},
        {"two-byte character across the backup's limit", std::string(209, 'c') + e_acute + "d.mov", 255, 255, 254},
        {"invalid byte becomes three", std::string(214, 'f') + "\xff.mov", 255, 253, 255},
        {"backup fits exactly", std::string(206, 'g') + ".mov", 255, 249, 255},
        {"smaller limit: no room for the backup's", "clip.mov", 43, 43, 45, false},
        {"no room at all: nothing of the movie's name is left", "clip.mov", 20, 39, 45, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string name = temporary_file_name(token, c.source_name, c.limit);
        EXPECT_EQ(name.size(), c.expected_size);
        EXPECT_TRUE(name.starts_with(".velmora-" + token + "."));
        EXPECT_TRUE(is_valid_utf8(name));
        const std::string kept = name.substr(39);
        EXPECT_EQ(kept, decode_utf8_lossy(c.source_name).substr(0, kept.size()));

        const std::string backup = backup_path_for("/card/" + c.source_name, token, c.limit);
        ASSERT_TRUE(backup.starts_with("/card/"));
        const std::string backup_name = backup.substr(6);
        EXPECT_EQ(backup_name.size(), c.expected_backup_size);
        ASSERT_TRUE(backup_name.ends_with(".velmora-backup-" + token));
        const std::string source_part = backup_name.substr(0, backup_name.size() - 45);
        EXPECT_EQ(source_part, c.source_name.substr(0, source_part.size()));
        EXPECT_TRUE(is_valid_utf8(backup_name) || !is_valid_utf8(c.source_name));
        EXPECT_TRUE(is_own_working_file(backup_name));
        EXPECT_EQ(temporary_file_owner(backup_name), std::nullopt);
        EXPECT_EQ(is_backup_name_of(c.source_name, backup_name, c.limit), c.recognised);
    }
}

}  // namespace
}  // namespace velmora
