// The shell's plain rules: the Settings texts with home-abbreviated folders and what a launch does.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/activation_input.hpp"
#include "app/modal_keyboard.hpp"
#include "app/qt_platform.hpp"
#include "app/settings_presenter.hpp"
#include "app/symbols.hpp"
#include "app/single_instance.hpp"
#include "app/window_activation.hpp"
#include "app/x11_focus_rule.hpp"

namespace velk {
namespace {

TEST(SettingsRules, HomeAbbreviation) {
    struct Case {
        const char* path;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/home/ana/Videos/Velk", "/home/ana", "~/Videos/Velk"},
        {"/home/ana/.local/share/Velk", "/home/ana/", "~/.local/share/Velk"},
        {"/home/ana", "/home/ana", "~"},
        {"/home/ana/Videos/Velk/", "/home/ana", "~/Videos/Velk"},
        {"/home/anabel/Velk", "/home/ana", "/home/anabel/Velk"}, // a longer name is not under home
        {"/srv/media/Velk", "/home/ana", "/srv/media/Velk"},
        {"/home/ana/x/../Velk", "/home/ana", "~/Velk"},
        {"/anything/Velk", "/", "/anything/Velk"},                // root as home abbreviates nothing
        {"/home/ana/Velk", "", "/home/ana/Velk"},
        {"relative/Velk", "/home/ana", "relative/Velk"},
    };
    for (const Case& c : cases) EXPECT_EQ(homeAbbreviated(c.path, c.home), c.expected) << c.path << " in " << c.home;
}

TEST(SettingsRules, SectionsNameTheRealFolders) {
    const auto sections = settingsSections("/home/ana/Videos/Velk", "/home/ana/.local/share/Velk", "/home/ana");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].title, "Storage");
    ASSERT_EQ(sections[0].lines.size(), 3u);
    EXPECT_EQ(sections[0].lines[0].text, "Verified recordings: ~/Videos/Velk");
    EXPECT_EQ(sections[0].lines[1].text, "Library: ~/.local/share/Velk");
    EXPECT_EQ(sections[0].lines[2].text, "Legacy-compatible storage paths are preserved after the rename.");
    EXPECT_TRUE(sections[0].lines[2].caption);
    EXPECT_FALSE(sections[0].lines[0].caption);
    // The folders and the safety promise are reached by Tab.
    EXPECT_TRUE(sections[0].lines[0].reachedByTab && sections[0].lines[1].reachedByTab && sections[1].lines[0].reachedByTab);
    EXPECT_FALSE(sections[0].lines[2].reachedByTab);
    EXPECT_EQ(sections[1].title, "Safety");
    ASSERT_EQ(sections[1].lines.size(), 1u);
    EXPECT_EQ(sections[1].lines[0].text, "Kestova never deletes phone recordings or overwrites an export directory.");
}

// Qt's own icons come from the theme untinted: its ink suits the palette, of the themes installed.
TEST(IconThemeRules, TheInkSuitsThePalette) {
    const auto among = [](QStringList themes) { return [themes](const QString& theme) { return themes.contains(theme); }; };
    EXPECT_EQ(Symbols::iconThemeFor(true, among({"breeze", "breeze-dark"})), "breeze-dark");
    EXPECT_EQ(Symbols::iconThemeFor(false, among({"breeze", "breeze-dark"})), "breeze");
    EXPECT_EQ(Symbols::iconThemeFor(true, among({"breeze"})), "breeze");
    EXPECT_EQ(Symbols::iconThemeFor(true, among({"Adwaita"})), "Adwaita");
}

TEST(LaunchRules, Outcomes) {
    struct Case {
        LockState lock;
        RaiseAnswer answered;
        bool run;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {LockState::acquired, RaiseAnswer::none, true, 0, ""},
        {LockState::acquired, RaiseAnswer::raised, true, 0, ""},
        {LockState::heldByOther, RaiseAnswer::raised, false, 0, LaunchText::raised},
        // Shown, but the desktop kept the keyboard elsewhere: the launch says so, and did its part.
        {LockState::heldByOther, RaiseAnswer::shown, false, 0, LaunchText::shown},
        {LockState::heldByOther, RaiseAnswer::none, false, 1, LaunchText::noAnswer},
        {LockState::unavailable, RaiseAnswer::none, false, 1, std::string(LaunchText::noLock) + "/x/kestova.lock"},
    };
    for (const Case& c : cases) {
        const LaunchOutcome outcome = launchOutcome(c.lock, c.answered, "/x/kestova.lock");
        EXPECT_EQ(outcome.run, c.run);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.message, c.message);
    }
}

// Windows as the keyboard's rules see them: each stands on another or on none.
struct Win {
    const Win* on = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
};
struct Tree {
    const Win* standsOn(const Win* window) const { return window->on; }
    Qt::WindowModality modality(const Win* window) const { return window->modality; }
};

// On a Wayland session that offers X11 the application runs on X11, unless the user named a
// platform; elsewhere Qt's own choice stands.
TEST(PlatformRules, X11OnAWaylandSessionThatOffersItUnlessTheUserNamedOne) {
    using qt_platform::Session;
    const std::optional<std::string> unset;
    struct Case {
        const char* what;
        Session session;
        std::optional<std::string> named;
    };
    const Case cases[] = {
        {"GNOME or KDE on Wayland, XWayland running", {"wayland", "wayland-0", ":0", unset}, "xcb"},
        {"a Wayland session without XWayland", {"wayland", "wayland-0", unset, unset}, unset},
        {"an empty DISPLAY is no display", {"wayland", "wayland-0", "", unset}, unset},
        {"the user named Wayland", {"wayland", "wayland-0", ":0", "wayland"}, unset},
        {"the user named X11", {"wayland", "wayland-0", ":0", "xcb"}, unset},
        {"an empty QT_QPA_PLATFORM names nothing", {"wayland", "wayland-0", ":0", ""}, "xcb"},
        {"the user named a platform on the command line", {"wayland", "wayland-0", ":0", unset, true}, unset},
        {"a compositor started from a console", {"tty", "wayland-1", ":1", unset}, "xcb"},
        {"a Wayland session type alone", {"wayland", unset, ":0", unset}, "xcb"},
        {"an X11 session", {"x11", unset, ":0", unset}, unset},
        {"no session variables, a display", {unset, unset, ":0", unset}, unset},
        {"no display at all", {unset, unset, unset, unset}, unset},
    };
    for (const Case& c : cases) EXPECT_EQ(qt_platform::platformToName(c.session), c.named) << c.what;
}

TEST(PlatformRules, ACommandLineNamesAPlatformAsQtReadsIt) {
    struct Case {
        std::vector<const char*> arguments;
        bool names;
    };
    const Case cases[] = {
        {{"kestova"}, false},
        {{"kestova", "-platform", "wayland"}, true},
        {{"kestova", "--platform", "xcb"}, true},
        {{"kestova", "-platform"}, false}, // no name follows: Qt takes none
        {{"kestova", "-style", "fusion"}, false},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
        EXPECT_EQ(qt_platform::namesPlatform(static_cast<int>(argv.size()), argv.data()), c.names) << c.arguments.size();
    }
}

// Which input event an activation token is asked with, and for which surface: surfaces are
// numbers, 0 none, 9 one that is not the application's (a popup it destroyed).
TEST(ActivationRules, TheLatestPressOrFocusWithTheSurfaceThatHasIt) {
    using ActivationInput::Event;
    using Seat = ActivationInput::Seat<int>;
    struct Case {
        const char* what;
        std::vector<Seat> seats;
        std::optional<std::size_t> seat;
        std::uint32_t serial;
        int surface;
    };
    const Event press{10, 1}, key{20, 2}, enter{30, 3};
    const Case cases[] = {
        {"no seat", {}, std::nullopt, 0, 0},
        {"no event yet", {Seat{{}, {}, {}, 1, 1}}, std::nullopt, 0, 0},
        {"a click: its press, with the surface under the pointer", {Seat{press, {}, {}, 2, 1}}, 0, 10, 2},
        {"a key: with the surface that has the keyboard", {Seat{press, key, {}, 2, 1}}, 0, 20, 1},
        {"the keyboard's focus, given after the key", {Seat{press, key, enter, 2, 1}}, 0, 30, 1},
        {"a click after the focus it brought", {Seat{Event{40, 4}, {}, enter, 2, 1}}, 0, 40, 2},
        {"a press on a menu that has gone: the window with the keyboard", {Seat{press, {}, {}, 9, 1}}, 0, 10, 1},
        {"a key in a window that has gone: the one under the pointer", {Seat{{}, key, {}, 2, 9}}, 0, 20, 2},
        {"neither focus is the application's", {Seat{press, key, enter, 9, 0}}, std::nullopt, 0, 0},
        {"the seat with the latest event", {Seat{press, {}, {}, 1, 1}, Seat{{}, key, {}, 3, 3}}, 1, 20, 3},
        {"an earlier event where the latest has no surface of ours",
         {Seat{press, {}, {}, 1, 1}, Seat{{}, key, {}, 9, 9}}, 0, 10, 1},
    };
    const auto ours = [](int surface) { return surface != 0 && surface != 9; };
    for (const Case& c : cases) {
        const auto chosen = ActivationInput::tokenRequest(c.seats, ours);
        ASSERT_EQ(chosen.has_value(), c.seat.has_value()) << c.what;
        if (!chosen) continue;
        EXPECT_EQ(chosen->seat, *c.seat) << c.what;
        EXPECT_EQ(chosen->serial, c.serial) << c.what;
        EXPECT_EQ(chosen->surface, c.surface) << c.what;
    }
}

// What may pass as an activation token (opaque to the protocol): what a second launch passes on
// is one line of printable text, bounded.
TEST(ActivationRules, ATokenIsOneBoundedWordOfPrintableText) {
    struct Case {
        std::string token;
        bool plausible;
    };
    const Case cases[] = {
        {"8c3e1a4f-6f0b-4c2e-9d1a-2b7e5c9f0a13_TIME123456", true},
        {"0123456789abcdef0123456789abcdef", true},
        {"", false},
        {"two words", false},
        {"line\nbreak", false},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {"caf\xc3\xa9", false},
    };
    for (const Case& c : cases) EXPECT_EQ(WindowActivation::plausibleToken(c.token), c.plausible) << c.token;
}

TEST(ModalKeyboardRules, TheDialogThatBlocksAWindowTakesItsKeyboard) {
    const Win library, director, sheet{&library, Qt::WindowModal}, alert{&library, Qt::WindowModal},
        panel{&sheet, Qt::WindowModal}, directorDialog{&director, Qt::WindowModal};
    const struct {
        std::vector<const Win*> open; // oldest first
        const Win* window;
        const Win* expected;
    } rows[] = {
        {{&sheet, &directorDialog}, &library, &sheet},       // not another window's dialog opened later
        {{&sheet, &directorDialog}, &director, &directorDialog},
        {{&sheet, &alert}, &sheet, &alert},                  // an alert over the sheet's window
        {{&sheet, &alert}, &alert, nullptr},                 // nor the alert by the sheet opened before it
        {{&sheet, &panel}, &library, &panel},
        {{&sheet, &panel}, &panel, nullptr},
        {{&sheet}, &director, nullptr},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ModalKeyboard::blockingDialog(Tree{}, row.open, *row.window), row.expected);
        EXPECT_EQ(&ModalKeyboard::keyboardAfterClosing(Tree{}, row.open, *row.window), row.expected ? row.expected : row.window);
    }
    // A dialog asks for attention only where the user works elsewhere: another window, another program.
    EXPECT_FALSE(ModalKeyboard::asksForAttention(Tree{}, alert, &sheet));
    EXPECT_FALSE(ModalKeyboard::asksForAttention(Tree{}, panel, &sheet));
    EXPECT_TRUE(ModalKeyboard::asksForAttention(Tree{}, alert, &director));
    EXPECT_TRUE(ModalKeyboard::asksForAttention(Tree{}, alert, static_cast<const Win*>(nullptr)));
    // It opens beneath, leaving the keyboard where it is, only over another of the application's windows.
    EXPECT_TRUE(ModalKeyboard::opensBeneath(Tree{}, alert, &director));
    EXPECT_FALSE(ModalKeyboard::opensBeneath(Tree{}, alert, &sheet));
    EXPECT_FALSE(ModalKeyboard::opensBeneath(Tree{}, alert, static_cast<const Win*>(nullptr)));
}

// The X server's events around a window a dialog blocks, in the orders window managers send them,
// and what Qt is given of each and which window the keyboard is asked for, with which time. Windows:
// 1 the Library, 2 its alert, 3 the Director; the Library is blocked by the alert (`L` events).
TEST(X11FocusRules, ABlockedWindowNeverTakesTheKeyboard) {
    using namespace X11FocusRule;
    using E = Event;
    const Verdict pass{}, toAlert{Delivery::toDialog}, drop{Delivery::dropped};
    const auto asking = [](Verdict verdict, Time time) { return Verdict{verdict.delivery, 2, time}; };
    const E alertIn{Kind::focusIn, 2}, alertOut{Kind::focusOut, 2}, libraryIn{Kind::focusIn, 1, 2}, directorIn{Kind::focusIn, 3};
    const struct {
        const char* what;
        std::vector<std::pair<E, Verdict>> events;
    } rows[] = {
        // mutter gives the click to the alert, then carries out Qt's click-to-activate for the Library.
        {"mutter: the click's own activation after the alert had the keyboard",
         {{alertIn, pass}, {E{Kind::press, 1, 2, 100}, drop}, {alertOut, pass}, {libraryIn, asking(toAlert, 100)},
          {E{Kind::key, 2, 0, 120}, pass}}},
        {"openbox: the click activates the Library, which takes the keyboard",
         {{directorIn, pass}, {E{Kind::press, 1, 2, 200}, asking(drop, 200)}, {libraryIn, asking(toAlert, 200)},
          {E{Kind::takeFocus, 1, 2, 205}, asking(pass, 205)}, {E{Kind::key, 1, 2, 230}, asking(toAlert, 230)}}},
        {"a key the Library gets while the alert has the keyboard goes to the alert",
         {{alertIn, pass}, {E{Kind::key, 1, 2, 300}, toAlert}}},
        {"the time is the latest event's, a property change's too",
         {{E{Kind::stamp, 0, 0, 400}, pass}, {libraryIn, asking(toAlert, 400)}}},
        {"no time seen yet: asked without one", {{libraryIn, asking(toAlert, 0)}}},
        {"a keyboard grab's focus moves nothing",
         {{alertIn, pass}, {E{Kind::focusIn, 1, 2, 0, true}, toAlert}, {E{Kind::press, 1, 2, 500}, drop}}},
        {"unblocked windows as the server sends them",
         {{directorIn, pass}, {E{Kind::press, 3, 0, 600}, pass}, {E{Kind::key, 3, 0, 610}, pass}, {E{Kind::takeFocus, 3, 0, 620}, pass}}},
    };
    for (const auto& row : rows) {
        Rule rule;
        int index = 0;
        for (const auto& [event, expected] : row.events) {
            const Verdict verdict = rule.take(event);
            EXPECT_EQ(verdict.delivery, expected.delivery) << row.what << ", event " << index;
            EXPECT_EQ(verdict.askFor, expected.askFor) << row.what << ", event " << index;
            EXPECT_EQ(verdict.time, expected.time) << row.what << ", event " << index;
            ++index;
        }
    }
}

} // namespace
} // namespace velk
