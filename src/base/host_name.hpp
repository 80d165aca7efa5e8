#pragma once
// The name this computer goes by where a person sees it: on a phone that is asked to share its
// files or to pair with this computer. It is the name the desktop shows, as systemd-hostnamed
// keeps it, not the network's host name when the user gave the computer a name of their own.

#include <filesystem>
#include <optional>
#include <string>

#include <QString>

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

// Asks org.freedesktop.hostname1 on the bus at `busAddress`, returning after at most `timeoutMs`
// however the bus behaves: connecting and asking run on a worker, which a bus that never answers
// may hold longer. When the service cannot answer in time, the pretty name comes from
// `machineInfo` (where hostnamed keeps it). The kernel's host name is always filled in.
HostNames readHostNames(const QString& busAddress, const std::filesystem::path& machineInfo, int timeoutMs);

// userFacingName() of what the system bus and /etc/machine-info say now, within one second; safe
// to call on the GUI thread.
std::optional<std::string> computerName();

} // namespace velk::host_name
