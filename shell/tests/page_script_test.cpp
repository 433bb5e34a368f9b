#include "page_script.h"

#include <gtest/gtest.h>

#include <set>

namespace velmora {
namespace {

TEST(EmitScript, SpreadsTheNameAndPayloadIntoTheOptionalCall) {
    struct Case {
        const char* name;
        Json payload;
        const char* script;
    };
    const std::vector<Case> cases = {
        {"close-blocked", Json(), R"(window.__VELMORA_EVENT__?.(...["close-blocked",null]))"},
        {"native://drag-drop", Json{{"paths", {"/a b/\"q\".mov", "/é.mp4"}}},
         R"(window.__VELMORA_EVENT__?.(...["native://drag-drop",{"paths":["/a b/\"q\".mov","/é.mp4"]}]))"},
        {"progress", Json{{"total", 2}, {"id", "x"}, {"index", 0}},
         R"(window.__VELMORA_EVENT__?.(...["progress",{"id":"x","index":0,"total":2}]))"},
        {"native://drag-leave", Json{{"paths", Json::array()}},
         R"(window.__VELMORA_EVENT__?.(...["native://drag-leave",{"paths":[]}]))"},
        {"x", Json("</script>\u2028"), "window.__VELMORA_EVENT__?.(...[\"x\",\"</script>\u2028\"])"},
    };
    for (const auto& c : cases) EXPECT_EQ(emit_script(c.name, c.payload), c.script) << c.name;
}

TEST(EmitScript, NothingWhenThePairIsNotUtf8) {
    EXPECT_FALSE(emit_script("progress", Json{{"name", "\xc3("}}));
    EXPECT_FALSE(emit_script("bad\xff", Json()));
}

TEST(TrustToken, IsFreshHexEveryTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        auto token = make_trust_token();
        EXPECT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(InjectedScript, CarriesTheTokenAndNoPlaceholders) {
    auto script = injected_script("feedc0de");
    EXPECT_NE(script.find("const token = \"feedc0de\";"), std::string::npos);
    EXPECT_NE(script.find("messageHandlers.velmora"), std::string::npos);
    EXPECT_EQ(script.find('@'), std::string::npos) << script;
}

}  // namespace
}  // namespace velmora
