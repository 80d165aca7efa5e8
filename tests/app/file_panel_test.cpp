// What a file panel hands on: plain rules, no widgets.

#include <gtest/gtest.h>

#include "app/file_panel.hpp"

namespace velk {
namespace {

TEST(FilePanelRules, TheNamedAcceptedItemElseTheFirstOnThisComputer) {
    const QUrl exports = QUrl::fromLocalFile("/srv/exports"), srv = QUrl::fromLocalFile("/srv");
    struct Case {
        const char* what;
        QList<QUrl> accepted;
        QString named;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"nothing accepted", {}, {}, std::nullopt},
        {"one item", {exports}, {}, "/srv/exports"},
        {"several, none named: the first", {exports, srv}, {}, "/srv/exports"},
        {"several, the field names the second", {srv, exports}, "/srv/exports", "/srv/exports"},
        {"named with a trailing slash", {srv, exports}, "/srv/exports/", "/srv/exports"},
        {"the field names none of them: the first", {srv, exports}, "/srv/other", "/srv"},
        {"the first is not on this computer", {QUrl("sftp://host/exports"), srv}, {}, std::nullopt},
        {"a named local item among remote ones", {QUrl("sftp://host/exports"), srv}, "/srv", "/srv"},
        {"an empty address", {QUrl()}, {}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(FilePanel::acceptedPath(c.accepted, c.named), c.expected) << c.what;
}

TEST(FilePanelRules, TheNameFieldsPath) {
    EXPECT_EQ(FilePanel::namedPath("/srv/exports", "/home/ana", "/home/ana"), "/srv/exports");
    EXPECT_EQ(FilePanel::namedPath("exports", "/srv", "/home/ana"), "/srv/exports");
    EXPECT_EQ(FilePanel::namedPath("../exports/", "/srv/a", "/home/ana"), "/srv/exports");
    EXPECT_EQ(FilePanel::namedPath("~/Videos", "/srv", "/home/ana"), "/home/ana/Videos");
    EXPECT_EQ(FilePanel::namedPath("~", "/srv", "/home/ana"), "/home/ana");
    EXPECT_EQ(FilePanel::namedPath("~ana", "/srv", "/home/ana"), "/srv/~ana");
    EXPECT_EQ(FilePanel::namedPath("", "/srv", "/home/ana"), "");
    EXPECT_EQ(FilePanel::namedPath("\"a\" \"b\"", "/srv", "/home/ana"), "");
}

} // namespace
} // namespace velk
