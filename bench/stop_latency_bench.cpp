// How soon a measurement stops once asked: the analysis a new intake
// supersedes must let go of the disk at once.
//
//   stop_latency_bench LIBRARY [--rounds R] [--jobs N] [--cold]
//
// Each round starts measuring LIBRARY on a thread, asks it to stop after a
// delay that varies from round to round (so the request lands at all depths
// of the walk), and times the request until the measurement has returned.
// With --cold (root only) the page cache is dropped before every round, so
// the walk is waiting on the disk when the request comes. Prints the median
// and the largest latency.

#include "analysis/folder_size.hpp"
#include "platform/file_system.hpp"
#include "platform/stop_token.hpp"
#include "platform/tree_walker.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void dropCaches()
{
    ::sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: stop_latency_bench LIBRARY [--rounds R] [--jobs N] [--cold]\n");
        return 2;
    }
    const std::string library = argv[1];
    int rounds = 20;
    int jobs = 0;
    bool cold = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
            jobs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--cold") == 0) {
            cold = true;
        }
    }
    if (cold && ::geteuid() != 0) {
        std::fprintf(stderr, "stop_latency_bench: --cold needs root\n");
        return 2;
    }

    // A full measurement first: the delays are spread over its length.
    Clock::time_point start = Clock::now();
    const std::int64_t total = vellico::analysis::folderSize(library);
    const double fullMs = milliseconds(Clock::now() - start);
    if (total < 0) {
        std::fprintf(stderr, "stop_latency_bench: cannot measure %s\n", library.c_str());
        return 2;
    }

    std::vector<double> latencies;
    for (int round = 0; round < rounds; ++round) {
        if (cold) {
            dropCaches();
        }
        vellico::platform::StopToken stop;
        vellico::platform::WalkControl control;
        control.jobs = jobs;
        control.stop = &stop;
        const auto delay = std::chrono::microseconds(
            static_cast<long>(fullMs * 1000.0 * (0.1 + 0.8 * round / std::max(1, rounds - 1))));
        std::thread walker([&] { vellico::analysis::folderSize(library, control); });
        std::this_thread::sleep_for(delay);
        const Clock::time_point asked = Clock::now();
        stop.requestStop();
        walker.join();
        latencies.push_back(milliseconds(Clock::now() - asked));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "stop latency (%s, %d rounds, jobs %d, a full measurement %.0f ms): median %.2f ms, "
        "max %.2f ms\n",
        cold ? "cold" : "warm", rounds, vellico::platform::walkThreads({.jobs = jobs}), fullMs,
        latencies[latencies.size() / 2], latencies.back());
    return 0;
}
