#include "page_script.h"

#include <gtest/gtest.h>

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

TEST(PageScripts, CallThePagesOwnFunctions) {
    struct Case {
        std::string script;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {click_script("add-movies"), "document.getElementById('add-movies').click()"},
        {focus_edge_script(true), "window.VelmoraKeyboard?.focusEdge(true)"},
        {focus_edge_script(false), "window.VelmoraKeyboard?.focusEdge(false)"},
        {focus_back_script(), "window.VelmoraKeyboard?.focusBack()"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.script, c.expected);
}

TEST(InjectedScripts, NameTheHandlerAndKeepNoPlaceholders) {
    for (const auto& script : {injected_script(), frame_guard_script()}) {
        EXPECT_NE(script.find("handlers.velmora"), std::string::npos) << script;
        EXPECT_EQ(script.find('@'), std::string::npos) << script;
    }
    EXPECT_NE(injected_script().find("postMessage({ command, args })"), std::string::npos)
        << "the page's messages carry exactly the command and its arguments";
}

}  // namespace
}  // namespace velmora
