#include <gtest/gtest.h>

#include "appearance.h"
#include "drag_events.h"
#include "quitting.h"
#include "window_geometry.h"

namespace velmora {
namespace {

struct FakeQuitHost : QuitHost {
    bool running = true;
    std::vector<std::pair<std::string, Json>> emitted;
    std::vector<Completion> shutdowns;
    int terminations = 0;

    void emit(std::string_view name, const Json& payload) override { emitted.emplace_back(std::string(name), payload); }
    bool backend_running() const override { return running; }
    void send_shutdown(Completion done) override { shutdowns.push_back(std::move(done)); }
    int cancels = 0;
    void send_cancel() override { ++cancels; }
    void terminate() override { ++terminations; }
};

TEST(Quitting, SendsExactlyOneShutdownAndEndsOnItsReply) {
    BridgeState state;
    FakeQuitHost host;
    EXPECT_EQ(request_quit(state, host), QuitAnswer::later);
    EXPECT_TRUE(state.quitting);
    EXPECT_EQ(request_quit(state, host), QuitAnswer::later);
    ASSERT_EQ(host.shutdowns.size(), 1u);
    EXPECT_EQ(host.terminations, 0);
    host.shutdowns[0](Json());
    EXPECT_EQ(host.terminations, 1);
    EXPECT_TRUE(host.emitted.empty());
}

TEST(Quitting, AnyEndOfTheShutdownRequestLetsTheApplicationGo) {
    for (auto outcome :
         {Result<Json>(Json()), Result<Json>(fail("The native backend stopped. Reopen Velmora before continuing.")),
          Result<Json>(fail("The native backend is unavailable."))}) {
        BridgeState state;
        FakeQuitHost host;
        ASSERT_EQ(request_quit(state, host), QuitAnswer::later);
        host.shutdowns.at(0)(outcome);
        EXPECT_EQ(host.terminations, 1);
    }
}

TEST(Quitting, BlockedWhileProcessingEveryTime) {
    BridgeState state;
    state.processing = true;
    FakeQuitHost host;
    for (int attempt = 0; attempt < 3; ++attempt) EXPECT_EQ(request_quit(state, host), QuitAnswer::cancel);
    ASSERT_EQ(host.emitted.size(), 3u);
    EXPECT_EQ(host.emitted[0], (std::pair<std::string, Json>{"close-blocked", Json()}));
    EXPECT_TRUE(host.shutdowns.empty());
    EXPECT_FALSE(state.quitting) << "the page may go on using the backend";

    state.processing = false;
    EXPECT_EQ(request_quit(state, host), QuitAnswer::later);
    EXPECT_EQ(host.shutdowns.size(), 1u);
}

TEST(Quitting, StopAndQuitCancelsOnceAndQuitsWhenTheBatchHasAnswered) {
    BridgeState state;
    state.processing = true;
    FakeQuitHost host;
    EXPECT_EQ(stop_and_quit(state, host), QuitAnswer::cancel);
    EXPECT_EQ(stop_and_quit(state, host), QuitAnswer::cancel) << "a second answer while waiting";
    EXPECT_EQ(host.cancels, 1);
    EXPECT_TRUE(host.shutdowns.empty()) << "the backend is still writing";

    state.processing = false;
    EXPECT_EQ(batch_answered(state, host), QuitAnswer::later);
    ASSERT_EQ(host.shutdowns.size(), 1u);
    host.shutdowns[0](Json());
    EXPECT_EQ(host.terminations, 1);
    EXPECT_FALSE(state.quit_after_batch);
}

TEST(Quitting, ABatchEndingWithoutAStopRequestQuitsNothing) {
    BridgeState state;
    FakeQuitHost host;
    EXPECT_EQ(batch_answered(state, host), QuitAnswer::cancel);
    EXPECT_TRUE(host.shutdowns.empty());
    EXPECT_FALSE(state.quitting);

    // The batch ended while the question was open: stopping now just quits.
    EXPECT_EQ(stop_and_quit(state, host), QuitAnswer::later);
    EXPECT_EQ(host.cancels, 0);
    EXPECT_EQ(host.shutdowns.size(), 1u);

    // A backend that died ends the batch as well; quitting then is immediate.
    BridgeState dead;
    dead.processing = true;
    FakeQuitHost gone;
    gone.running = false;
    EXPECT_EQ(stop_and_quit(dead, gone), QuitAnswer::cancel);
    dead.processing = false;
    EXPECT_EQ(batch_answered(dead, gone), QuitAnswer::now);
}

TEST(Appearance, GnomeSchemeDecidesAndDefaultLeavesItToGtk) {
    struct Case {
        std::optional<std::string_view> scheme;
        bool gtk_dark;
        std::string_view theme;
        bool dark;
    };
    const Case cases[] = {
        {"prefer-dark", false, "Adwaita", true},  {"prefer-light", true, "Adwaita-dark", false},
        {"default", false, "Adwaita", false},     {"default", true, "Adwaita", true},
        {"default", false, "Adwaita-dark", true}, {std::nullopt, false, "Breeze:dark", true},
        {std::nullopt, false, "darkness", false}, {"something-new", false, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dark_preferred(c.scheme, c.gtk_dark, c.theme), c.dark)
            << c.scheme.value_or("(no schema)") << " " << c.gtk_dark << " " << c.theme;
    }
}

TEST(Quitting, StoppedBackendMeansNow) {
    for (bool already_quitting : {false, true}) {
        BridgeState state;
        state.quitting = already_quitting;
        FakeQuitHost host;
        host.running = false;
        EXPECT_EQ(request_quit(state, host), QuitAnswer::now);
        EXPECT_TRUE(host.shutdowns.empty());
    }
}

TEST(WindowGeometry, FitsTheVisibleArea) {
    struct Case {
        std::optional<Size> visible;
        Size content;
        Size minimum;
    };
    const std::vector<Case> cases = {
        {Size{1440, 800}, {1280, 800}, {1000, 620}},  {Size{900, 600}, {900, 600}, {900, 600}},
        {Size{2560, 1415}, {1280, 940}, {1000, 620}}, {Size{1280, 940}, {1280, 940}, {1000, 620}},
        {Size{1000, 620}, {1000, 620}, {1000, 620}},  {Size{1200, 619}, {1200, 619}, {1000, 619}},
        {std::nullopt, {1280, 900}, {1000, 620}},
    };
    for (const auto& c : cases) {
        auto geometry = window_geometry(c.visible);
        EXPECT_EQ(geometry.content, c.content) << (c.visible ? c.visible->width : -1);
        EXPECT_EQ(geometry.minimum, c.minimum) << (c.visible ? c.visible->width : -1);
    }
}

TEST(DragEvents, FilesOnlyAndLeaveAlways) {
    EXPECT_EQ(drag_entered({}), std::nullopt);
    EXPECT_EQ(drag_dropped({}), std::nullopt);
    EXPECT_EQ(drag_entered({"/a.mov"}), (DropEvent{"native://drag-enter", {"/a.mov"}}));
    EXPECT_EQ(drag_dropped({"/a.mov", "/dir"}), (DropEvent{"native://drag-drop", {"/a.mov", "/dir"}}));
    EXPECT_EQ(drag_left(), (DropEvent{"native://drag-leave", {}}));
}

}  // namespace
}  // namespace velmora
