#include "base/desktop_program.hpp"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include "base/user_environment.hpp"

namespace velk {

namespace {

// How often a program is looked at when the kernel offers no process descriptor to wait on.
constexpr int kPollIntervalMs = 100;

// A child of this process with a fresh signal state, its own session, /dev/null for input and
// output and the environment for programs (base/user_environment): it neither shares this
// terminal's signals nor dies writing to a pipe nobody reads, and it meets the buses the user's
// session names.
pid_t spawn(const QString& program, const QStringList& arguments) {
    std::vector<QByteArray> strings{QFile::encodeName(program)};
    for (const QString& argument : arguments) strings.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& string : strings) argv.push_back(string.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = user_environment::forPrograms();
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv.front(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

// One started program: answers once, then stays (a child of the application object) until the
// program has ended and been reaped.
class ProgramWatch final : public QObject {
public:
    ProgramWatch(pid_t pid, int settleMs, QObject* context, std::function<void(bool)> done)
        : QObject(QCoreApplication::instance()), m_pid(pid), m_context(context), m_done(std::move(done)) {
        m_descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (m_descriptor >= 0) {
            auto* notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, &ProgramWatch::reap);
        } else {
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, &ProgramWatch::reap);
            poll->start(kPollIntervalMs);
        }
        QTimer::singleShot(settleMs, this, [this] { answer(true); });
    }
    ~ProgramWatch() override {
        if (m_descriptor >= 0) ::close(m_descriptor);
    }

private:
    void reap() {
        if (m_reaped) return;
        int status = 0;
        const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == 0) return;
        m_reaped = true;
        answer(ended == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        deleteLater();
    }

    void answer(bool opened) {
        if (!m_done) return;
        const auto done = std::move(m_done);
        m_done = nullptr;
        if (m_context) done(opened);
    }

    pid_t m_pid;
    int m_descriptor = -1;
    bool m_reaped = false;
    QPointer<QObject> m_context;
    std::function<void(bool)> m_done;
};

} // namespace

void startDesktopProgram(const QString& program, const QStringList& arguments, int settleMs, QObject* context,
                         std::function<void(bool opened)> done) {
    const pid_t pid = spawn(program, arguments);
    if (pid < 0) {
        if (done) done(false);
        return;
    }
    new ProgramWatch(pid, settleMs, context, std::move(done));
}

} // namespace velk
