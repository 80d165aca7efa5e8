// The shared accessibility audit finds each fault it promises on a small window built for it, and
// passes a window without them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>
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
    auto* picker = new QSpinBox(&window);
    picker->setSuffix(QStringLiteral(" s"));
    picker->setValue(2);
    picker->setAccessibleName(QStringLiteral("2 s"));
    layout->addWidget(picker);
    auto* rows = new QTreeWidget(&window);
    rows->setAccessibleName(QStringLiteral("Takes"));
    rows->addTopLevelItems({new QTreeWidgetItem({QStringLiteral("take-1")}), new QTreeWidgetItem({QStringLiteral("take-2")})});
    rows->setCurrentItem(rows->topLevelItem(1));
    layout->addWidget(rows);
    window.resize(300, 400);

    const auto result = test::auditAccessibility(window);
    EXPECT_TRUE(mentions(result, "\"Download Take\" is enabled but Tab never reaches it")) << result.report();
    EXPECT_TRUE(mentions(result, "QLineEdit \"Search projects\" has no accessible name")) << result.report();
    EXPECT_TRUE(mentions(result, "named by a single symbol \"+\"")) << result.report();
    EXPECT_TRUE(mentions(result, "picker named by its current value \"2 s\"")) << result.report();
    // Qt's tree view reports its current row focused whether or not the tree has focus.
    EXPECT_TRUE(mentions(result, "item \"take-2\" of QTreeWidget \"Takes\" reports focus")) << result.report();
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
