#pragma once
// Showing finished files to the user in the desktop's file manager.

#include <filesystem>
#include <memory>
#include <vector>

namespace velk {

class FileViewer {
public:
    virtual ~FileViewer() = default;
    // Opens the file manager with these files selected. Never fails; a desktop without a file
    // manager simply shows nothing.
    virtual void reveal(const std::vector<std::filesystem::path>& files) = 0;
};

// Asks the session's file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) and falls
// back to opening the folder of the first file.
std::shared_ptr<FileViewer> makeDesktopFileViewer();

} // namespace velk
