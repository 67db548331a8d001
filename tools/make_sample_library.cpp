// vellico-make-library: writes sample library bundles for demos, tests and
// benchmarks.
//
//   vellico-make-library demo DIR              the demo library, in DIR
//   vellico-make-library synthetic [--files N] [--seed S] BUNDLE
//   vellico-make-library backup-of LIBRARY DIR        a backup of LIBRARY in DIR
//   vellico-make-library with-cache DIR CACHE_PARENT  the demo, its cache in CACHE_PARENT
//   vellico-make-library missing-cache DIR            the demo, its cache on an absent disk
#include "formats/bookmark_writer.hpp"
#include "sample_library.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: vellico-make-library demo DIR\n"
                 "       vellico-make-library synthetic [--files N] [--seed S] BUNDLE\n"
                 "       vellico-make-library backup-of LIBRARY DIR\n"
                 "       vellico-make-library with-cache DIR CACHE_PARENT\n"
                 "       vellico-make-library missing-cache DIR\n";
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
        if (command == "backup-of" && argc == 4) {
            vellico::tools::BackupContents shape;
            shape.originalURL = std::filesystem::absolute(argv[2]);
            const std::filesystem::path folder = std::filesystem::path(argv[3]) / "Mariage Dupont";
            vellico::tools::writeBackupFolder(folder, shape);
            std::cout << (folder / shape.backups.front()).string() << "\n";
            return 0;
        }
        if ((command == "with-cache" && argc == 4) || (command == "missing-cache" && argc == 3)) {
            // The cache location is a bookmark, as the editor stores it: to a
            // folder that exists here, or to a Mac disk that is not mounted.
            vellico::formats::BookmarkTarget bookmark;
            std::filesystem::path cacheParent;
            if (command == "with-cache") {
                cacheParent = std::filesystem::absolute(argv[3]);
                vellico::tools::writeSparseFile(cacheParent / "Mariage Dupont.fcpcache" /
                                                    "Render Files" / "a.mov",
                                                3'400'000'000);
                for (const auto& part : cacheParent) {
                    if (part != "/") {
                        bookmark.pathComponents.push_back(part.string());
                    }
                }
            } else {
                bookmark.pathComponents = {"Volumes", "Disque Cache", "Caches"};
                bookmark.volumePath = "/Volumes/Disque Cache";
                bookmark.volumeName = "Disque Cache";
            }
            const std::filesystem::path bundle = vellico::tools::writeDemoLibrary(argv[2]);
            vellico::tools::LibraryBuilder(bundle).settings(
                {{"cacheFolderName", vellico::formats::PlistValue("Mariage Dupont.fcpcache")},
                 {"cacheLocation",
                  vellico::formats::PlistValue(vellico::formats::makeBookmarkData(bookmark))}});
            std::cout << bundle.string() << "\n";
            return 0;
        }
        if (command == "synthetic") {
            vellico::tools::SyntheticShape shape;
            std::string bundle;
            for (int i = 2; i < argc; ++i) {
                const std::string arg = argv[i];
                if (arg == "--files" && i + 1 < argc) {
                    shape.fileCount = std::stoull(argv[++i]);
                } else if (arg == "--seed" && i + 1 < argc) {
                    shape.seed = static_cast<std::uint32_t>(std::stoul(argv[++i]));
                } else if (bundle.empty() && arg.rfind("--", 0) != 0) {
                    bundle = arg;
                } else {
                    return usage();
                }
            }
            if (bundle.empty()) {
                return usage();
            }
            vellico::tools::writeSyntheticLibrary(bundle, shape);
            std::cout << bundle << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "vellico-make-library: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
