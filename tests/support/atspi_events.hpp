#pragma once
// tests/support/atspi_event_counter on the session's accessibility bus, for cases that run in a
// screen reader's session (velk_test_on_desktops ... SCREEN_READER): what this program tells
// assistive tools, as a screen reader on the session's accessibility bus receives it. Needs a
// QApplication on the xcb platform with Qt's AT-SPI bridge on.

#include <QAccessible>
#include <QElapsedTimer>
#include <QEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/build_paths.hpp"
#include "support/child_process.hpp"
#include "support/qt_test.hpp"

namespace velk::test {

// Why the running case cannot run here, or nothing inside a screen reader's session: ctest runs
// each such case again as NAME.xcb_plain_screen_reader.
inline std::optional<std::string> outsideAScreenReadersSession() {
    if (qgetenv("VELK_SCREEN_READER") == "1") return std::nullopt;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("needs a screen reader's session: ctest runs it as ") + info->test_suite_name() + "." +
           info->name() + ".xcb_plain_screen_reader";
}

// tests/support/atspi_event_counter on the session's accessibility bus, ended with the case. Each
// count closes with a name change of a widget of this program's own, which the bridge sends after
// everything before it.
class AtspiEventCounter {
public:
    AtspiEventCounter()
        : m_counter({"/usr/bin/python3", sourcePath("tests/support/atspi_event_counter")}, "", true) {
        m_listening = m_counter.readLine(10'000) == "listening";
        if (!m_listening) return;
        QAccessibleInterface* marker = QAccessible::queryAccessibleInterface(&m_marker);
        m_counter.writeLine("mark " + path(marker));
        // The bridge sends every object event once it has learnt of the counter's registration.
        bool counted = false;
        m_listening = waitUntil([&] { return counted || (counted = count(5'000).has_value()); }, 20'000);
    }

    bool listening() const { return m_listening; }

    static std::string path(QAccessibleInterface* object) {
        return "/org/a11y/atspi/accessible/" + std::to_string(QAccessible::uniqueId(object));
    }

    // The counter's searches for the focused child of a list: "focused PATH calls TABLE CHILDREN".
    std::optional<std::string> findFocusedChild(QAccessibleInterface* list) {
        m_counter.writeLine("find " + path(list));
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, 120'000);
        return line;
    }

    // The events since the previous count, as the counter's line "events N KIND=COUNT ...". A busy
    // machine may take long to tell them all.
    std::optional<std::string> count(int boundMs = 60'000) {
        m_marker.setAccessibleName(QString::number(++m_marks));
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, boundMs);
        return line;
    }
    // The events from now until the application has nothing more to tell (a count without events):
    // what it does at once and what it leaves for its event loop (a list lays its rows out there).
    // None when it never fell quiet.
    std::optional<std::string> countUntilQuiet() {
        std::string told;
        for (int counts = 0; counts < 10; ++counts) {
            const std::optional<std::string> line = count();
            if (!line) return std::nullopt;
            if (*line == "events 0") return told.empty() ? *line : told;
            told += (told.empty() ? "" : " + ") + *line;
        }
        return std::nullopt;
    }

    // What the application told since the previous call, as the counter's "told" list: every text
    // inserted or removed ("insert TEXT", "delete TEXT"), the role and name of every object that
    // took the focus ("focused ROLE NAME", the role as AT-SPI names it) and the name of every
    // notification that showed ("notification NAME"), whose time of coming `notifiedAtMs` keeps. None
    // when the counter did not answer.
    std::optional<std::vector<std::string>> told() {
        if (!count()) return std::nullopt;
        m_counter.writeLine("told");
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, 60'000);
        if (!line || line->rfind("told ", 0) != 0) return std::nullopt;
        std::vector<std::string> told;
        const QByteArray list = QByteArray::fromStdString(line->substr(5));
        for (const QJsonValue entry : QJsonDocument::fromJson(list).array()) {
            const QString text = entry.toString();
            if (text.startsWith(QLatin1String("notification /"))) {
                // "notification PATH MS"
                QAccessibleInterface* shown = QAccessible::accessibleInterface(text.section(u' ', 1, 1).section(u'/', -1).toUInt());
                notifiedAtMs.push_back(text.section(u' ', 2, 2).toLongLong());
                told.push_back("notification " + (shown ? shown->text(QAccessible::Name).toStdString() : std::string()));
                continue;
            }
            if (!text.startsWith(QLatin1String("focused /"))) {
                told.push_back(text.toStdString());
                continue;
            }
            // "focused PATH ROLE"
            const QString path = text.section(u' ', 1, 1);
            QAccessibleInterface* focused = QAccessible::accessibleInterface(path.section(u'/', -1).toUInt());
            told.push_back("focused " + text.section(u' ', 2).toStdString() + " " +
                           (focused ? focused->text(QAccessible::Name).toStdString() : std::string()));
        }
        return told;
    }

    // The texts inserted since the counter started or since `forgetInserts`, and the milliseconds from
    // the first to the last as they reached the counter. None when the counter did not answer.
    std::optional<std::pair<int, int>> inserts() {
        if (!count()) return std::nullopt;
        m_counter.writeLine("inserts");
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, 60'000);
        int number = 0, ms = 0;
        if (!line || std::sscanf(line->c_str(), "inserts %d %d", &number, &ms) != 2) return std::nullopt;
        return std::pair(number, ms);
    }
    // Once what was told before has reached the counter.
    bool forgetInserts() {
        if (!count()) return false;
        m_counter.writeLine("inserts clear");
        return true;
    }

    // When each notification `told` listed reached the counter, in milliseconds of the monotonic
    // clock (QElapsedTimer::msecsSinceReference's).
    std::vector<qint64> notifiedAtMs;

private:
    ChildProcess m_counter;
    QWidget m_marker;
    int m_marks = 0;
    bool m_listening = false;
};

// "events 12 ChildrenChanged:add=1 ... + events 2 ..." → 14.
inline int total(const std::string& lines) {
    int sum = 0;
    for (std::size_t at = lines.find("events "); at != std::string::npos; at = lines.find("events ", at + 1))
        sum += std::stoi(lines.substr(at + 7));
    return sum;
}

// The events of kinds starting with `kind` in the counter's lines: "StateChanged:selected" in
// "events 6 StateChanged:selected=2 ... + events 2 StateChanged:selected=1" → 3.
inline int counted(const std::string& lines, const std::string& kind) {
    int sum = 0;
    for (std::size_t at = lines.find(" " + kind); at != std::string::npos; at = lines.find(" " + kind, at + 1)) {
        const std::size_t equals = lines.find('=', at);
        if (equals != std::string::npos) sum += std::stoi(lines.substr(equals + 1));
    }
    return sum;
}

// The pauses of at least `pauseMs` between the presses a widget receives: where a row that a held
// key passes may be told, the key having stopped for a while on a busy machine.
class KeyPauses final : public QObject {
public:
    KeyPauses(QWidget& widget, int pauseMs) : m_pauseMs(pauseMs) {
        widget.installEventFilter(this);
        m_since.start();
    }
    int pauses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        if (m_presses++ > 0 && m_since.elapsed() >= m_pauseMs) ++pauses;
        m_since.restart();
        return false;
    }

private:
    int m_pauseMs;
    int m_presses = 0;
    QElapsedTimer m_since;
};

} // namespace velk::test
