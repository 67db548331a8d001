// The window's batch against the command line over the same folder:
//
//   batch_bench VELLICO_CLI [WORKDIR] [LIBRARIES] [FILES] [ROUNDS]
//
// Writes LIBRARIES libraries (default 50) of FILES sparse files each
// (default 20,000) under WORKDIR (default: a fresh temporary folder, removed
// at the end), then for each of ROUNDS rounds (default 3): times
// `VELLICO_CLI analyze -r WORKDIR`, then the batch's search and analyses of
// the same folder in the window's batch view (drawn off screen unless
// QT_QPA_PLATFORM says otherwise), sampling the event loop every 5 ms for
// its longest stall. Prints each round, and the peak RSS of this
// process. Targets: batch ≤ 1.2 × the command line, stall < 50 ms, RSS <
// 300 MiB.

#include "analysis/machine_analysis.hpp"
#include "sample_library.hpp"
#include "ui/batch_view.hpp"
#include "viewmodel/batch_view_model.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>

namespace fs = std::filesystem;
using namespace vellico;

namespace {

void writeLibraries(const fs::path& root, int libraries, int files)
{
    for (int l = 0; l < libraries; ++l) {
        tools::LibraryBuilder builder(root / ("Library " + std::to_string(l) + ".fcpbundle"));
        builder.event("Event", {"Render Files"}, 1 << 20);
        for (int f = 0; f < files; ++f) {
            // Spread over folders of 500, as the editor's media folders are.
            builder.file(fs::path("Event") / "Original Media" / std::to_string(f / 500) /
                             ("clip" + std::to_string(f) + ".mov"),
                         4096 + f);
        }
    }
}

double secondsOf(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: batch_bench VELLICO_CLI [WORKDIR] [LIBRARIES] [FILES] [ROUNDS]\n";
        return 2;
    }
    const std::string cli = argv[1];
    const bool ownDir = argc < 3;
    const fs::path root =
        ownDir ? fs::temp_directory_path() / ("batch-bench-" + std::to_string(::getpid()))
               : fs::path(argv[2]);
    const int libraries = argc > 3 ? std::atoi(argv[3]) : 50;
    const int files = argc > 4 ? std::atoi(argv[4]) : 20000;
    const int rounds = argc > 5 ? std::atoi(argv[5]) : 3;
    if (!fs::exists(root / "Library 0.fcpbundle")) {
        std::cout << "writing " << libraries << " libraries of " << files << " files in " << root
                  << "\n";
        writeLibraries(root, libraries, files);
    }
    auto machine = std::make_shared<const analysis::MachineAnalysis>();

    bool met = true;
    for (int round = 1; round <= rounds; ++round) {
        const std::string command = "'" + cli + "' analyze -r '" + root.string() + "' >/dev/null";
        const double cliSeconds = secondsOf([&] {
            if (std::system(command.c_str()) != 0) {
                std::cerr << "the command line failed\n";
            }
        });

        viewmodel::BatchViewModel batch(viewmodel::machineBatchServices(machine));
        ui::BatchView view(batch);
        view.resize(500, 590);
        view.show();
        qint64 longestStall = 0;
        QElapsedTimer sinceTick;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, sinceTick.restart() - 5); });
        const double batchSeconds = secondsOf([&] {
            sinceTick.start();
            sampler.start(5);
            // Waits as the window does, in its event loop: a loop of
            // processEvents() would spin a core that the analyses need.
            QEventLoop loop;
            QObject::connect(&batch, &viewmodel::BatchViewModel::phaseChanged, &loop, [&] {
                if (batch.phase() == viewmodel::BatchViewModel::Phase::ready) {
                    loop.quit();
                }
            });
            batch.searchFolder(QString::fromStdString(root.string()));
            if (batch.phase() != viewmodel::BatchViewModel::Phase::ready) {
                loop.exec();
            }
            sampler.stop();
        });
        const double ratio = batchSeconds / cliSeconds;
        std::printf("round %d: cli %.2f s, batch %.2f s (%.2f x), %d rows, longest stall %lld ms\n",
                    round, cliSeconds, batchSeconds, ratio, static_cast<int>(batch.rows().size()),
                    static_cast<long long>(longestStall));
        met = met && ratio <= 1.2 && longestStall < 50;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::printf("peak RSS %.1f MiB\n", peakMiB);
    met = met && peakMiB < 300;
    std::printf("%s\n", met ? "targets met" : "targets NOT met");
    if (ownDir) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    return met ? 0 : 1;
}
