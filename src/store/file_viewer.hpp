#pragma once
// Showing finished files to the user in the desktop's file manager.

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace velk {

class FileViewer {
public:
    virtual ~FileViewer() = default;
    // Opens the file manager with these files selected, without waiting for it, and tells `shown`
    // once, on the GUI thread, whether a file viewer opened: false when none could (a desktop
    // without a file manager, or a process without a desktop).
    virtual void reveal(const std::vector<std::filesystem::path>& files, std::function<void(bool shown)> shown) = 0;
};

// Asks the session's file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) and falls
// back to opening the folder of the first file with the desktop's launcher.
std::shared_ptr<FileViewer> makeDesktopFileViewer();

} // namespace velk
