#pragma once
// What the Director's widget tests share: one application for the whole test program, four ready
// cameras, an active window and review screenshots.

#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/theme.hpp"
#include "director_test_support.hpp"
#include "director_window/director_window.hpp"
#include "support/build_paths.hpp"
#include "support/widgets.hpp"

namespace velk::test {

// The application is destroyed before the process ends so that the font caches it holds are
// released (the sanitizer build checks for leaks at exit).
class QtEnvironment final : public ::testing::Environment {
public:
    void TearDown() override { application.reset(); }
    std::unique_ptr<QApplication> application;
};

inline QtEnvironment* const qtEnvironment =
    static_cast<QtEnvironment*>(::testing::AddGlobalTestEnvironment(new QtEnvironment));

inline QApplication& app() {
    static int argc = 1;
    static char arg0[] = "director_window_test";
    static char* argv[] = {arg0, nullptr};
    if (!qtEnvironment->application) {
        qtEnvironment->application = std::make_unique<QApplication>(argc, argv);
        Theme::apply(*qtEnvironment->application);
    }
    return *qtEnvironment->application;
}

inline std::vector<LiveCamera> fourCameras() {
    return {readyCamera("cam-1", "Alpha", "10.77.0.11"), readyCamera("cam-2", "Bravo", "10.77.0.12"),
            readyCamera("cam-3", "Charlie", "10.77.0.13"), readyCamera("cam-4", "Delta", "10.77.0.14")};
}

// Saves a screenshot for review (not compared) under the build folder.
inline void saveScreenshot(QWidget& widget, const char* name) {
    const QString folder = QString::fromStdString(test::binaryPath("screenshots/director_window"));
    QDir().mkpath(folder);
    QTest::qWait(20); // pending layouts settle first
    widget.grab().save(folder + "/" + name + ".png");
}

inline void showActive(DirectorWindow& window) { ASSERT_TRUE(activate(window)); }

} // namespace velk::test
