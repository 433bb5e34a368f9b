#include "fake_openers.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace velmora::testing {
namespace {

const std::filesystem::path fake_sources = std::filesystem::path(__FILE__).parent_path().parent_path() / "fake_openers";

std::string field(const std::string& text, const std::string& key) {
    const auto start = text.find(key + "=");
    if (start == std::string::npos) return {};
    const auto from = start + key.size() + 1;
    return text.substr(from, text.find(' ', from) - from);
}

}  // namespace

FakeOpeners::FakeOpeners() {
    for (const char* program : {"gdbus", "xdg-open"}) {
        const auto script = read_file((fake_sources / program).string());
        if (!script) throw std::runtime_error("missing fake opener " + (fake_sources / program).string());
        write_file(bin() + "/" + program, *script, 0755);
    }
}

std::vector<std::string> FakeOpeners::environment() const {
    const char* path = std::getenv("PATH");
    return {"PATH=" + bin() + ":" + (path ? path : "/usr/bin:/bin"), "VELMORA_OPENER_LOG=" + log()};
}

std::vector<OpenerRun> FakeOpeners::lines() const {
    std::vector<OpenerRun> runs;
    std::istringstream in(read_file(log()).value_or(""));
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.rfind('\t');
        if (tab == std::string::npos) continue;
        const std::string tail = line.substr(tab + 1);
        runs.push_back(OpenerRun{line.substr(0, tab), static_cast<pid_t>(std::atoi(field(tail, "pid").c_str())),
                                 field(tail, "stdin"), field(tail, "stdout"), field(tail, "probe")});
    }
    return runs;
}

std::vector<OpenerRun> FakeOpeners::wait_for_lines(std::size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto runs = lines();
    while (runs.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        runs = lines();
    }
    // A little longer, so a run beyond the expected count is seen too.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return lines();
}

void FakeOpeners::remove(const std::string& program) const { ::unlink((bin() + "/" + program).c_str()); }

bool wait_until_gone(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string entry = "/proc/" + std::to_string(pid);
    while (std::filesystem::exists(entry)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace velmora::testing
