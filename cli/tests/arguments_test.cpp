#include "arguments.h"

#include <gtest/gtest.h>

#include <fstream>

#include "progress_line.h"
#include "report_csv.h"

namespace velmora::cli {
namespace {

using Args = std::vector<std::string>;
using Json = nlohmann::json;

TEST(Arguments, StampOptionsBecomeSettings) {
    struct Case {
        Args args;
        Json changes;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{"stamp", "--start", "creation", "a"}, {{"source", "creation"}}},
        {{"stamp", "--start", "10:00:00;00", "a"}, {{"source", "custom"}, {"start", "10:00:00;00"}}},
        // Typed as in the window's Start field: digits from the right, a period for drop-frame.
        {{"stamp", "--start", "10000000", "a"}, {{"source", "custom"}, {"start", "10:00:00:00"}}},
        {{"stamp", "--start", "1:2:3.4", "a"}, {{"source", "custom"}, {"start", "01:02:03;04"}}},
        {{"stamp", "--drop-frame", "on", "a"}, {{"mode", "drop"}}},
        {{"stamp", "--drop-frame", "off", "a"}, {{"mode", "non-drop"}}},
        {{"stamp", "--offset", "-00:00:01:00", "a"}, {{"direction", "subtract"}, {"offset", "00:00:01:00"}}},
        {{"stamp", "--offset", "00:00:01:00", "a"}, {{"direction", "add"}, {"offset", "00:00:01:00"}}},
        {{"stamp", "--zone", "-07:00", "a"}, {{"timezone", "-07:00"}}},
        {{"stamp", "--reel", "Roll 7", "a"}, {{"reelSource", "custom"}, {"reel", "Roll 7"}}},
        {{"stamp", "--reel-from", "card", "a"}, {{"reelSource", "card"}}},
        {{"stamp", "--output", "/out/", "a"}, {{"copy", true}, {"destination", "/out/"}}},
        {{"stamp", "--in-place", "a"}, {{"copy", false}, {"append", false}}},
        {{"stamp", "--append", "a"}, {{"copy", false}, {"append", true}}},
        {{"stamp", "--flat", "--suffix", "", "--existing", "number", "a"},
         {{"retain", false}, {"suffix", ""}, {"existing", "number"}}},
        {{"stamp", "--no-recursive", "--continuous", "--", "--a"}, {{"recursive", false}, {"continuous", true}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const auto parsed = parse_arguments(c.args);
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_EQ(parsed->changes, c.changes);
        EXPECT_EQ(parsed->paths.size(), 1u);
    }
}

TEST(Arguments, UsageErrorsAreOneLine) {
    struct Case {
        Args args;
        std::string message;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, "missing command"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"stamp"}, "missing PATH"},
        {{"probe", "--dry-run", "a"}, "unknown option --dry-run"},
        {{"stamp", "--start"}, "--start needs a value"},
        {{"stamp", "--start", "10:00:00", "a"}, "--start takes embedded, creation, modification or HH:MM:SS:FF"},
        {{"stamp", "--start", "123456789", "a"}, "--start takes embedded, creation, modification or HH:MM:SS:FF"},
        {{"stamp", "--offset", "+1:00:00:00", "a"}, "--offset takes [+|-]HH:MM:SS:FF"},
        {{"stamp", "--drop-frame", "yes", "a"}, "--drop-frame takes auto|off|on"},
        {{"stamp", "--zone", "+14:30", "a"}, "--zone takes camera, local, utc or +hh:mm"},
        {{"stamp", "--zone", "-12:01", "a"}, "--zone takes camera, local, utc or +hh:mm"},
        {{"stamp", "--reel", std::string(33, 'r'), "a"}, "--reel takes 1 to 32 bytes without control characters"},
        {{"stamp", "--suffix", "a/b", "a"}, "--suffix takes up to 16 bytes without \"/\""},
        {{"stamp", "--output", "/o", "--append", "a"}, "--output and --append exclude each other"},
        {{"stamp", "--flat", "--keep-structure", "a"}, "--flat and --keep-structure exclude each other"},
        {{"stamp", "--report", "", "a"}, "--report needs a file"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto parsed = parse_arguments(c.args);
        ASSERT_FALSE(parsed) << c.message;
        EXPECT_EQ(parsed.error(), c.message);
    }
    // --help wins over what is missing; the window needs no path.
    EXPECT_EQ(parse_arguments({"stamp", "--help"})->help_for, Verb::kStamp);
    EXPECT_TRUE(parse_arguments({"window"}));
}

TEST(ProgressLine, CountsBytesAcrossTheBatch) {
    ProgressLine line({100'000'000, 300'000'000});
    EXPECT_EQ(line.text(1), "Movie 1 of 2  0%");
    line.update({{"index", 0}, {"progress", 0.5}, {"total", 2}});
    EXPECT_EQ(line.text(1), "Movie 1 of 2  12%  50.0 MB/s  0:07 left");
    line.update({{"index", 1}, {"progress", nullptr}});
    EXPECT_EQ(line.text(4000), "Movie 2 of 2  25%  0.0 MB/s  3:20:00 left");
    line.update({{"index", 7}, {"progress", 2}});
    EXPECT_EQ(line.text(4), "Movie 2 of 2  100%  100.0 MB/s  0:00 left");
}

TEST(ReportCsv, QuotesAsRfc4180) {
    EXPECT_EQ(csv_line({"a", "b,c", "say \"hi\"", "x\ny", ""}), "a,\"b,c\",\"say \"\"hi\"\"\",\"x\ny\",\r\n");
    EXPECT_EQ(duration_text(4.001666666666667), "00:00:04.002");
    EXPECT_EQ(duration_text(3725.5), "01:02:05.500");
    EXPECT_EQ(duration_text(-1), "");
}

// The page's report reads the same batch and must give the same rows.
TEST(ReportCsv, RowsMatchSharedTable) {
    std::ifstream in(VELMORA_TEST_DATA "/report_cases.json");
    const auto cases = Json::parse(in);
    const auto& batch = cases.at("batch");
    const auto& expected = cases.at("expected");
    ASSERT_EQ(expected.size(), batch.at("movies").size() + batch.at("notImported").size() + 1);
    EXPECT_EQ(Json(kReportColumns), expected.front());
    std::size_t row = 1;
    for (const auto& m : batch.at("movies")) {
        SCOPED_TRACE(m.at("record").at("path").get<std::string>());
        const auto text = [&](const char* key) { return m.value(key, Json()).is_string() ? m.at(key) : Json(""); };
        const ReportMovie movie{
            m.at("record"),
            m.at("phase"),
            text("timecode"),
            m.value("typed", false),
            m.value("reel", Json()).is_string() ? std::optional<std::string>(m.at("reel")) : std::nullopt,
            text("error"),
            m.value("result", Json()),
            m.at("settings")};
        EXPECT_EQ(Json(report_row(movie, batch.at("zone"))), expected.at(row++));
    }
    for (const auto& file : batch.at("notImported")) EXPECT_EQ(Json(refused_row(file)), expected.at(row++));
}

}  // namespace
}  // namespace velmora::cli
