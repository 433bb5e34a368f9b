#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend_client.h"
#include "json_text.h"
#include "navigation.h"

namespace velmora {

// What the application owns and the bridge and the quitting steps share.
struct BridgeState {
    bool processing = false;
    bool quitting = false;
    bool ready = false;
    std::vector<std::string> pending_files;
    // The user chose to stop the batch and quit: quit once it has answered.
    bool quit_after_batch = false;
};

enum class ChooserKind { destination, folder, movies };

struct ChooserSpec {
    ChooserKind kind;
    bool directories;
    bool files;
    bool multiple;
    std::string title;
    std::vector<std::string> extensions;  // empty: any
};

// The chooser that a "pick" or "destination" message asks for.
ChooserSpec chooser_for(std::string_view command, const Json& args);
// The page's answer once the chooser has closed with these paths.
Json chooser_answer(ChooserKind kind, const std::vector<std::string>& paths);

bool is_backend_command(std::string_view command);

// The save chooser of "save_report": the page suggests the folder and name.
struct SaveSpec {
    std::string title;
    std::string folder;  // empty: the chooser's own choice
    std::string name;
};
// Where the user chose to save; `replace` when the name existed and the
// chooser's overwrite confirmation was given.
struct SaveChoice {
    std::string path;
    bool replace = false;
};
SaveSpec save_chooser_for(const Json& args);

// Where a script message came from, as far as the web view can tell.
struct MessageOrigin {
    bool from_application_view = false;
    std::optional<std::string> page_url;
};

// What the bridge needs from the application around it.
class BridgeHost {
public:
    virtual ~BridgeHost() = default;
    virtual void forward(const std::string& command, const Json& args, Completion done) = 0;
    virtual void choose(const ChooserSpec& recipe, std::function<void(std::vector<std::string>)> done) = 0;
    // Nothing when cancelled.
    virtual void choose_save(const SaveSpec& recipe, std::function<void(std::optional<SaveChoice>)> done) = 0;
    virtual void emit(std::string_view name, const Json& payload) = 0;
    // "copy_text": the desktop's clipboard, which a page from a file URL cannot reach itself.
    virtual void copy_text(const std::string& text) = 0;
    // A "process_movies" request has been answered (result or error).
    virtual void batch_ended() {}
};

// Decides every page message on the main thread: trust, readiness, choosers,
// the allow-list, one batch at a time, and forwarding to the backend.
class Bridge {
public:
    Bridge(BridgeState& state, BridgeHost& host, std::string ui_folder, PathResolver resolve = resolve_links);

    // Answers exactly once, now or when the chooser or the backend is done.
    void handle_message(const MessageOrigin& origin, const Json& body, Completion answer);
    bool trusted(const MessageOrigin& origin, const Json& body) const;

    // Files handed over by the desktop: delivered now once the page is
    // ready, else held until it says "ui_ready".
    void files_opened(const std::vector<std::string>& paths);

    const std::string& ui_folder() const { return ui_folder_; }
    const PathResolver& resolver() const { return resolve_; }

private:
    void forward(const std::string& command, const Json& args, Completion answer);
    void save_report(const Json& args, Completion answer);

    BridgeState& state_;
    BridgeHost& host_;
    std::string ui_folder_;
    PathResolver resolve_;
};

}  // namespace velmora
