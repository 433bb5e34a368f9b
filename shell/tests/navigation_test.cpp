#include "navigation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

TEST(FileUrlPath, DecodesLocalFileUrlsOnly) {
    struct Case {
        const char* url;
        std::optional<std::string> path;
    };
    const std::vector<Case> cases = {
        {"file:///a/b.html", "/a/b.html"},
        {"FILE:///a/b.html", "/a/b.html"},
        {"file://localhost/a/b.html", "/a/b.html"},
        {"file:///a%20b/c%2Fd.html", "/a b/c/d.html"},
        {"file:///a/b.html?q=%zz#frag", "/a/b.html"},
        {"file://server/a/b.html", std::nullopt},
        {"file:///a%2", std::nullopt},
        {"file:///a%zz", std::nullopt},
        {"file:///a%00b", std::nullopt},
        {"file:", std::nullopt},
        {"about:blank", std::nullopt},
        {"https://example.com/a", std::nullopt},
        {"velmora-file:///a", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(file_url_path(c.url), c.path) << c.url;
}

TEST(NavigationPolicy, StaysInsideTheUiFolder) {
    const std::string ui = "/r/ui";
    PathResolver resolve = [](const std::string& path) -> std::optional<std::string> {
        if (path == "/r/ui/out.html") return "/r/notices/index.html";  // a symbolic link leading out
        if (path == "/r/ui/missing.html") return std::nullopt;
        return path;
    };
    struct Case {
        std::optional<std::string_view> url;
        bool main_frame;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {std::nullopt, true, false},
        {"about:blank", true, true},
        {"about:blank", false, false},
        {"about:blank#x", true, false},
        {"file:///r/ui/index.html", true, true},
        {"file:///r/ui/help/other.html#part", true, true},
        {"file:///r/ui/index.html", false, false},
        {"file:///r/ui/out.html", true, false},
        {"file:///r/ui/missing.html", true, false},
        {"file:///r/uix/index.html", true, false},
        {"file:///r/ui/../notices/index.html", true, true},  // the fake does not resolve ".."; the real one does
        {"https://example.com/", true, false},
        {"data:text/html,<p>", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(navigation_allowed(c.url, c.main_frame, ui, resolve), c.allowed)
            << (c.url ? std::string(*c.url) : "no url") << " main=" << c.main_frame;
    }
}

TEST(NavigationPolicy, ResolvesRealLinksAndDotDot) {
    namespace fs = std::filesystem;
    auto root = fs::temp_directory_path() / ("velmora-nav-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "ui");
    fs::create_directories(root / "notices");
    std::ofstream(root / "ui" / "index.html") << "<p>";
    std::ofstream(root / "notices" / "index.html") << "<p>";
    fs::create_symlink(root / "notices" / "index.html", root / "ui" / "link.html");
    auto ui = canonical_path((root / "ui").string()).value();

    auto url = [&](const fs::path& path) { return "file://" + path.string(); };
    EXPECT_TRUE(navigation_allowed(url(root / "ui" / "index.html"), true, ui, resolve_links));
    EXPECT_FALSE(navigation_allowed(url(root / "ui" / "link.html"), true, ui, resolve_links));
    EXPECT_FALSE(navigation_allowed(url(root / "ui" / ".." / "notices" / "index.html"), true, ui, resolve_links));
    EXPECT_FALSE(navigation_allowed(url(root / "ui" / "absent.html"), true, ui, resolve_links));
    fs::remove_all(root);
}

}  // namespace
}  // namespace velmora
