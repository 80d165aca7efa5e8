#pragma once
// The two windows' builders. Each window library defines its builder; the executable registers
// those that are built with the window registry. A builder returns a new, not yet shown window
// (the registry shows it, owns it and deletes it when it closes).

class QMainWindow;

namespace velk {

struct AppServices;

// Defined by velk_director_window: the "Kestova Director" window, 1320 × 820 where the screen has room.
QMainWindow* createDirectorWindow(AppServices& services);
// Defined by velk_library_window: the "Kestova Library" window, 1180 × 760 where the screen has room.
QMainWindow* createLibraryWindow(AppServices& services);

} // namespace velk
