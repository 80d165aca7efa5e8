#pragma once
// A helper program of a test (a server, a simulated camera, this program again), started with
// fork and exec, stopped (SIGTERM, then SIGKILL) and reaped when destroyed, and killed by the
// kernel if the thread that started it dies first.
//
// Not QProcess: Qt starts children with clone(CLONE_VM | CLONE_VFORK), and ThreadSanitizer's
// after-fork step then runs in the child on the parent's memory, leaving the starting thread with
// its synchronisation ignored and its reports suppressed (see scripts/tsan.supp).

#include <chrono>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

class ChildProcess {
public:
    // stdoutPath: where stdout and stderr go (empty: /dev/null). withPipes: stdin and stdout are
    // pipes to this process instead.
    ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath, bool withPipes = false) {
        int toChild[2] = {-1, -1};
        int fromChild[2] = {-1, -1};
        // Servers that read their standard input stop at its end, so it stays open until stop().
        if (pipe2(toChild, O_CLOEXEC) != 0 || (withPipes && pipe2(fromChild, O_CLOEXEC) != 0)) {
            throw std::runtime_error("pipe failed");
        }
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        const char* output = stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str();
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0) throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            // A test that dies must not leave its helpers behind, holding ports or the runner's output.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(toChild[0], 0);
            if (withPipes) {
                dup2(fromChild[1], 1);
                const int devNull = open("/dev/null", O_WRONLY);
                dup2(devNull, 2);
            } else {
                const int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(out, 1);
                dup2(out, 2);
            }
            execvp(args[0], args.data());
            _exit(127);
        }
        close(toChild[0]);
        m_stdin = toChild[1];
        if (withPipes) {
            close(fromChild[1]);
            m_stdout = fromChild[0];
        }
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // True once the child has ended (it is reaped only by stop()).
    bool hasExited() const {
        if (m_pid <= 0) return true;
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
    }

    // One line from the child's stdout (pipes only); none at end of file or after timeoutMs.
    std::optional<std::string> readLine(int timeoutMs = 10'000) {
        const double deadline = nowMs() + timeoutMs;
        while (true) {
            const auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return line;
            }
            const int remaining = static_cast<int>(deadline - nowMs());
            if (remaining <= 0 || m_stdout < 0) return std::nullopt;
            pollfd descriptor{m_stdout, POLLIN, 0};
            if (poll(&descriptor, 1, remaining) <= 0) return std::nullopt;
            char chunk[4096];
            const ssize_t count = read(m_stdout, chunk, sizeof chunk);
            if (count <= 0) return std::nullopt;
            m_buffer.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // What readLine() has read past its last line: the child's last words when they end without a
    // newline.
    std::string takeBuffered() { return std::exchange(m_buffer, {}); }

    void writeLine(const std::string& line) {
        const std::string data = line + "\n";
        std::size_t written = 0;
        while (written < data.size()) {
            const ssize_t count = write(m_stdin, data.data() + written, data.size() - written);
            if (count <= 0) throw std::runtime_error("write to child failed");
            written += static_cast<std::size_t>(count);
        }
    }

    // Waits up to timeoutMs for the child to end and reaps it: its exit status, or -1 when a
    // signal ended it; none while it still runs.
    std::optional<int> wait(int timeoutMs) {
        const double deadline = nowMs() + timeoutMs;
        while (m_pid > 0) {
            int status = 0;
            const pid_t done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (done < 0 || nowMs() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    void stop() {
        if (m_stdin >= 0) close(m_stdin);
        m_stdin = -1;
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            const double deadline = nowMs() + 3000;
            int status = 0;
            while (waitpid(m_pid, &status, WNOHANG) == 0) {
                if (nowMs() > deadline) {
                    kill(m_pid, SIGKILL);
                    waitpid(m_pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            m_pid = -1;
        }
        if (m_stdout >= 0) close(m_stdout);
        m_stdout = -1;
    }

    int pid() const { return m_pid; }

private:
    static double nowMs() {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    int m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_buffer;
};

// A program run to its end: what it printed on stdout (its stderr is dropped), and its exit status,
// none when it did not end within timeoutMs.
struct ProgramRun {
    std::string output;
    std::optional<int> status;
};

inline ProgramRun runToEnd(const std::vector<std::string>& argv, int timeoutMs = 30'000) {
    ChildProcess process(argv, "", true);
    ProgramRun run;
    while (std::optional<std::string> line = process.readLine(timeoutMs)) run.output += *line + "\n";
    run.output += process.takeBuffered();
    run.status = process.wait(timeoutMs);
    return run;
}

} // namespace velk::test
