#include "app/qt_platform.hpp"

#include <cstdlib>
#include <cstring>

namespace velk::qt_platform {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

bool namesPlatform(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return true;
    }
    return false;
}

Arguments::Arguments(int argc, char** argv) {
    const Session session{variable("XDG_SESSION_TYPE"), variable("WAYLAND_DISPLAY"), variable("DISPLAY"),
                          variable("QT_QPA_PLATFORM"), namesPlatform(argc, argv)};
    if (const std::optional<std::string> platform = platformToName(session)) m_added = {"-platform", *platform};
    for (int i = 0; i < argc; ++i) {
        m_values.push_back(argv[i]);
        if (i == 0) {
            for (std::string& added : m_added) m_values.push_back(added.data());
        }
    }
    m_count = static_cast<int>(m_values.size());
    m_values.push_back(nullptr);
}

} // namespace velk::qt_platform
