#pragma once
// Cases that run on a virtual X display of their own, where the xcb platform, the X server's key
// events and the windows' real geometry apply: an outer case runs this program again on an X
// server of its own (tests/support/on_xvfb) with VELK_VIRTUAL_DISPLAY set; the inner case skips elsewhere ("runs only ").
// Helpers the inner case runs against the display (xdotool, xwininfo) are its own children too.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QEventLoop>
#include <QTest>

#include <gtest/gtest.h>

#include "base/tsan_annotations.hpp"
#include "support/build_paths.hpp"
#include "support/child_process.hpp"
#include "test_record.hpp"

namespace velk::test {

// The window manager on_xvfb started ("openbox", "mutter", "kwin_x11"), empty for none.
inline std::string windowManager() {
    const char* value = std::getenv("VELK_WINDOW_MANAGER");
    return value ? value : "";
}

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

// Runs this program's cases of `suite` on a new virtual display of `screen` under the xcb platform,
// with the further environment `extra` ("NAME=value") and the window manager `windowManager` when
// named ("openbox", "mutter", "kwin_x11"; tests/support/on_xvfb), and checks that they ran and
// passed. A window manager that is missing or does not start fails the run.
inline void runOnVirtualDisplay(const std::string& suite, const std::string& screen,
                                const std::vector<std::string>& extra = {}, const std::string& windowManager = {},
                                int timeoutMs = 60'000) {
#if defined(VELK_THREAD_SANITIZER)
    // The race detector's stage runs the cases that need no display: these check what a window
    // shows and where, on an X server, not how threads meet.
    VELK_SKIP_CHILD_RUN(std::vector<std::string>{suite}, "needs an X server, which the race detector's stage does not start");
#endif
    std::vector<const char*> tools{"Xvfb", "xdotool", "xwininfo"};
    for (const char* tool : tools) {
        if (!installed(tool)) VELK_SKIP_CHILD_RUN(std::vector<std::string>{suite}, std::string(tool) + " is not installed (run scripts/setup)");
    }
    // The server, and the window manager when asked, come from the one X server starter of the
    // tests; it sets DISPLAY and the xcb platform and leaves no desktop's platform theme.
    std::vector<std::string> argv{test::sourcePath("tests/support/on_xvfb"), "--screen", screen};
    if (!windowManager.empty()) argv.insert(argv.end(), {"--window-manager", windowManager});
    for (const char* word : {"none", "env", "-u", "QT_SCALE_FACTOR", "VELK_VIRTUAL_DISPLAY=1"}) argv.push_back(word);
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    argv.push_back(test_record::filterFor({suite}));
    const std::string output = runToEnd(argv, timeoutMs).output;
    EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
    EXPECT_EQ(output.find("[  SKIPPED ]"), std::string::npos) << output;
    EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
}

// An X client (xdotool, xprop, xwininfo) run to its end while the application goes on handling its
// events, as it does while a person acts: what the client makes happen (a click, a key, a window's
// activation) reaches the application as it happens, never in a bunch once the GUI thread is free.
inline ProgramRun runAlongside(const std::vector<std::string>& argv, int timeoutMs = 30'000) {
    ProgramRun run;
    QEventLoop loop;
    std::thread client([&] {
        run = runToEnd(argv, timeoutMs);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    client.join();
    return run;
}

// A window's place on the X server as xwininfo reports it, in the server's pixels.
struct XPlace {
    int x = 0, y = 0, width = 0, height = 0;
};

inline std::optional<XPlace> xwininfo(const std::vector<std::string>& which) {
    std::vector<std::string> argv{"xwininfo"};
    argv.insert(argv.end(), which.begin(), which.end());
    std::stringstream lines(runAlongside(argv).output);
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
    std::optional<std::string> window = idAfter(runAlongside({"xwininfo", "-name", title}).output, "Window id:");
    for (int depth = 0; window && depth < 8; ++depth) {
        const std::string tree = runAlongside({"xwininfo", "-id", *window, "-children"}).output;
        const std::optional<std::string> root = idAfter(tree, "Root window id:");
        const std::optional<std::string> parent = idAfter(tree, "Parent window id:");
        if (!root || !parent || *parent == *root) break;
        window = parent;
    }
    if (!window) return std::nullopt;
    return xwininfo({"-id", *window});
}
inline std::optional<XPlace> xScreen() { return xwininfo({"-root"}); }

// Waits (at most three seconds: a window manager frames a window after it is shown, and the window
// is placed again then) until the frame of the window titled `title`, title bar included, lies on
// the screen, and checks that it does. Gives the screen's size.
inline std::optional<XPlace> expectFrameOnScreen(const std::string& title) {
    const std::optional<XPlace> screen = xScreen();
    std::optional<XPlace> placed;
    const auto onScreen = [&] {
        placed = xWindowTitled(title);
        return screen && placed && placed->x >= 0 && placed->y >= 0 && placed->x + placed->width <= screen->width &&
               placed->y + placed->height <= screen->height;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!onScreen() && std::chrono::steady_clock::now() < deadline) QTest::qWait(50);
    EXPECT_TRUE(screen && placed) << "no window titled " << title;
    if (!screen || !placed) return std::nullopt;
    EXPECT_GE(placed->x, 0);
    EXPECT_GE(placed->y, 0);
    EXPECT_LE(placed->x + placed->width, screen->width);
    EXPECT_LE(placed->y + placed->height, screen->height);
    return screen;
}

} // namespace velk::test
