// Each inspector page as a screen reader meets it with the keyboard on the page's first stop: the
// page is spoken by its own name, never as a nameless "layered pane", and only the focus reports
// focus (not a scroll area's viewport beside it), and each audio level and camera value is read out
// once, with its camera.

#include <QAccessible>
#include <QComboBox>
#include <QListView>
#include <QRegularExpression>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "director_fakes.hpp"
#include "app/keyboard_keeper.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/studio_view_kit.hpp"
#include "director_window_support.hpp"
#include "support/accessibility_audit.hpp"

namespace velk {
namespace {

using namespace test;

struct SpokenPage {
    DirectorInspectorTab tab;
    std::function<QWidget*(DirectorInspector&)> focus;
    std::string spokenAncestors; // nearest first, " / " between
    std::vector<std::string> focusReporters;
};

TEST(DirectorSpokenPages, EachPageIsSpokenByItsNameWithOnlyTheFocusReportingFocus) {
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    window.startSession();
    window.perform(DirectorTransition::cut);
    window.selectPreview("cam-2");
    const SpokenPage pages[] = {
        {DirectorInspectorTab::session, [](DirectorInspector& i) -> QWidget* { return i.session()->projectPicker(); },
         "panel Session", {"velk::ElidedComboBox \"Project\" #projectPicker"}},
        {DirectorInspectorTab::audio, [](DirectorInspector& i) -> QWidget* { return i.audio()->channelList(); },
         "panel Audio", {"QScrollArea \"Audio meters\" #audioChannels"}},
        {DirectorInspectorTab::camera,
         [](DirectorInspector& i) -> QWidget* { return i.camera()->findChild<QScrollArea*>("cameraDesk"); },
         "panel Camera", {"QScrollArea \"Preview network and planned controls\" #cameraDesk"}},
        {DirectorInspectorTab::edits, [](DirectorInspector& i) -> QWidget* { return i.edits()->list(); },
         // The list and, as Tab into it makes its first row current, that row.
         "panel Edits",
         {"QListView \"Edit Decisions\" #editDecisions", "item \"00:00:00 CUT Alpha\" of QListView \"Edit Decisions\" #editDecisions"}},
    };
    for (const SpokenPage& page : pages) {
        window.setInspectorTab(page.tab);
        QWidget* focus = page.focus(*window.inspector());
        Keyboard::choose(*focus);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), focus) << rawValue(page.tab);
        EXPECT_EQ(spokenAncestors(focus).join(QStringLiteral(" / ")).toStdString(), page.spokenAncestors)
            << rawValue(page.tab);
        EXPECT_EQ(focusReporters(window), page.focusReporters) << rawValue(page.tab);
        // Each level and each camera value on the page is read out once with its camera: with the
        // page, not again by the region around it.
        const std::vector<QAccessibleInterface*> read = labelsReadOut(focus);
        std::vector<QWidget*> values;
        for (AudioMeter* meter : window.inspector()->findChildren<AudioMeter*>()) values.push_back(meter);
        for (PreviewStatusRow* row : window.inspector()->findChildren<PreviewStatusRow*>()) values.push_back(row);
        for (QWidget* value : values) {
            if (!value->isVisible()) continue;
            const QString name = accessibleOf(value)->text(QAccessible::Name);
            EXPECT_EQ(std::count(read.begin(), read.end(), accessibleOf(value)), 1) << name.toStdString();
            EXPECT_TRUE(name.contains(QRegularExpression(QStringLiteral("^(Alpha|Bravo|Charlie|Delta), \\w")))) << name.toStdString();
        }
    }
}

// Only the window is a window for assistive tools: a frame drawn around controls (the switcher's
// panel) told as one would be taken by a screen reader for the window of the controls in it, which
// then speaks the real window again whenever it is activated.
TEST(DirectorSpokenPages, OnlyTheWindowIsAWindow) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    for (QWidget* widget : rig.window->findChildren<QWidget*>()) {
        QAccessibleInterface* iface = accessibleOf(widget);
        EXPECT_FALSE(iface && (iface->role() == QAccessible::Border || iface->role() == QAccessible::Window))
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
}

} // namespace
} // namespace velk
