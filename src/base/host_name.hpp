#pragma once
// The name this computer goes by where a person sees it: on a phone that is asked to share its
// files or to pair with this computer. It is the name the desktop shows, as systemd-hostnamed
// keeps it, not the network's host name when the user gave the computer a name of their own.
//
// hostnamed is asked in the background, once its bus lets a connection in and again whenever it
// says the names changed, and its answer is kept: whoever needs the name reads the kept one and
// never waits for the bus.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace velk::system_bus {
class Watch;
}

namespace velk::host_name {

// The names hostnamed knows for this computer; empty when not known.
struct HostNames {
    std::string pretty;     // "Studio Desk"
    std::string staticName; // "studio-desk"
    std::string kernel;     // the host name the kernel reports
};

// The pretty name, else the static host name, else the kernel's host name, each trimmed of white
// space; none when all are blank.
std::optional<std::string> userFacingName(const HostNames& names);

// The names as they stand now, without waiting: hostnamed's as the running Watch last heard them;
// while there is none, the pretty name from `machineInfo` (where hostnamed keeps it). The kernel's
// host name is always filled in.
HostNames currentNames(const std::filesystem::path& machineInfo = "/etc/machine-info");

// userFacingName(currentNames()); safe on the GUI thread.
std::optional<std::string> computerName();

// Keeps hostnamed's answer for currentNames() while it lives, asking on a thread of its own. One
// at a time: the application makes it at start.
class Watch {
public:
    // The system bus unless told.
    explicit Watch(std::optional<std::string> busAddress = std::nullopt);
    ~Watch(); // forgets the answer; never waits for the bus
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    std::unique_ptr<system_bus::Watch> m_watch;
};

} // namespace velk::host_name
