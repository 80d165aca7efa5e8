#pragma once
// Starting a desktop program that lives on after this application (the desktop's Wi-Fi settings, the
// file manager through xdg-open), and telling whether it really opened: a program that starts and at
// once exits with an error (a settings panel outside its own desktop, a launcher that finds nothing
// to open the item with) did not.

#include <functional>

#include <QString>
#include <QStringList>

class QObject;

namespace velk {

// Starts `program` (looked up on PATH) in a session of its own, with none of this process's input
// or output and this process's environment less what is its own alone (base/user_environment), and
// calls `done` once on the GUI thread while `context` exists: true when the program
// is still running after `settleMs`, or has ended by then with status 0 (a launcher that handed the
// request to a running instance); false when it could not start or ended otherwise. A program that
// ends later is reaped then, so it never lingers as a zombie; one still running when this process
// ends simply goes on.
void startDesktopProgram(const QString& program, const QStringList& arguments, int settleMs, QObject* context,
                         std::function<void(bool opened)> done);

} // namespace velk
