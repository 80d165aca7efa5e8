#pragma once
// Our texts are UTF-8 std::string; Qt's are QString. One conversion for every window.

#include <string_view>

#include <QString>

namespace velk {

inline QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace velk
