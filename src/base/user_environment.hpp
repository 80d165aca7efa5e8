#pragma once
// The environment of the programs this process starts (the file viewer through xdg-open, the
// desktop's Wi-Fi settings): this process's own as it is when the program starts, less what is this
// process's alone. The process changes a few variables for Qt's sake (app/session_buses points Qt
// away from a bus that did not answer at start); a started program gets the user's own values of
// exactly those back, since a bus that was slow for this process at start may answer it. Nor does
// it get what a launcher hands the one process it started (its startup notification and activation
// tokens), with which a program could end this application's launch feedback or be judged by the
// launch's old time.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::user_environment {

// What a launcher hands the process it started, for that process alone.
inline constexpr std::string_view launchOnly[] = {"DESKTOP_STARTUP_ID", "DESKTOP_AUTOSTART_ID", "XDG_ACTIVATION_TOKEN"};

// A variable this process set for itself: the user's value before (none: not set) and the one set.
struct OwnChange {
    std::string name;
    std::optional<std::string> users;
    std::string set;
};

// The environment for a started program, from `current` ("NAME=value" entries, in order): a variable
// of `changes` that still holds what this process set is the user's again, or is left out where the
// user had none; one changed since keeps its current value; every other entry stays as it is, but
// for the launch-only variables, which are left out.
std::vector<std::string> forPrograms(const std::vector<std::string>& current, const std::vector<OwnChange>& changes);

// Sets `name` to `value` in this process's environment for this process alone: the programs it
// starts get the user's own value. Call before any other thread runs.
void setForThisProcess(const char* name, const std::string& value);

// This process's environment as it is now, for a started program (forPrograms, with the changes
// made through setForThisProcess).
std::vector<std::string> forPrograms();

} // namespace velk::user_environment
