// What phones, catalogs and the library file say is drawn as written, whole, and on time: names
// that look like markup, failure reasons longer than a row, and sessions that expire.

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "library_window/collect_sheet.hpp"
#include "library_window/dashboard_view.hpp"
#include "library_window/library_list_models.hpp"
#include "library_window/view_kit.hpp"
#include "library_window_fixture.hpp"
#include "store/store_fixture.hpp"
#include "support/verbatim.hpp"
#include "support/widgets.hpp"

namespace velk::testing {
namespace {

using test::expectShownVerbatim;
using test::imageMarkup;
using test::largeMarkup;
using test::toolTipAsShown;
using test::underlinedFile;

std::string s(const QString& text) { return text.toStdString(); }

// A failure reason far longer than the 300-point Transfers panel is wide.
const std::string longReason =
    "Download failed for " + s(underlinedFile) +
    ": Transfer server returned HTTP 503 after three retries of the range starting at byte 8388608; "
    "bring the phone back to the foreground in Transfer Mode and try again. The partial copy is kept "
    "and resumes where it stopped.";

// The lowest row of `image` that is not `background`, or -1.
int lowestInk(const QImage& image, QRgb background) {
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAbs(qGray(image.pixel(x, y)) - qGray(background)) > 40) return y;
        }
    }
    return -1;
}

class LibraryWindowWithHostileCamerasTest : public LibraryWindowTest {
protected:
    LibraryWindowWithHostileCamerasTest() {
        for (const QString& name : {largeMarkup, imageMarkup}) {
            LiveCamera camera;
            camera.id = s(name);
            camera.name = s(name);
            camera.role = "camera";
            camera.lastSeen = clock.now();
            initialCameras.push_back(camera);
        }
    }
};

TEST_F(LibraryWindowWithHostileCamerasTest, CollectSheetShowsNamesAndMessagesAsWritten) {
    store.setTransferSessions({{"0123456789abcdef", s(largeMarkup), "s", clock.now() + std::chrono::minutes(12), "", true}});
    store.setCollectSources({{"0123456789abcdef", s(imageMarkup), CollectSourcePhase::failed, 0, 0, longReason}});
    window->show();
    window->showCollect();
    QWidget& sheet = *window->sheet();
    settle();
    expectShownVerbatim(sheet, largeMarkup);
    expectShownVerbatim(sheet, imageMarkup);
    expectShownVerbatim(sheet, QString::fromStdString(longReason));
    // The reason fills two lines of its status card and ends in an ellipsis, not cut mid-line.
    int reasons = 0;
    for (TwoLineLabel* label : sheet.findChildren<TwoLineLabel*>()) {
        if (label->text() != QString::fromStdString(longReason)) continue;
        ++reasons;
        const QStringList lines = label->shownLines();
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[1].endsWith(QChar(0x2026))) << lines[1].toStdString();
        EXPECT_GE(label->height(), 2 * label->fontMetrics().lineSpacing());
    }
    EXPECT_EQ(reasons, 1);
    for (QPushButton* card : sheet.findChildren<QPushButton*>(QStringLiteral("card"))) {
        EXPECT_EQ(toolTipAsShown(card->toolTip()), card->accessibleName()); // a camera's whole name
    }
    test::saveScreenshot(sheet, "library-sheet-collect-hostile-cameras.png");

    window->sheet()->close();
    settle();
    announce(s(largeMarkup), true);
    announce(s(imageMarkup), false);
    window->showCollect();
    settle();
    QWidget& sources = *window->sheet();
    ASSERT_EQ(sources.findChildren<QPushButton*>(QStringLiteral("card")).size(), 2);
    sources.findChildren<QPushButton*>(QStringLiteral("card"))[1]->click(); // the cards are built again
    settle();
    expectShownVerbatim(sources, largeMarkup);
    expectShownVerbatim(sources, imageMarkup);
    for (QPushButton* card : sources.findChildren<QPushButton*>(QStringLiteral("card"))) {
        EXPECT_EQ(toolTipAsShown(card->toolTip()), card->accessibleName());
    }
    test::saveScreenshot(sources, "library-sheet-collect-hostile-sources.png");
}

TEST_F(LibraryWindowTest, DashboardClipRowsAndActivityShowDataAsWritten) {
    VELKClip clip{.id = "c1", .cameraId = "cam-a", .fileName = s(underlinedFile)};
    clip.deviceName = s(largeMarkup);
    VELKTake take{.id = "t1", .projectNameAtCapture = s(imageMarkup), .referenceCameraId = s(largeMarkup),
                  .timelineFPS = "<i>30</i>", .clips = {clip}};
    store.setLibrary(VELKLibrary{{{"p1", s(largeMarkup), 1, {take}}}});
    store.setSelectedProjectID("p1");
    store.log(s(largeMarkup) + " " + longReason, true);
    window->show();
    settle();
    library::DashboardView& dashboard = *window->dashboard();
    expectShownVerbatim(dashboard, imageMarkup);              // "Captured as"
    expectShownVerbatim(dashboard, largeMarkup);              // the project and the reference camera
    expectShownVerbatim(dashboard, QStringLiteral("<i>30</i>")); // frame rate and timeline
    test::saveScreenshot(*window, "library-window-hostile-names-overview.png");
    window->dashboard()->setTab(library::LibraryDashboardTab::media);
    settle();
    expectShownVerbatim(dashboard, underlinedFile); // the clip row's file name
    expectShownVerbatim(dashboard, largeMarkup);    // and its device name
    test::saveScreenshot(*window, "library-window-hostile-names-media.png");
    auto* activities = dashboard.findChild<QListView*>(QStringLiteral("activities"));
    ASSERT_TRUE(activities);
    const QModelIndex entry = activities->model()->index(0, 0);
    EXPECT_EQ(toolTipAsShown(entry.data(Qt::ToolTipRole).toString()), QString::fromStdString(s(largeMarkup) + " " + longReason));
}

TEST_F(LibraryWindowTest, ErrorAlertShowsTheMessageAsWritten) {
    window->show();
    const QString message = QStringLiteral("Download failed for ") + underlinedFile + QStringLiteral(": ") + largeMarkup;
    store.setErrorMessage(s(message));
    ASSERT_TRUE(window->errorAlert());
    expectShownVerbatim(*window->errorAlert(), message);
    test::saveScreenshot(*window->errorAlert(), "library-alert-hostile-names.png");
}

TEST_F(LibraryWindowTest, TransferAndActivityRowsShowTheWholeReason) {
    store.setLibrary(VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {}}}}}});
    store.setSelectedProjectID("p1");
    store.setTransfers({{"t1", s(underlinedFile), TransferPhase::failed, 10, 100, longReason}});
    store.log(longReason, true);
    window->show();

    struct Row {
        library::LibraryDashboardTab tab;
        const char* list;
        QFont font;
        int oneLineRow;    // how high the row is with its message on one line
        int bottomPadding; // below its last line
    };
    const QFont caption2 = library::font(library::TextStyle::caption2);
    const QFont title = library::font(library::TextStyle::callout, true);
    const int transferOneLine = 12 + QFontMetrics(title).height() + 15 + QFontMetrics(caption2).height();
    const int activityOneLine = std::max(18, QFontMetrics(QFont()).height()) + 6;
    for (const Row& row : {Row{library::LibraryDashboardTab::media, "transfers", caption2, transferOneLine, 6},
                           Row{library::LibraryDashboardTab::activity, "activities", QFont(), activityOneLine, 3}}) {
        SCOPED_TRACE(row.list);
        window->dashboard()->setTab(row.tab);
        settle();
        auto* list = window->dashboard()->findChild<QListView*>(QString::fromLatin1(row.list));
        ASSERT_TRUE(list);
        const int lineHeight = QFontMetrics(row.font).height();
        const QRect rect = list->visualRect(list->model()->index(0, 0));
        EXPECT_GE(rect.height(), row.oneLineRow + lineHeight); // two lines at least
        const QImage image = list->viewport()->grab().toImage();
        const QRgb background = image.pixel(image.width() / 2, image.height() - 1);
        // Drawn to its last line, not cut to one.
        EXPECT_GT(lowestInk(image, background), rect.top() + row.oneLineRow - row.bottomPadding + lineHeight);
        test::saveScreenshot(*window, QStringLiteral("library-window-long-reason-%1.png").arg(QString::fromLatin1(row.list)));
    }
}

// The columns of ink in `image` between rows `top` and `bottom` from the rightmost one leftwards,
// up to the first gap of `gap` blank columns: the width the trailing text is drawn in.
int trailingInkWidth(const QImage& image, int top, int bottom, QRgb background, int gap) {
    auto inked = [&](int x) {
        for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y) {
            if (qAbs(qGray(image.pixel(x, y)) - qGray(background)) > 40) return true;
        }
        return false;
    };
    int right = image.width() - 1;
    while (right >= 0 && !inked(right)) --right;
    int left = right;
    for (int blank = 0; left > 0 && blank < gap; --left) blank = inked(left - 1) ? 0 : blank + 1;
    return right < 0 ? 0 : right - left - gap + 1;
}

// An activity row ends with its time of day, whole, also once the list is long enough to scroll
// (the scroll bar takes its width from the rows). Run at scale 1 and, as its own ctest entry, 1.5.
TEST_F(LibraryWindowTest, ActivityTimesAreWholeInAScrollingList) {
    store.setLibrary(VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {}}}}}});
    store.setSelectedProjectID("p1");
    for (int i = 0; i < 40; ++i) store.log("Imported take take-0" + std::to_string(i) + " with 3 camera clip(s).");
    window->show();
    window->dashboard()->setTab(library::LibraryDashboardTab::activity);
    auto* list = window->dashboard()->findChild<QListView*>(QStringLiteral("activities"));
    ASSERT_TRUE(list);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->verticalScrollBar()->isVisible(); }, 5000));

    // The time as the row draws it, alone, at the list's scale.
    const QModelIndex first = list->model()->index(0, 0);
    const QString time = first.data(library::TrailingRole).toString();
    const QFont caption = library::font(library::TextStyle::caption);
    const qreal scale = list->devicePixelRatioF();
    QImage alone((QSizeF(QFontMetrics(caption).horizontalAdvance(time) + 8, QFontMetrics(caption).height()) * scale).toSize(),
                 QImage::Format_RGB32);
    alone.setDevicePixelRatio(scale);
    alone.fill(Qt::white);
    {
        QPainter painter(&alone);
        painter.setFont(caption);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(2, QFontMetrics(caption).ascent()), time);
    }
    const int whole = trailingInkWidth(alone, 0, alone.height(), qRgb(255, 255, 255), int(4 * scale));
    ASSERT_GT(whole, 0);

    int drawn = 0;
    QTest::qWaitFor([&] {
        const QImage image = list->viewport()->grab().toImage();
        const QRect row = list->visualRect(first);
        const QRgb background = image.pixel(image.width() / 2, image.height() - 1);
        drawn = trailingInkWidth(image, int(row.top() * scale), int(row.bottom() * scale), background, int(4 * scale));
        return std::abs(drawn - whole) <= 2;
    }, 5000);
    EXPECT_NEAR(drawn, whole, 2) << time.toStdString() << " at scale " << scale;
    test::saveScreenshot(*window, QStringLiteral("library-window-activity-scrolling-%1.png").arg(scale));
}

// The toolbar and the Project menu follow a session's expiry: on the liveness tick, and on their
// own when no camera keeps that tick going.
TEST_F(LibraryWindowTest, DownloadCommandsDisableWhenTheSessionExpires) {
    VELKClip pending{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .deviceId = phoneID};
    store.setLibrary(VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {pending}}}}}});
    store.setTransferClient(phoneID, offlineClient(phoneID, clock));
    store.setSelectedProjectID("p1");
    window->show();
    ASSERT_TRUE(window->downloadTakeAction()->isEnabled());
    ASSERT_TRUE(window->downloadProjectAction()->isEnabled());

    clock.advanceMs(901'000);
    Q_EMIT live->livenessTickChanged();
    EXPECT_FALSE(window->downloadTakeAction()->isEnabled());
    EXPECT_FALSE(window->downloadProjectAction()->isEnabled());
}

TEST_F(LibraryWindowTest, DownloadCommandsDisableAtExpiryWithoutCameras) {
    VELKClip pending{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .deviceId = phoneID};
    store.setLibrary(VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {pending}}}}}});
    auto client = offlineClient(phoneID, clock);
    store.setTransferClient(phoneID, client);
    store.setTransferSessions({client->summary()});
    store.setSelectedProjectID("p1");
    window->show();
    clock.advanceMs(899'950);
    store.setIsBusy(true); // any change judges the commands again and sets the wake-up at the expiry
    store.setIsBusy(false);
    ASSERT_TRUE(window->downloadTakeAction()->isEnabled());
    clock.advanceMs(100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->downloadTakeAction()->isEnabled(); }, 2000));
    EXPECT_FALSE(window->downloadProjectAction()->isEnabled());
}

TEST_F(LibraryWindowTest, PanelsAreOutlinedInWhiteAtEightPercent) {
    library::LibraryPanel panel(QStringLiteral("Take readiness"), "checklist");
    panel.resize(300, 200);
    const QImage image = panel.grab().toImage();
    const QColor base = panel.palette().color(QPalette::Base);
    const QColor edge = image.pixelColor(150, 0);
    // White at 8 % over the card: each channel moves 8 % of the way to white.
    for (auto [drawn, under] : {std::pair{edge.red(), base.red()}, {edge.green(), base.green()}, {edge.blue(), base.blue()}}) {
        EXPECT_NEAR(drawn, under + (255 - under) * 0.08, 2.0);
    }
}

} // namespace
} // namespace velk::testing
