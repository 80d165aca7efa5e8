#pragma once
// The one way a sheet, an alert or a file panel is opened: window-modal over its window, with
// open(), so no caller waits on it, and given the keyboard whenever it lands on a window it blocks.

class QDialog;

namespace velk {

// Opens `dialog` window-modal; as it appears, the platform asks for it to be activated. From the
// first such dialog on, a window that receives the keyboard while a dialog blocks it hands it on to
// that dialog: a click on a window behind a sheet or alert makes the platform activate the window
// clicked, and the window manager may also give it the keyboard, where no key reaches anything.
void openWindowModal(QDialog& dialog);

} // namespace velk
