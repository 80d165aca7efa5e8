// Where a window opens: a plain rule, no widgets.

#include <gtest/gtest.h>

#include "app/window_placement.hpp"

namespace velk {
namespace {

TEST(WindowPlacementRules, DefaultSizeFitsTheScreenWithTheTitleBarOnIt) {
    struct Case {
        const char* what;
        QSize preferred, minimum;
        QMargins frame;
        QRect available;
        std::optional<QPoint> proposed;
        WindowPlacement::Placement expected;
    };
    const QSize director{1320, 820}, directorMinimum{1050, 715}, library{1180, 760}, libraryMinimum{700, 400};
    const Case cases[] = {
        {"room to spare: default size, centred", director, directorMinimum, {}, {0, 0, 1920, 1080}, {}, {{300, 130}, director}},
        {"1280 × 720 logical (1920 × 1080 at 150 %)", director, directorMinimum, {}, {0, 0, 1280, 720}, {}, {{0, 0}, {1280, 720}}},
        {"the frame counts: title bar and borders", director, directorMinimum, {4, 30, 4, 4}, {0, 0, 1920, 1080}, {},
         {{296, 113}, director}},
        {"a panel takes the top; the minimum wins, the title bar stays below it", director, directorMinimum, {0, 30, 0, 0},
         {0, 27, 1280, 693}, {}, {{0, 27}, {1280, 715}}},
        {"a 1366 × 768 laptop with a panel", library, libraryMinimum, {1, 28, 1, 1}, {0, 0, 1366, 740}, {},
         {{92, 0}, {1180, 711}}},
        {"a screen smaller than the minimum: top left, overflowing right and bottom", director, directorMinimum, {},
         {0, 0, 1024, 600}, {}, {{0, 0}, directorMinimum}},
        {"a second screen to the right", library, libraryMinimum, {}, {1920, 0, 1280, 720}, {},
         {{1920 + 50, 0}, {1180, 720}}},
        {"a restored position that fits stays", library, libraryMinimum, {}, {0, 0, 1920, 1080}, QPoint{100, 200},
         {{100, 200}, library}},
        {"a restored position past the right and bottom edges is pulled back", library, libraryMinimum, {}, {0, 0, 1920, 1080},
         QPoint{1500, 900}, {{740, 320}, library}},
        {"a restored position above the screen puts the title bar on it", library, libraryMinimum, {0, 30, 0, 0},
         {0, 0, 1920, 1080}, QPoint{-300, -200}, {{0, 0}, library}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowPlacement::place(c.preferred, c.minimum, c.frame, c.available, c.proposed), c.expected) << c.what;
    }
}

} // namespace
} // namespace velk
