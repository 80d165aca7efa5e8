// A worker posts a function to the GUI thread with postToGui; the function reads a plain integer
// the worker writes. "racy": the worker writes after posting, a race the detector must report
// between writeOnWorker and readOnGuiThread. "ordered": the worker writes before posting, which
// the hand-off orders, and nothing may be reported. In both, the function reads only once the
// worker has written, told by a relaxed atomic, which orders nothing for the detector: otherwise
// the read could come first, and the worker, dropping its share of the posted call after the GUI
// thread ran it, would rightly be ordered after the read.

#include <atomic>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>

#include "base/executor.hpp"

namespace {

int handedOver = 0;
std::atomic<bool> written{false};

[[gnu::noinline]] void writeOnWorker() { handedOver = 1; }

[[gnu::noinline]] void readOnGuiThread() {
    while (!written.load(std::memory_order_relaxed)) {
    }
    std::printf("read %d on the GUI thread\n", handedOver);
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || (std::strcmp(argv[1], "racy") != 0 && std::strcmp(argv[1], "ordered") != 0)) {
        std::fprintf(stderr, "usage: %s racy|ordered\n", argv[0]);
        return 2;
    }
    const bool racy = std::strcmp(argv[1], "racy") == 0;
    QCoreApplication application(argc, argv);
    velk::postToGui([racy] {
        velk::launchWorker([racy] {
            if (!racy) writeOnWorker();
            velk::postToGui(readOnGuiThread);
            if (racy) writeOnWorker();
            written.store(true, std::memory_order_relaxed);
        });
    });
    const int status = QCoreApplication::exec();
    velk::shutdownWorkers();
    return status;
}
