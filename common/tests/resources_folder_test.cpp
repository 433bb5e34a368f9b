#include "resources_folder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace velmora {
namespace {

using Args = std::vector<std::string>;

TEST(ResourcesFolder, FindsResourcesBesideTheExecutable) {
    EXPECT_EQ(resource_candidates("/w/build/shell/Velmora"),
              (Args{"/w/build/resources", "/w/build/share/velmora/resources", "/w/build/lib/velmora/resources",
                    "/w/build/shell/resources"}));
    EXPECT_EQ(resource_candidates("/usr/bin/velmora").at(2), "/usr/lib/velmora/resources");
    EXPECT_EQ(resource_candidates("/usr/lib/velmora/Velmora").at(3), "/usr/lib/velmora/resources");
    EXPECT_EQ(resource_candidates("/usr/local/bin/Velmora").at(1), "/usr/local/share/velmora/resources");

    struct Case {
        std::set<std::string> present;
        std::string chosen;
    };
    const auto candidates = resource_candidates("/usr/bin/Velmora");
    const std::vector<Case> cases = {
        {{"/usr/share/velmora/resources/bin/velmora-mac-backend"}, "/usr/share/velmora/resources"},
        {{"/usr/resources/bin/velmora-mac-backend", "/usr/share/velmora/resources/bin/velmora-mac-backend"},
         "/usr/resources"},
        {{"/usr/share/velmora/resources/ui/index.html"}, "/usr/resources"},
        {{"/usr/lib/velmora/resources/bin/velmora-mac-backend"}, "/usr/lib/velmora/resources"},
        {{}, "/usr/resources"},
    };
    for (const auto& c : cases) {
        auto exists = [&](const std::string& path) { return c.present.contains(path); };
        EXPECT_EQ(choose_resources(candidates, exists), c.chosen);
    }
}

}  // namespace
}  // namespace velmora
