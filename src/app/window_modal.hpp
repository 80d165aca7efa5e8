#pragma once
// The one way a sheet, an alert or a file panel is opened: window-modal over its window, with
// open(), so no caller waits on it, given the keyboard whenever it lands on a window it blocks and
// handing it back to its window as it closes. The rules are app/modal_keyboard's.

class QDialog;

namespace velk {

// Opens `dialog` window-modal; as it appears, the platform asks for it to be activated, and until
// the user acts in it, it asks for attention (its urgency hint, on itself and on the window the
// desktop lists, which it stands on) whenever the user works in a window it does not block; the
// keyboard within it goes by the application's rule (app/keyboard_keeper). From the
// first such dialog on, a window that receives the keyboard while a dialog blocks it hands it on to
// that dialog: a click on a window behind a sheet or alert makes the platform activate the window
// clicked, and the window manager may also give it the keyboard, where no key reaches anything; on
// X11 the blocked window never becomes the active one, the application hands the X server's keyboard
// on itself, and keys that reach the blocked window meanwhile go to the dialog (app/x11_windows).
// Of several dialogs over different windows, the one that blocks the window activated takes it. As a
// dialog that has the keyboard closes, the keyboard goes back to the window it was opened on, raised
// to the top (or to the dialog that still blocks that window), never to a window beneath.
void openWindowModal(QDialog& dialog);

} // namespace velk
