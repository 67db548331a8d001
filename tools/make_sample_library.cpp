// vellico-make-library: writes sample library bundles for demos, tests and
// benchmarks.
//
//   vellico-make-library demo DIR              the demo library, in DIR
//   vellico-make-library synthetic [--files N] [--seed S] BUNDLE
#include "sample_library.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: vellico-make-library demo DIR\n"
                 "       vellico-make-library synthetic [--files N] [--seed S] BUNDLE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return usage();
    }
    const std::string command = argv[1];
    try {
        if (command == "demo" && argc == 3) {
            std::cout << vellico::tools::writeDemoLibrary(argv[2]).string() << "\n";
            return 0;
        }
        if (command == "synthetic") {
            vellico::tools::SyntheticSpec spec;
            std::string bundle;
            for (int i = 2; i < argc; ++i) {
                const std::string arg = argv[i];
                if (arg == "--files" && i + 1 < argc) {
                    spec.fileCount = std::stoull(argv[++i]);
                } else if (arg == "--seed" && i + 1 < argc) {
                    spec.seed = static_cast<std::uint32_t>(std::stoul(argv[++i]));
                } else if (bundle.empty() && arg.rfind("--", 0) != 0) {
                    bundle = arg;
                } else {
                    return usage();
                }
            }
            if (bundle.empty()) {
                return usage();
            }
            vellico::tools::writeSyntheticLibrary(bundle, spec);
            std::cout << bundle << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "vellico-make-library: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
