// Prints the page scripts for the node tests that run them:
//   page_script_tool inject
//   page_script_tool frame-guard
//   page_script_tool emit NAME PAYLOAD_JSON
#include <cstdio>
#include <string>

#include "page_script.h"

int main(int argc, char** argv) {
    using namespace velmora;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "inject" && argc == 2) {
        std::fputs(injected_script().c_str(), stdout);
        return 0;
    }
    if (mode == "frame-guard" && argc == 2) {
        std::fputs(frame_guard_script().c_str(), stdout);
        return 0;
    }
    if (mode == "emit" && argc == 4) {
        auto payload = parse_json(argv[3]);
        if (!payload) return 2;
        auto script = emit_script(argv[2], *payload);
        if (!script) return 1;
        std::fputs(script->c_str(), stdout);
        return 0;
    }
    std::fputs("usage: page_script_tool inject | frame-guard | emit NAME PAYLOAD_JSON\n", stderr);
    return 2;
}
