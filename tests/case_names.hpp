#pragma once
// Names for parameterised cases: ctest lists every case by this name, so it must read well and
// stay the same from run to run (a printed parameter may hold pointer bytes).

#include <cctype>
#include <string>
#include <string_view>

namespace velk::case_names {

// Letters and digits as they are; anything else as "_"; the empty text as "empty".
inline std::string readable(std::string_view text) {
    if (text.empty()) return "empty";
    std::string name;
    for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

} // namespace velk::case_names
