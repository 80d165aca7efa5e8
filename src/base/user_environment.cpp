#include "base/user_environment.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>

extern char** environ;

namespace velk::user_environment {

namespace {

std::vector<OwnChange>& ownChanges() {
    static std::vector<OwnChange> changes;
    return changes;
}

std::string_view nameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

} // namespace

std::vector<std::string> forPrograms(const std::vector<std::string>& current, const std::vector<OwnChange>& changes) {
    std::vector<std::string> result;
    result.reserve(current.size());
    for (const std::string& entry : current) {
        const std::string_view name = nameOf(entry);
        if (std::find(std::begin(launchOnly), std::end(launchOnly), name) != std::end(launchOnly)) continue;
        const auto change =
            std::find_if(changes.begin(), changes.end(), [name](const OwnChange& each) { return each.name == name; });
        const std::string_view value = name.size() < entry.size() ? std::string_view(entry).substr(name.size() + 1) : "";
        if (change == changes.end() || value != change->set) {
            result.push_back(entry);
        } else if (change->users) {
            result.push_back(change->name + "=" + *change->users);
        }
    }
    return result;
}

void setForThisProcess(const char* name, const std::string& value) {
    std::vector<OwnChange>& changes = ownChanges();
    const auto earlier =
        std::find_if(changes.begin(), changes.end(), [name](const OwnChange& each) { return each.name == name; });
    if (earlier != changes.end()) {
        earlier->set = value;
    } else {
        const char* users = std::getenv(name);
        changes.push_back(OwnChange{name, users ? std::optional<std::string>(users) : std::nullopt, value});
    }
    ::setenv(name, value.c_str(), 1);
}

std::vector<std::string> forPrograms() {
    std::vector<std::string> current;
    for (char** entry = environ; entry && *entry; ++entry) current.emplace_back(*entry);
    return forPrograms(current, ownChanges());
}

} // namespace velk::user_environment
