// vellico-cli speaks the language the environment chooses, without any
// locale generated on the system.
#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace vellico::i18n {
namespace {

TEST(CliLanguage, MessagesAndSizesFollowTheEnvironment)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Wedding/Render Files/a", 2'500'000);
    const std::string missing = (tmp / "Nowhere.fcpbundle").string();
    const struct {
        std::vector<std::string> environment;
        std::string missingMessage;
        std::string size;
    } cases[] = {
        {{}, "“Nowhere.fcpbundle” cannot be found.", "2.5 MB"},
        {{"LANG=C"}, "“Nowhere.fcpbundle” cannot be found.", "2.5 MB"},
        {{"LC_ALL=POSIX", "LANG=fr_FR.UTF-8"}, "“Nowhere.fcpbundle” cannot be found.", "2.5 MB"},
        {{"LANG=pt_BR.UTF-8"}, "“Nowhere.fcpbundle” cannot be found.", "2.5 MB"},
        {{"LANG=fr_FR.UTF-8"}, "« Nowhere.fcpbundle » est introuvable.", "2,5 Mo"},
        {{"LANGUAGE=de:en", "LANG=C"}, "„Nowhere.fcpbundle“ wurde nicht gefunden.", "2,5 MB"},
        {{"LC_MESSAGES=es_ES.UTF-8"}, "No se encuentra «Nowhere.fcpbundle».", "2,5 MB"},
        {{"LANG=ja_JP.UTF-8"}, "「Nowhere.fcpbundle」が見つかりません。", "2.5 MB"},
        {{"LANG=zh_CN.UTF-8"}, "找不到“Nowhere.fcpbundle”。", "2.5 MB"},
    };
    for (const auto& c : cases) {
        const std::string shown = ::testing::PrintToString(c.environment);
        const test::ProgramRun run = test::runProgram(
            VELLICO_CLI_PATH, tmp, {"analyze", missing, lib.path().string()}, c.environment);
        EXPECT_EQ(run.status, 1) << shown;
        EXPECT_NE(run.err.find(c.missingMessage), std::string::npos) << shown << run.err;
        EXPECT_NE(run.out.find(c.size), std::string::npos) << shown << run.out;
    }
}

} // namespace
} // namespace vellico::i18n
