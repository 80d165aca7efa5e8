#include "base/user_environment.hpp"

#include <string>
#include <vector>

extern char** environ;

namespace velk::user_environment {

namespace {

struct Kept {
    std::vector<std::string> entries;
    std::vector<char*> pointers;
};

Kept& kept() {
    static Kept environment;
    return environment;
}

} // namespace

void keep() {
    Kept& environment = kept();
    environment.entries.clear();
    for (char** entry = environ; entry && *entry; ++entry) environment.entries.emplace_back(*entry);
    environment.pointers.clear();
    for (std::string& entry : environment.entries) environment.pointers.push_back(entry.data());
    environment.pointers.push_back(nullptr);
}

char* const* forPrograms() {
    const Kept& environment = kept();
    return environment.pointers.empty() ? environ : environment.pointers.data();
}

} // namespace velk::user_environment
