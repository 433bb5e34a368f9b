// "save_report": the report appears under its name only complete, and an
// existing file is replaced only when the user said so.

#include "report_file.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/backend_harness.h"

namespace velmora {
namespace {

using testing::list_folder;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::string report_text = "Source path,State\r\n\"/m/a,\"\"b\"\".mov\",done\r\n";

TEST(SaveReport, ArgumentsAndPlacesThatAreRefused) {
    TempDir dir{"velmora-report"};
    struct Case {
        const char* label;
        nlohmann::json args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no path", {{"text", "x"}}, "invalid type: null, expected a string"},
        {"no text", {{"path", dir.join("r.csv")}}, "invalid type: null, expected a string"},
        {"text not a string",
         {{"path", dir.join("r.csv")}, {"text", {1}}},
         "invalid type: sequence, expected a string"},
        {"relative path", {{"path", "r.csv"}, {"text", "x"}}, "Choose a full path for the report."},
        {"a folder, not a file", {{"path", dir.path() + "/"}, {"text", "x"}}, "Choose a full path for the report."},
        {"missing folder", {{"path", dir.join("gone/r.csv")}, {"text", "x"}}, "No such file or directory (os error 2)"},
        {"NUL byte",
         {{"path", dir.path() + std::string("/r\0.csv", 7)}, {"text", "x"}},
         "Invalid path: it contains a NUL byte."},
    };
    for (const Case& c : cases) {
        const auto reply = save_report(c.args);
        ASSERT_FALSE(reply.has_value()) << c.label;
        EXPECT_EQ(reply.error(), c.message) << c.label;
    }
    EXPECT_TRUE(list_folder(dir.path()).empty());
}

TEST(SaveReport, ExclusiveUnlessReplaceIsTrue) {
    TempDir dir{"velmora-report"};
    const std::string path = dir.join("Velmora report 2026-12-08 11-05.csv");
    struct Case {
        const char* label;
        nlohmann::json replace;
        bool replaces;
    };
    const std::vector<Case> cases = {
        {"absent", nullptr, false},           {"false", false, false}, {"a string is no confirmation", "true", false},
        {"one is no confirmation", 1, false}, {"true", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        write_file(path, "the earlier report");
        // Held open: a file rewritten in place would show the new bytes here.
        const int earlier = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(earlier, 0);
        nlohmann::json args = {{"path", path}, {"text", report_text}};
        if (!c.replace.is_null()) args["replace"] = c.replace;
        const auto reply = save_report(args);
        EXPECT_EQ(reply.has_value(), c.replaces);
        if (c.replaces) {
            EXPECT_EQ(*reply, nlohmann::json());
        } else {
            EXPECT_EQ(reply.error(), "File exists (os error 17)");
        }
        EXPECT_EQ(read_file(path), c.replaces ? report_text : "the earlier report");
        char bytes[64] = {};
        EXPECT_EQ(::pread(earlier, bytes, sizeof bytes, 0), 18) << "the earlier file itself is never rewritten";
        ::close(earlier);
        EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>{"Velmora report 2026-12-08 11-05.csv"})
            << "no hidden file left";
    }

    ::unlink(path.c_str());
    ASSERT_TRUE(save_report({{"path", path}, {"text", report_text}}).has_value());
    EXPECT_EQ(read_file(path), report_text);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(
        status.st_mode & 0777, 0666u & ~[] {
            mode_t m = ::umask(0);
            ::umask(m);
            return m;
        }());
}

// A publish that fails leaves nothing new under any name.
TEST(SaveReport, NothingUnderTheNameWhenTheWriteFails) {
    TempDir dir{"velmora-report"};
    const std::string path = dir.join("r.csv");
    // A name that already exists as a folder: the hidden file is written,
    // the publish fails, and the hidden file goes again.
    ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
    const auto reply = write_report_file(path, report_text, true);
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), "Is a directory (os error 21)");
    EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>{"r.csv"});
}

}  // namespace
}  // namespace velmora
