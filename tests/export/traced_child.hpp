#pragma once
// A helper program started with fork and exec under ptrace, so that a test can hold it right after
// it made its first folder, or after any change it makes to files from there on: to act while it
// stands there, or to kill it there. Only its first thread is traced; until it makes a folder it runs untraced
// (a seccomp filter hands only the calls that make folders to the tracer).

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace velk::testing {

class TracedChild {
public:
    // Starts `arguments` (the program first) with its output in `log`, held before its first
    // instruction. ok() is false when the program could not be started or traced.
    TracedChild(const std::vector<std::string>& arguments, const std::string& log) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        // The leak checker stops a program's threads with ptrace of its own when it ends, which a
        // traced program cannot do: it is off in the child.
        std::vector<std::string> environment;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("ASAN_OPTIONS=")) environment.emplace_back(*variable);
        }
        const char* asan = std::getenv("ASAN_OPTIONS");
        environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0");
        std::vector<char*> envp;
        for (std::string& variable : environment) envp.push_back(variable.data());
        envp.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (out >= 0) {
                ::dup2(out, STDOUT_FILENO);
                ::dup2(out, STDERR_FILENO);
            }
            ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            sock_filter filter[] = {
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_mkdirat, 2, 0),
#ifdef SYS_mkdir
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_mkdir, 1, 0),
#else
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_mkdirat, 1, 0),
#endif
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
            };
            sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
            if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
                ::_exit(126);
            }
            ::raise(SIGSTOP);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        int status = 0;
        m_running = m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid && WIFSTOPPED(status) &&
                    ::ptrace(PTRACE_SETOPTIONS, m_pid, nullptr,
                             PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_TRACESECCOMP | PTRACE_O_EXITKILL) == 0;
    }
    TracedChild(const TracedChild&) = delete;
    TracedChild& operator=(const TracedChild&) = delete;
    ~TracedChild() {
        if (m_running) kill();
    }

    bool ok() const { return m_running; }

    // Lets it run until it has made a folder; false when it ended instead.
    bool runPastAFolderMade() {
        while (resume(PTRACE_CONT)) {
            if (m_stop != (SIGTRAP | (PTRACE_EVENT_SECCOMP << 8))) continue;
            // At a call that makes a folder: on to its end.
            if (step() && m_result == 0) return true;
        }
        return false;
    }
    // Lets it run to the end of its next system call that changes a file or a folder (makes,
    // writes, moves or removes one); false when it ended instead. A kill anywhere before the next
    // such call leaves what a kill right there does.
    bool runPastAChange() {
        while (step()) {
            if (m_changes) return true;
        }
        return false;
    }
    // Lets it run to its end untraced; its exit status (-1 when a signal ended it).
    int finish() {
        if (m_running) {
            ::ptrace(PTRACE_DETACH, m_pid, nullptr, reinterpret_cast<void*>(static_cast<std::intptr_t>(m_signal)));
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_running = false;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return m_status;
    }
    void kill() {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_running = false;
        m_status = -1;
    }

private:
    // Lets it run to the end of its next system call; false when it ended instead.
    bool step() {
        while (resume(PTRACE_SYSCALL)) {
            if (m_stop != (SIGTRAP | 0x80)) continue;
            __ptrace_syscall_info info{};
            ::ptrace(PTRACE_GET_SYSCALL_INFO, m_pid, reinterpret_cast<void*>(sizeof info), &info);
            if (info.op == PTRACE_SYSCALL_INFO_ENTRY) m_changes = changesFiles(info.entry.nr, info.entry.args);
            if (info.op == PTRACE_SYSCALL_INFO_EXIT) {
                m_result = info.exit.rval;
                return true;
            }
        }
        return false;
    }
    static bool changesFiles(std::uint64_t call, const std::uint64_t* arguments) {
        if (call == SYS_openat) return (arguments[2] & O_CREAT) != 0;
#ifdef SYS_open
        if (call == SYS_open) return (arguments[1] & O_CREAT) != 0;
#endif
        const std::vector<long> changing{
            SYS_mkdirat, SYS_write, SYS_pwrite64, SYS_renameat2, SYS_unlinkat, SYS_linkat, SYS_ftruncate,
#ifdef SYS_mkdir
            SYS_mkdir, SYS_rename, SYS_renameat, SYS_unlink, SYS_rmdir, SYS_link, SYS_creat,
#endif
        };
        return std::find(changing.begin(), changing.end(), static_cast<long>(call)) != changing.end();
    }

    // Continues it (PTRACE_CONT or PTRACE_SYSCALL) to its next stop, noted in m_stop (the stop
    // signal, with a ptrace event above it); a signal it received is delivered on the way. False
    // when it ended instead.
    bool resume(int how) {
        while (m_running) {
            ::ptrace(static_cast<__ptrace_request>(how), m_pid, nullptr, reinterpret_cast<void*>(static_cast<std::intptr_t>(m_signal)));
            m_signal = 0;
            int status = 0;
            if (::waitpid(m_pid, &status, 0) != m_pid || WIFEXITED(status) || WIFSIGNALED(status)) {
                m_running = false;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return false;
            }
            m_stop = status >> 8;
            const bool signalled = WSTOPSIG(status) != (SIGTRAP | 0x80) && status >> 16 == 0;
            if (!signalled) return true;
            m_signal = WSTOPSIG(status);
        }
        return false;
    }

    pid_t m_pid = -1;
    bool m_running = false;
    int m_signal = 0;
    int m_stop = 0;
    bool m_changes = false;
    std::int64_t m_result = 0;
    int m_status = -1;
};

} // namespace velk::testing
