// What a screen reader is told of the containers around the focus, for every window: a stack of
// pages is spoken by the name of the page it shows, never as a nameless "layered pane", and only the
// focus widget reports focus, not the tab widget, scroll area viewport or button box it lies in.

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/accessible_application.hpp"
#include "support/accessibility_audit.hpp"

namespace velk {
namespace {

// One container, built in `window` around the widget it returns, which then takes the focus; the
// focus's own window may be another (an alert).
struct ContainerCase {
    const char* name;
    std::function<QWidget*(QWidget& window, QVBoxLayout& layout)> build;
    std::string spokenAncestors;              // on the way to the focus, nearest first, " / " between
    std::vector<std::string> focusReporters;  // every object that reports focus
};

const ContainerCase kContainerCases[] = {
    {"stacked pages",
     [](QWidget&, QVBoxLayout& layout) {
         auto* stack = new QStackedWidget;
         for (const char* page : {"Session", "Camera"}) {
             auto* widget = new QWidget;
             widget->setAccessibleName(QString::fromLatin1(page));
             new QPushButton(QStringLiteral("Rotate"), widget);
             stack->addWidget(widget);
         }
         stack->setCurrentIndex(1);
         layout.addWidget(stack);
         return stack->currentWidget()->findChild<QPushButton*>();
     },
     "panel Camera",
     {"QPushButton \"Rotate\""}},
    {"tab widget",
     [](QWidget&, QVBoxLayout& layout) {
         auto* tabs = new QTabWidget;
         tabs->setAccessibleName(QStringLiteral("Wi-Fi QR"));
         tabs->addTab(new QLabel(QStringLiteral("Choose an image")), QStringLiteral("Join from QR"));
         tabs->addTab(new QLabel(QStringLiteral("Network")), QStringLiteral("Show QR"));
         tabs->tabBar()->setAccessibleName(QStringLiteral("Wi-Fi QR"));
         layout.addWidget(tabs);
         return tabs->tabBar();
     },
     "",
     {"QTabBar \"Wi-Fi QR\" #qt_tabwidget_tabbar", "item \"Join from QR\" of QTabBar \"Wi-Fi QR\" #qt_tabwidget_tabbar"}},
    {"scroll area the keyboard reaches",
     [](QWidget&, QVBoxLayout& layout) {
         auto* scroll = new QScrollArea;
         scroll->setAccessibleName(QStringLiteral("Audio"));
         scroll->setFocusPolicy(Qt::TabFocus);
         scroll->setWidget(new QLabel(QStringLiteral("Left \u221220 dB")));
         layout.addWidget(scroll);
         return scroll;
     },
     "",
     {"QScrollArea \"Audio\""}},
    {"alert",
     [](QWidget& window, QVBoxLayout&) {
         auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export Failed"),
                                       QStringLiteral("The folder is full."), QMessageBox::Ok, &window);
         alert->setWindowModality(Qt::WindowModal);
         alert->open();
         return static_cast<QWidget*>(alert->button(QMessageBox::Ok));
     },
     "",
     {"QPushButton \"OK\""}},
};

class AccessibleContainers : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(AccessibleContainers, OnlyTheFocusReportsFocusAndPagesAreSpokenByTheirName) {
    accessibleApplication();
    const ContainerCase& c = GetParam();
    QWidget window;
    window.resize(360, 300);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QPushButton(QStringLiteral("Scan Again")));
    QWidget* focus = c.build(window, *layout);
    ASSERT_TRUE(test::activate(window));
    if (focus->window() != &window) ASSERT_TRUE(test::activate(*focus->window()));
    Keyboard::choose(*focus);
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), focus);

    EXPECT_EQ(test::focusReporters(*focus->window()), c.focusReporters);
    EXPECT_EQ(test::spokenAncestors(focus).join(QStringLiteral(" / ")).toStdString(), c.spokenAncestors);
    // No stack of pages goes without a name, whatever has the focus.
    for (QStackedWidget* stack : window.findChildren<QStackedWidget*>()) {
        QAccessibleInterface* iface = test::accessibleOf(stack);
        EXPECT_NE(iface->role(), QAccessible::LayeredPane);
        if (stack->currentWidget() && !stack->currentWidget()->accessibleName().isEmpty())
            EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), stack->currentWidget()->accessibleName().toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Every, AccessibleContainers, ::testing::ValuesIn(kContainerCases),
                         [](const ::testing::TestParamInfo<ContainerCase>& info) {
                             std::string name;
                             for (const char* at = info.param.name; *at; ++at)
                                 if (std::isalnum(static_cast<unsigned char>(*at))) name += *at;
                             return name;
                         });

// A stack without a name of its own is renamed as another page shows.
TEST(AccessibleStack, IsNamedAfterThePageItShows) {
    accessibleApplication();
    QStackedWidget stack;
    for (const char* page : {"Session", "Audio"}) {
        auto* widget = new QLabel;
        widget->setAccessibleName(QString::fromLatin1(page));
        stack.addWidget(widget);
    }
    QAccessibleInterface* iface = test::accessibleOf(&stack);
    EXPECT_EQ(iface->role(), QAccessible::Grouping);
    EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), "Session");
    stack.setCurrentIndex(1);
    EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), "Audio");
    stack.setAccessibleName(QStringLiteral("Inspector"));
    EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), "Inspector");
}

} // namespace
} // namespace velk
