#include "command_line.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, TakesOutTheShellsOwnOptions) {
    struct Case {
        Args in;
        std::optional<std::string> resources;
        bool console;
        Args rest;
    };
    const std::vector<Case> cases = {
        {{"Velmora"}, std::nullopt, false, {"Velmora"}},
        {{"Velmora", "--resources", "/r", "a.mov"}, "/r", false, {"Velmora", "a.mov"}},
        {{"Velmora", "a.mov", "--resources=/r", "--page-console"}, "/r", true, {"Velmora", "a.mov"}},
        {{"Velmora", "--", "--resources", "/r"}, std::nullopt, false, {"Velmora", "--", "--resources", "/r"}},
        {{"--resources"}, std::nullopt, false, {"--resources"}},  // the program name is never an option
    };
    for (const auto& c : cases) {
        auto line = parse_command_line(c.in);
        ASSERT_TRUE(line) << c.in.back();
        EXPECT_EQ(line->resources, c.resources);
        EXPECT_EQ(line->page_console, c.console);
        EXPECT_EQ(line->rest, c.rest);
    }
    for (const Args& bad :
         {Args{"Velmora", "--resources"}, Args{"Velmora", "--resources="}, Args{"Velmora", "--resources", ""}}) {
        auto line = parse_command_line(bad);
        ASSERT_FALSE(line);
        EXPECT_EQ(line.error(), "--resources needs a folder");
    }
}

}  // namespace
}  // namespace velmora
