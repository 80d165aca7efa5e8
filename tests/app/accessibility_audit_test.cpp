// The shared accessibility audit finds each fault it promises on a small window built for it, and
// passes a window without them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "support/accessibility_audit.hpp"

namespace velk {
namespace {

QApplication& auditApplication() {
    static int argc = 1;
    static char name[] = "velk_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = QCoreApplication::instance()
        ? static_cast<QApplication*>(QCoreApplication::instance())
        : new QApplication(argc, argv);
    return *application;
}

bool mentions(const test::AccessibilityAuditResult& result, const std::string& part) {
    for (const auto& finding : result.findings) {
        if (finding.find(part) != std::string::npos) return true;
    }
    return false;
}

TEST(AccessibilityAudit, FindsUnreachableUnnamedSymbolAndValueNamedControlsAndStrayFocus) {
    auditApplication();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* named = new QPushButton(QStringLiteral("Scan Again"), &window);
    layout->addWidget(named);
    auto* noFocus = new QToolButton(&window);
    noFocus->setText(QStringLiteral("Download Take"));
    noFocus->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(noFocus);
    auto* field = new QLineEdit(&window);
    field->setPlaceholderText(QStringLiteral("Search projects"));
    layout->addWidget(field);
    layout->addWidget(new QPushButton(QStringLiteral("+"), &window));
    auto* picker = new QComboBox(&window);
    picker->addItems({QStringLiteral("Auto"), QStringLiteral("Manual")});
    picker->setAccessibleName(QStringLiteral("Policy"));
    layout->addWidget(picker);
    auto* list = new QListWidget(&window);
    list->setAccessibleName(QStringLiteral("Takes"));
    list->addItems({QStringLiteral("take-1"), QStringLiteral("take-2")});
    list->setCurrentRow(1);
    layout->addWidget(list);
    auto* tabs = new QTabBar(&window);
    tabs->setAccessibleName(QStringLiteral("Inspector"));
    tabs->addTab(QStringLiteral("Session"));
    tabs->addTab(QStringLiteral("Audio"));
    layout->addWidget(tabs);
    window.resize(300, 400);

    const auto result = test::auditAccessibility(window);
    EXPECT_TRUE(mentions(result, "\"Download Take\" is enabled but Tab never reaches it")) << result.report();
    EXPECT_TRUE(mentions(result, "QLineEdit \"Search projects\" has no accessible name")) << result.report();
    EXPECT_TRUE(mentions(result, "named by a single symbol \"+\"")) << result.report();
    // On Linux Qt names a combo box by its current text, whatever name it was given.
    EXPECT_TRUE(mentions(result, "picker named by its current value \"Auto\"")) << result.report();
    EXPECT_TRUE(mentions(result, "item \"take-2\" of QListWidget \"Takes\" reports focus")) << result.report();
    // So does it a tab bar, by its current tab.
    EXPECT_TRUE(mentions(result, "QTabBar \"Session\" is a picker named by its current value")) << result.report();
    EXPECT_TRUE(mentions(result, "item \"Session\" of QTabBar \"Session\" reports focus")) << result.report();
    EXPECT_FALSE(mentions(result, "Scan Again\" is enabled")) << result.report();
}

TEST(AccessibilityAudit, PassesANamedReachableWindowAndWalksItInOrder) {
    auditApplication();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral("Project name"), &window);
    auto* field = new QLineEdit(&window);
    label->setBuddy(field);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(new QPushButton(QStringLiteral("Cancel"), &window));
    layout->addWidget(new QPushButton(QStringLiteral("Create"), &window));
    window.resize(300, 200);

    const auto result = test::auditAccessibility(window);
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(test::accessibleNames(result.tabOrder),
              (QStringList{QStringLiteral("Project name"), QStringLiteral("Cancel"), QStringLiteral("Create")}));
    EXPECT_EQ(test::accessibleNames(result.backtabOrder),
              (QStringList{QStringLiteral("Project name"), QStringLiteral("Create"), QStringLiteral("Cancel")}));
}

} // namespace
} // namespace velk
