#pragma once
// System calls that fail with a chosen errno, on one thread of the test's own: a seccomp filter
// (SECCOMP_RET_ERRNO) answers them in place of the kernel, as a file system would that lacks a
// feature (no exclusive rename) or refuses a user (a disk quota), where no such file system can be
// mounted for the test. The filter holds for that thread only and ends with it.

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace velk::test {

struct RefusedCall {
    long number;                   // SYS_…
    int error;                     // the errno it fails with
    int flagsArgument = -1;        // when set, only calls whose argument of this index holds one of
    std::uint32_t flags = 0;       // these bits (its low 32 bits) are refused
};

// The calls that make a folder or create a file, each failing with `error`.
inline std::vector<RefusedCall> refusedFolderMaking(int error) {
    std::vector<RefusedCall> calls{{SYS_mkdirat, error}};
#ifdef SYS_mkdir
    calls.push_back({SYS_mkdir, error});
#endif
    return calls;
}
inline std::vector<RefusedCall> refusedFileCreation(int error) {
    std::vector<RefusedCall> calls{{SYS_openat, error, 2, 0100 /* O_CREAT */}};
#ifdef SYS_open
    calls.push_back({SYS_open, error, 1, 0100});
#endif
#ifdef SYS_creat
    calls.push_back({SYS_creat, error});
#endif
    return calls;
}

// From now on `calls` fail on the calling thread, and on the threads it starts. False when the
// filter could not be installed.
inline bool refuseCallsOnThisThread(const std::vector<RefusedCall>& calls) {
    std::vector<sock_filter> filter;
    for (const RefusedCall& call : calls) {
        const bool checksFlags = call.flagsArgument >= 0;
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
        // Not this call: past its refusal (and its flag check).
        const std::uint8_t pastIt = checksFlags ? 3 : 1;
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call.number), 0, pastIt));
        if (checksFlags) {
            // The argument's low 32 bits (this runs on little-endian machines only).
            const auto argument = static_cast<std::uint32_t>(offsetof(seccomp_data, args) + sizeof(std::uint64_t) * static_cast<unsigned>(call.flagsArgument));
            filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument));
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, call.flags, 0, 1));
        }
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(call.error) & SECCOMP_RET_DATA)));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

// Runs `action` on a thread of its own on which `calls` fail.
inline void withRefusedCalls(const std::vector<RefusedCall>& calls, const std::function<void()>& action) {
    std::thread([&] {
        ASSERT_TRUE(refuseCallsOnThisThread(calls));
        action();
    }).join();
}

} // namespace velk::test
