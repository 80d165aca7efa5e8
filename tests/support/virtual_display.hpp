#pragma once
// Cases that run on a virtual X display of their own, where the xcb platform, the X server's key
// events and the windows' real geometry apply: an outer case starts Xvfb and runs this program
// again on it with VELK_VIRTUAL_DISPLAY set; the inner case skips elsewhere ("runs only ").
// Helpers the inner case runs against the display (xdotool, xwininfo) are its own children too.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "test_record.hpp"

namespace velk::test {

inline bool onVirtualDisplay() {
    const char* value = std::getenv("VELK_VIRTUAL_DISPLAY");
    return value && std::string(value) == "1";
}

inline bool installed(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Runs `argv` to its end (at most `timeoutMs`) and gives its standard output and error.
inline std::string runToEnd(const std::vector<std::string>& argv, int timeoutMs = 20'000) {
    const std::string output = std::filesystem::temp_directory_path() /
                               ("velk-display-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()) + ".out");
    {
        ChildProcess child(argv, output);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!child.hasExited() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::ifstream file(output);
    std::stringstream text;
    text << file.rdbuf();
    std::filesystem::remove(output);
    return text.str();
}

// An Xvfb server with one screen of `screen` ("1280x720x24"), and a window manager (openbox)
// when asked. The display number is held by the server's own lock file in /tmp, so concurrent
// tests never share one.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& screen, bool windowManager = false) {
        for (int number = 300; number < 400 && m_name.empty(); ++number) {
            if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
            auto server = std::make_unique<ChildProcess>(
                std::vector<std::string>{"Xvfb", ":" + std::to_string(number), "-displayfd", "1", "-screen", "0",
                                         screen, "-nolisten", "tcp"},
                "", true);
            // Ready when it writes its number; it ends at once when another server holds it.
            if (server->readLine(10'000) == std::to_string(number)) {
                m_server = std::move(server);
                m_name = ":" + std::to_string(number);
            }
        }
        if (m_name.empty() || !windowManager) return;
        // openbox runs its start-up command once it manages the screen (its messages come first).
        m_windowManager = std::make_unique<ChildProcess>(
            std::vector<std::string>{"env", "DISPLAY=" + m_name, "openbox", "--sm-disable", "--startup", "echo ready"}, "",
            true);
        std::optional<std::string> line;
        do line = m_windowManager->readLine(10'000);
        while (line && *line != "ready");
        if (!line) m_name.clear();
    }
    const std::string& name() const { return m_name; }

private:
    std::unique_ptr<ChildProcess> m_server;
    std::unique_ptr<ChildProcess> m_windowManager; // stopped before the server
    std::string m_name;
};

// Runs this program's cases of `suite` on a new virtual display of `screen` under the xcb platform,
// with the further environment `extra` ("NAME=value") and a window manager when asked, and checks
// that they ran and passed.
inline void runOnVirtualDisplay(const std::string& suite, const std::string& screen,
                                const std::vector<std::string>& extra = {}, bool windowManager = false,
                                int timeoutMs = 60'000) {
    std::vector<const char*> tools{"Xvfb", "xdotool", "xwininfo"};
    if (windowManager) tools.push_back("openbox");
    for (const char* tool : tools) {
        if (!installed(tool)) VELK_SKIP_CHILD_RUN(std::vector<std::string>{suite}, std::string(tool) + " is not installed (run scripts/setup)");
    }
    VirtualDisplay display(screen, windowManager);
    ASSERT_FALSE(display.name().empty()) << "no virtual display started";
    std::vector<std::string> argv{"env", "-u", "XDG_CURRENT_DESKTOP", "-u", "QT_SCALE_FACTOR",
                                  "DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "VELK_VIRTUAL_DISPLAY=1"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    argv.push_back(test_record::filterFor({suite}));
    const std::string output = runToEnd(argv, timeoutMs);
    EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
    EXPECT_EQ(output.find("[  SKIPPED ]"), std::string::npos) << output;
    EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
}

// A window's place on the X server as xwininfo reports it, in the server's pixels.
struct XPlace {
    int x = 0, y = 0, width = 0, height = 0;
};

inline std::optional<XPlace> xwininfo(const std::vector<std::string>& which) {
    std::vector<std::string> argv{"xwininfo"};
    argv.insert(argv.end(), which.begin(), which.end());
    std::stringstream lines(runToEnd(argv));
    XPlace place;
    int found = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto field = [&](const char* name, int& value) {
            const auto at = line.find(name);
            if (at == std::string::npos) return;
            value = std::stoi(line.substr(at + std::string(name).size()));
            ++found;
        };
        field("Absolute upper-left X:", place.x);
        field("Absolute upper-left Y:", place.y);
        field("Width:", place.width);
        field("Height:", place.height);
    }
    if (found != 4) return std::nullopt;
    return place;
}

// The window titled `title` with its window manager's frame, if any: the ancestor that is a child
// of the root window.
inline std::optional<XPlace> xWindowTitled(const std::string& title) {
    const auto idAfter = [](const std::string& text, const std::string& label) -> std::optional<std::string> {
        const auto at = text.find(label);
        if (at == std::string::npos) return std::nullopt;
        std::stringstream rest(text.substr(at + label.size()));
        std::string id;
        rest >> id;
        return id;
    };
    std::optional<std::string> window = idAfter(runToEnd({"xwininfo", "-name", title}), "Window id:");
    for (int depth = 0; window && depth < 8; ++depth) {
        const std::string tree = runToEnd({"xwininfo", "-id", *window, "-children"});
        const std::optional<std::string> root = idAfter(tree, "Root window id:");
        const std::optional<std::string> parent = idAfter(tree, "Parent window id:");
        if (!root || !parent || *parent == *root) break;
        window = parent;
    }
    if (!window) return std::nullopt;
    return xwininfo({"-id", *window});
}
inline std::optional<XPlace> xScreen() { return xwininfo({"-root"}); }

} // namespace velk::test
