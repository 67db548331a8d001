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

// A missing path, an analysis and a deletion, in each language the program
// speaks and in C: each report is in the language chosen, down to its
// summary and sizes, and no French is left in the others.
TEST(CliLanguage, EveryReportSpeaksTheChosenLanguage)
{
    const struct {
        const char* language;
        const char* missing;  // the error for a missing path
        const char* analysis; // a line of the analysis report
        const char* summary;  // the batch summary
        const char* size;     // 2.5 MB written in the language
        const char* deletion; // the deletion report
    } cases[] = {
        {"fr", "est introuvable", "Sélectionné pour la suppression : ",
         "1 bibliothèque analysée, 0 en échec", "2,5 Mo", "« Film » : terminé, 2,5 Mo libérés."},
        {"en", "cannot be found", "Selected for deletion: ", "1 library analyzed, 0 failed",
         "2.5 MB", "“Film”: done, 2.5 MB freed."},
        {"de", "wurde nicht gefunden", "Zum Löschen ausgewählt: ", "1 Mediathek analysiert",
         "2,5 MB", "„Film“: fertig, 2,5 MB freigegeben."},
        {"es", "No se encuentra", "Seleccionado para eliminar: ", "1 biblioteca analizada",
         "2,5 MB", "«Film»: terminado, 2,5 MB liberados."},
        {"ja", "が見つかりません", "削除対象として選択：", "1 個のライブラリを解析", "2.5 MB",
         "「Film」：完了しました。2.5 MB を解放しました。"},
        {"zh_CN", "找不到", "已选择删除：", "已分析 1 个资源库", "2.5 MB",
         "“Film”：已完成，已释放 2.5 MB。"},
        {"C", "cannot be found", "Selected for deletion: ", "1 library analyzed, 0 failed",
         "2.5 MB", "“Film”: done, 2.5 MB freed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        test::TempDir tmp;
        tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
        lib.file("Wedding/Render Files/a", 2'500'000);
        const std::vector<std::string> environment =
            std::string(c.language) == "C"
                ? std::vector<std::string>{"LANG=C"}
                : std::vector<std::string>{"LANGUAGE=" + std::string(c.language), "LANG=C"};
        const std::string home = "--home=" + (tmp / "home").string();
        const auto run = [&](std::vector<std::string> args) {
            return test::runProgram(VELLICO_CLI_PATH, tmp, std::move(args), environment);
        };
        const test::ProgramRun missing =
            run({"analyze", home, (tmp / "Nowhere.fcpbundle").string()});
        const test::ProgramRun analysis = run({"analyze", home, lib.path().string()});
        const test::ProgramRun deletion = run({"clean", "--yes", home, lib.path().string()});
        EXPECT_EQ(missing.status, 1);
        EXPECT_EQ(analysis.status, 0) << analysis.err;
        EXPECT_EQ(deletion.status, 0) << deletion.err;
        EXPECT_NE(missing.err.find(c.missing), std::string::npos) << missing.err;
        for (const std::string* text : {&analysis.out, &deletion.out}) {
            EXPECT_NE(text->find(c.analysis), std::string::npos) << *text;
            EXPECT_NE(text->find(c.summary), std::string::npos) << *text;
            EXPECT_NE(text->find(c.size), std::string::npos) << *text;
        }
        EXPECT_NE(deletion.out.find(c.deletion), std::string::npos) << deletion.out;
        EXPECT_FALSE(std::filesystem::exists(lib.path() / "Wedding" / "Render Files"));
        if (std::string(c.language) != "fr") {
            // French punctuation and words left over mean a text missed its translation.
            for (const test::ProgramRun* r : {&missing, &analysis, &deletion}) {
                for (const char* french : {" : ", "« ", "Bibliothèque", "Sélection", "Résumé"}) {
                    EXPECT_EQ(r->out.find(french), std::string::npos) << french << "\n" << r->out;
                    EXPECT_EQ(r->err.find(french), std::string::npos) << french << "\n" << r->err;
                }
            }
        }
    }
}

} // namespace
} // namespace vellico::i18n
