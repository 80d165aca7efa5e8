#include <optional>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "pairing/camera_pairing_store.hpp"
#include "app/keyboard_keeper.hpp"
#include "pairing/ui/camera_pairing_sheet.hpp"
#include "pairing/ui/camera_pairing_sheet_presenter.hpp"
#include "pairing/ui/qr_code_image.hpp"
#include "app/accessibility.hpp"
#include "app/theme.hpp"
#include "pairing_test_support.hpp"
#include "support/accessibility_audit.hpp"
#include "support/child_process.hpp"
#include "support/verbatim.hpp"
#include "support/widgets.hpp"
#include "support/x_keyboard.hpp"

namespace velk {
namespace {

using View = CameraPairingSheetView;
using test::child;
using test::click;
using test::labelText;
using test::shown;

bool drawable(const std::string&) { return true; }
bool undrawable(const std::string&) { return false; }

TEST(PairingSheetPresenter, CentreItemAndCandidateFollowTheRules) {
    CameraPairingInvitation invitation{"velk-pair", 1, "d", "n", "10.0.0.1", 45454, "k", "i", "s", 1};
    CameraPairingCandidate candidate{"cam", "Camera", "k", "r", "10.0.0.2", Bytes{'a', 'b', 'c'}, "p", "s"};
    const struct {
        bool invitation, candidate, recording;
        std::string message;
        bool (*draw)(const std::string&);
        View::Centre centre;
        bool showsCandidate;
    } cases[] = {
        {true, true, true, "", drawable, View::Centre::paused, false},
        {true, false, false, "", drawable, View::Centre::qrCode, false},
        {true, true, false, "", drawable, View::Centre::qrCode, true},
        {false, false, false, "Approved", drawable, View::Centre::nothing, false},
        {false, false, false, "", drawable, View::Centre::expired, false},
        {true, false, false, "", undrawable, View::Centre::expired, false},
        {true, false, false, "Oops", undrawable, View::Centre::nothing, false},
    };
    for (const auto& c : cases) {
        const View view = presentCameraPairingSheet(c.invitation ? std::optional(invitation) : std::nullopt,
                                                    c.candidate ? std::optional(candidate) : std::nullopt, {}, c.message,
                                                    c.recording, c.draw);
        EXPECT_EQ(view.centre, c.centre) << c.message;
        EXPECT_EQ(view.showsCandidate, c.showsCandidate);
        EXPECT_EQ(view.message.has_value(), !c.message.empty());
    }
    const View pending = presentCameraPairingSheet(invitation, candidate, {}, "", false, drawable);
    EXPECT_EQ(pending.verificationCode, "432319");
    EXPECT_EQ(pending.qrPayload, encodeInvitation(invitation));
    EXPECT_TRUE(cancelsOnRecordingChange(false, true));
    EXPECT_FALSE(cancelsOnRecordingChange(true, true));
    EXPECT_FALSE(cancelsOnRecordingChange(true, false));
}

class PairingSheet : public testing::Test {
protected:
    void SetUp() override {
        test::ensureApplication<QApplication>();
        store = std::make_unique<CameraPairingStore>(std::filesystem::path(dir.path().toStdString()), clock);
        store->begin("6f9619ff-8b86-4011-b42d-00c04fc964ff", std::string("10.77.0.1"));
        ASSERT_TRUE(store->invitation());
    }
    void answer(const std::string& id, std::optional<std::string> name = std::nullopt) {
        pairing_test::Hello hello(*store->invitation());
        hello.sender = id;
        hello.name = name.value_or("Camera " + id);
        store->receive(hello.build(), "10.77.0.11");
    }
    std::unique_ptr<CameraPairingSheet> makeSheet(bool recording = false) {
        auto sheet = std::make_unique<CameraPairingSheet>(
            *store, [this](const std::string& data, const std::string& host) { sent.push_back({data, host}); }, recording);
        sheet->open();
        QCoreApplication::processEvents();
        return sheet;
    }
    // The sheet with cam-A paired and cam-B waiting for approval.
    std::unique_ptr<CameraPairingSheet> makeSheetWithPairedAndPendingCameras() {
        answer("cam-A");
        EXPECT_TRUE(store->approve());
        store->begin("6f9619ff-8b86-4011-b42d-00c04fc964ff", std::string("10.77.0.1"));
        answer("cam-B");
        return makeSheet();
    }

    QTemporaryDir dir;
    ManualClock clock{fromWallMs(1'700'000'000'000), 1'000'000};
    std::unique_ptr<CameraPairingStore> store;
    std::vector<std::pair<std::string, std::string>> sent;
};

TEST_F(PairingSheet, QRCodeDecodesToTheInvitation) {
    auto sheet = makeSheet();
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->width(), 440);
    EXPECT_TRUE(shown(*sheet, "qrCode"));
    EXPECT_FALSE(shown(*sheet, "expired"));
    test::saveScreenshot(*sheet, "pairing_sheet_invitation.png");
    QTemporaryDir images;
    const QString file = images.filePath("qr.png");
    ASSERT_TRUE(child<QLabel>(*sheet, "qrImage")->pixmap().save(file));
    const test::ProgramRun zbar = test::runToEnd({"zbarimg", "--raw", "-q", "-Sdisable", "-Sqrcode.enable", "-Sbinary", file.toStdString()}, 20000);
    EXPECT_EQ(zbar.status, std::optional<int>(0));
    EXPECT_EQ(zbar.output, encodeInvitation(*store->invitation()));
}

TEST_F(PairingSheet, ApproveAndRemoveCallTheStore) {
    auto sheet = makeSheet();
    answer("cam-A");
    ASSERT_TRUE(shown(*sheet, "candidate"));
    EXPECT_EQ(labelText(*sheet, "code").toStdString(), store->candidate()->verificationCode());
    EXPECT_FALSE(shown(*sheet, "trusted"));
    test::saveScreenshot(*sheet, "pairing_sheet_candidate.png");

    click(*sheet, "approve");
    click(*sheet, "approve"); // a second press finds nothing to approve
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].second, "10.77.0.11");
    EXPECT_EQ(json::parse(sent[0].first)["type"], "pair-accept");
    EXPECT_FALSE(shown(*sheet, "candidate"));
    EXPECT_EQ(labelText(*sheet, "message"), "Invitation expired. Show a new QR code.");
    EXPECT_TRUE(shown(*sheet, "trusted"));
    ASSERT_EQ(store->trusted().size(), 1u);
    QCoreApplication::processEvents();
    test::saveScreenshot(*sheet, "pairing_sheet_approved.png");

    click(*sheet, "remove");
    QCoreApplication::processEvents();
    EXPECT_TRUE(store->trusted().empty());
    EXPECT_FALSE(shown(*sheet, "trusted"));
}

TEST_F(PairingSheet, RecordingPausesAndCancelsOnlyOnChange) {
    answer("cam-A");
    auto already = makeSheet(true);
    EXPECT_TRUE(shown(*already, "paused"));
    EXPECT_FALSE(shown(*already, "candidate"));
    EXPECT_TRUE(store->candidate()); // created while recording: the attempt stays
    already.reset();

    auto sheet = makeSheet();
    sheet->setRecording(true);
    EXPECT_FALSE(store->invitation());
    EXPECT_FALSE(store->isExpiryTimerRunning());
    EXPECT_TRUE(shown(*sheet, "paused"));
    test::saveScreenshot(*sheet, "pairing_sheet_paused.png");
    sheet->setRecording(false);
    EXPECT_TRUE(shown(*sheet, "expired"));
}

// Approving grants trust: Return, wherever the focus is, approves nothing (nor removes a camera);
// Space on the focused "Approve Camera" does. The application's keyboard rules are in force.
TEST_F(PairingSheet, ReturnApprovesNothing) {
    Accessibility::install();
    auto sheet = makeSheetWithPairedAndPendingCameras();
    ASSERT_TRUE(shown(*sheet, "candidate"));
    ASSERT_TRUE(shown(*sheet, "trusted"));
    for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    }
    // "Done" last: Return on it closes the sheet, as it should.
    QList<QWidget*> targets{sheet.get(), child(*sheet, "approve"), child(*sheet, "remove"), child(*sheet, "done")};
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    for (QWidget* target : targets) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            if (!sheet->isVisible()) break; // closed by "Done"
            Keyboard::choose(*target);
            EXPECT_TRUE(target == sheet.get() || target->hasFocus());
            QTest::keyClick(target, key);
        }
    }
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(store->candidate());
    EXPECT_EQ(store->trusted().size(), 1u);

    sheet->open();
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    Keyboard::choose(*child(*sheet, "approve"));
    QTest::keyClick(child(*sheet, "approve"), Qt::Key_Space);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(store->trusted().size(), 2u);
}

// Typed on an X server, under every platform theme and under a screen reader: Return and keypad
// Enter with any modifier held approve nothing and remove nothing either.
TEST_F(PairingSheet, ModifiedReturnApprovesAndRemovesNothing) {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb")
        GTEST_SKIP() << "needs an X server: ctest runs it on one as PairingSheet.ModifiedReturnApprovesAndRemovesNothing.xcb_*";
    Accessibility::install();
    auto sheet = makeSheetWithPairedAndPendingCameras();
    ASSERT_TRUE(test::activate(*sheet));
    test::XKeyboard keys(*sheet);
    ASSERT_TRUE(keys.screenReaderTakesKeys());
    for (const char* target : {"approve", "remove"}) {
        Keyboard::choose(*child(*sheet, target));
        for (const char* key : {"Return", "KP_Enter"}) {
            for (const char* modifiers : {"shift", "ctrl", "alt", "ctrl+shift"})
                keys.type(std::string(modifiers) + "+" + key);
        }
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(store->candidate());
    EXPECT_EQ(store->trusted().size(), 1u);
    test::saveScreenshot(*sheet, "pairing_sheet_after_modified_return_" + test::desktopSession() + ".png");
    Keyboard::choose(*child(*sheet, "approve"));
    keys.type("space"); // the keys reach the sheet: Space approves
    EXPECT_EQ(sent.size(), 1u);
    keys.expectKeysAsAScreenReaderLeavesThem();
}

TEST_F(PairingSheet, LongAndMarkupNamesKeepTheSheetWidthAndShowAsWritten) {
    const std::string wide(64, 'W'); // the longest name a camera may send
    answer("cam-A", wide);
    auto sheet = makeSheet();
    EXPECT_EQ(sheet->width(), 440);
    auto* name = child<QLabel>(*sheet, "candidateName");
    EXPECT_EQ(name->text().toStdString(), wide); // wrapped, never cut
    EXPECT_GE(name->height(), 2 * name->fontMetrics().height());
    EXPECT_DOUBLE_EQ(child<QLabel>(*sheet, "compareCode")->font().pointSizeF(),
                     Theme::font(Theme::TextStyle::caption).pointSizeF());
    test::saveScreenshot(*sheet, "pairing_sheet_long_name.png");

    click(*sheet, "approve");
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet->width(), 440);
    EXPECT_NE(labelText(*sheet, "message").toStdString().find(wide), std::string::npos);

    store->begin("6f9619ff-8b86-4011-b42d-00c04fc964ff", std::string("10.77.0.1"));
    answer("cam-B", test::largeMarkup.toStdString());
    QCoreApplication::processEvents();
    test::expectShownVerbatim(*sheet, test::largeMarkup);
    click(*sheet, "approve");
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet->width(), 440);
    test::expectShownVerbatim(*sheet, test::largeMarkup); // in the approval sentence
    for (auto* row : sheet->findChildren<QLabel*>()) {
        if (row->parentWidget() && row->parentWidget()->findChild<QPushButton*>("remove") && !row->toolTip().isEmpty()) {
            const QString shown = test::toolTipAsShown(row->toolTip());
            EXPECT_TRUE(shown == QString::fromStdString(wide) || shown == test::largeMarkup) << shown.toStdString();
        }
    }
    // Both rows have room: the second approval came while the sheet was on screen.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the rows built before
    const auto removes = sheet->findChildren<QPushButton*>("remove");
    ASSERT_EQ(removes.size(), 2);
    EXPECT_GE(child<QWidget>(*sheet, "trustedList")->height(), 2 * removes[0]->sizeHint().height());
    test::saveScreenshot(*sheet, "pairing_sheet_hostile_names.png");
}

TEST_F(PairingSheet, DoneClosesWithoutCancelling) {
    auto sheet = makeSheet();
    click(*sheet, "done");
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(store->invitation());
}

} // namespace
} // namespace velk

namespace velk {
namespace {

TEST_F(PairingSheet, KeyboardReachesEveryButtonAndRemoveNamesItsCamera) {
    auto sheet = makeSheetWithPairedAndPendingCameras();
    const auto result = test::auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    // Once round from the header's "Done", in reading order.
    QStringList order = test::accessibleNames(result.tabOrder);
    const qsizetype done = order.indexOf("Done");
    ASSERT_GE(done, 0);
    EXPECT_EQ((order.mid(done) + order.mid(0, done)).join(" | "), "Done | Approve Camera | Remove");
    auto* remove = sheet->findChild<QPushButton*>(QStringLiteral("remove"));
    ASSERT_TRUE(remove);
    EXPECT_EQ(test::accessibleDescription(remove), "Camera cam-A");
}

} // namespace
} // namespace velk
