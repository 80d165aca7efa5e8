#pragma once
// One running application per data folder: two would both bind the control port and both write
// "library.json". The first launch holds a lock file in the data folder and listens on a local
// socket; a later launch finds the lock held, asks the first over that socket to bring its
// Director window forward (passing on the activation token its launcher gave it, which a Wayland
// compositor asks for), and ends.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;

namespace velk {

enum class LockState { acquired, heldByOther, unavailable };

// The running instance's answer to a raise request: none (no answer in time), its Director window
// brought forward, or shown but not brought forward (the desktop kept the keyboard where it was).
enum class RaiseAnswer { none, raised, shown };

struct LaunchOutcome {
    bool run = false;    // this process becomes the application
    int exitCode = 0;    // when it does not
    std::string message; // for the terminal, may be empty
};

namespace LaunchText {
inline constexpr const char* raised = "Kestova is already running; its Director window was brought forward.";
inline constexpr const char* shown =
    "Kestova is already running; its Director window is open, but the desktop did not bring it forward.";
inline constexpr const char* noAnswer =
    "Kestova is already running but did not answer. Close it, or end it, and start Kestova again.";
inline constexpr const char* noLock = "Kestova could not lock its data folder: ";
} // namespace LaunchText

// What a launch does, given its lock and, when another instance holds it, how that instance
// answered the request to raise its window.
LaunchOutcome launchOutcome(LockState lock, RaiseAnswer answer, const std::string& lockError = {});

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(std::filesystem::path dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Creates the data folder when missing and tries the lock once.
    LockState acquire();
    // Why the lock was unavailable.
    const std::string& lockError() const { return m_lockError; }
    // Sends the raise request to the instance holding the lock, with this launch's activation
    // token when it has one, and returns its answer (none when it gave none in time).
    RaiseAnswer askRunningInstanceToRaise(int timeoutMs = 5000, const std::string& activationToken = {});
    // Serves raise requests while this instance runs; `raise` runs on the GUI thread, with the
    // token the request carried (empty when none), and calls `answer` once it knows whether the
    // window came forward (the request is answered then).
    using Answer = std::function<void(bool broughtForward)>;
    bool listen(std::function<void(const std::string& activationToken, Answer answer)> raise);
    // Stops serving and gives the lock up, as the instance's end does; a next launch then runs.
    void release();

    // The local socket of a data folder: in the user's runtime folder, named after the folder.
    static QString socketPath(const std::filesystem::path& dataFolder);
    static constexpr const char* lockFileName = "kestova.lock";

private:
    std::filesystem::path m_dataFolder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    std::string m_lockError;
};

} // namespace velk
