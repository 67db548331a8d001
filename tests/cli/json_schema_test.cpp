// Every JSON document the command line prints is checked against the tables
// of docs/json.md: the keys of each object, their order and their types.
#include "cli/analyze_command.hpp"
#include "cli/clean_command.hpp"
#include "formats/bookmark_writer.hpp"
#include "sample_library.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

struct Row {
    std::string key;
    std::string type;
    std::vector<std::string> commands;
};

// The field tables of docs/json.md, by object type ("Document", "Library"…).
std::map<std::string, std::vector<Row>> documentedSchema()
{
    const char* source = std::getenv("VELLICO_SOURCE_DIR");
    std::ifstream in(fs::path(source != nullptr ? source : ".") / "docs" / "json.md");
    std::map<std::string, std::vector<Row>> schema;
    std::string object;
    std::string line;
    const std::regex heading("^## (\\w+)$");
    const std::regex row("^\\| `(\\w+)` \\| ([^|]+?) \\| ([^|]+?) \\|.*$");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, heading)) {
            object = m[1];
        } else if (!object.empty() && std::regex_match(line, m, row)) {
            Row r{m[1], m[2], {}};
            std::stringstream commands(m[3]);
            std::string command;
            while (std::getline(commands >> std::ws, command, ',')) {
                r.commands.push_back(command);
            }
            schema[object].push_back(r);
        }
    }
    return schema;
}

class SchemaCheck {
public:
    SchemaCheck(std::map<std::string, std::vector<Row>> schema, std::string command)
        : m_schema(std::move(schema)), m_command(std::move(command))
    {}

    void check(const ordered_json& value, const std::string& type, const std::string& where)
    {
        if (type == "integer") {
            expect(value.is_number_integer(), where, type);
        } else if (type == "boolean") {
            expect(value.is_boolean(), where, type);
        } else if (type == "string") {
            expect(value.is_string(), where, type);
        } else if (type == "string or null") {
            expect(value.is_string() || value.is_null(), where, type);
        } else if (type.rfind("array of ", 0) == 0) {
            if (!expect(value.is_array(), where, type)) {
                return;
            }
            for (std::size_t i = 0; i < value.size(); ++i) {
                check(value[i], type.substr(9), where + "[" + std::to_string(i) + "]");
            }
        } else if (m_schema.count(type) != 0) {
            checkObject(value, type, where);
        } else {
            problems.push_back(where + ": undocumented type " + type);
        }
    }

    std::vector<std::string> problems;

private:
    void checkObject(const ordered_json& value, const std::string& type, const std::string& where)
    {
        if (!expect(value.is_object(), where, type)) {
            return;
        }
        std::vector<const Row*> expected;
        for (const Row& row : m_schema.at(type)) {
            if (std::find(row.commands.begin(), row.commands.end(), m_command) !=
                row.commands.end()) {
                expected.push_back(&row);
            }
        }
        std::size_t next = 0; // documented keys come in the documented order
        for (const auto& [key, member] : value.items()) {
            const std::string here = where + "." + key;
            if (next < expected.size() && expected[next]->key == key) {
                check(member, expected[next]->type, here);
                ++next;
                continue;
            }
            // `xBytes` right after a documented string key `x`: base64 of its raw bytes.
            const bool isBytes = key.size() > 5 && key.substr(key.size() - 5) == "Bytes" &&
                                 next > 0 &&
                                 expected[next - 1]->key == key.substr(0, key.size() - 5);
            if (!isBytes) {
                problems.push_back(here + ": undocumented or out of order");
            }
        }
        for (; next < expected.size(); ++next) {
            problems.push_back(where + "." + expected[next]->key + ": missing");
        }
    }

    bool expect(bool ok, const std::string& where, const std::string& type)
    {
        if (!ok) {
            problems.push_back(where + ": not " + type);
        }
        return ok;
    }

    std::map<std::string, std::vector<Row>> m_schema;
    std::string m_command;
};

class ScriptedConfirmation final : public Confirmation {
public:
    explicit ScriptedConfirmation(std::optional<bool> answer) : m_answer(answer) {}
    std::optional<bool> ask(const std::string&) override { return m_answer; }

private:
    std::optional<bool> m_answer;
};

// Libraries that bring out every kind of object and value: folders, an
// input that fails, a name that is not UTF-8, a missing external cache.
class JsonSchema : public ::testing::Test {
protected:
    JsonSchema()
    {
        tools::LibraryBuilder film(tmp / "Film.fcpbundle");
        film.file("Mariage/Render Files/a", 1000).file("Mariage/Transcoded Media/b", 300);
        formats::BookmarkTarget location;
        for (const auto& part : tmp.path()) {
            if (part != "/") {
                location.pathComponents.push_back(part.string());
            }
        }
        film.settings(
            {{"cacheFolderName", formats::PlistValue("Absent.fcpcache")},
             {"cacheLocation", formats::PlistValue(formats::makeBookmarkData(location))}});
        tools::LibraryBuilder(tmp / "Caf\xe9.fcpbundle").file("\xe9v/Render Files/c", 10);
        tools::writeFile(tmp / "photo.jpg", "x");
        options.json = true;
        options.home = tmp / "home";
        options.paths = {(tmp / "Film.fcpbundle").string(), (tmp / "Caf\xe9.fcpbundle").string(),
                         (tmp / "photo.jpg").string()};
    }

    void expectDocumented(const std::string& text, const std::string& command)
    {
        const auto schema = documentedSchema();
        ASSERT_EQ(schema.size(), 8u) << "docs/json.md: eight object tables";
        SchemaCheck check(schema, command);
        check.check(ordered_json::parse(text), "Document", "$");
        EXPECT_TRUE(check.problems.empty()) << ::testing::PrintToString(check.problems) << text;
    }

    test::TempDir tmp;
    CommandLine options;
};

TEST_F(JsonSchema, AnalyzeOutputMatchesTheDocumentation)
{
    options.command = Command::analyze;
    std::ostringstream out, err;
    EXPECT_EQ(runAnalyze(options, out, err), 1);
    const auto doc = ordered_json::parse(out.str());
    ASSERT_EQ(doc["libraries"].size(), 2u);
    // The name that is not UTF-8 comes back byte for byte.
    const std::string encoded = doc["libraries"][1].value("pathBytes", "");
    std::string decoded(encoded.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                  reinterpret_cast<const unsigned char*>(encoded.data()),
                                  static_cast<int>(encoded.size()));
    ASSERT_GE(n, 0) << encoded;
    const std::string expected = (tmp / "Caf\xe9.fcpbundle").string();
    EXPECT_EQ(decoded.substr(0, expected.size()), expected);
    EXPECT_EQ(encoded.size(), 4 * ((expected.size() + 2) / 3));
    EXPECT_TRUE(doc["libraries"][0]["missingCachePath"].is_string());
    ASSERT_EQ(doc["libraries"][0]["warnings"].size(), 1u);
    EXPECT_EQ(doc["libraries"][0]["warnings"][0]["kind"], "missingCache");
    EXPECT_EQ(doc["libraries"][0]["warnings"][0]["path"], (tmp / "Absent.fcpcache").string());
    EXPECT_EQ(err.str(), "") << "with --json the document alone carries errors and warnings";
    expectDocumented(out.str(), "analyze");
}

TEST_F(JsonSchema, CleanOutputMatchesTheDocumentationInEveryOutcome)
{
    options.command = Command::clean;
    for (const bool dryRun : {true, false}) {
        options.dryRun = dryRun;
        ScriptedConfirmation declined(false);
        std::ostringstream out, err;
        EXPECT_EQ(runClean(options, declined, out, err), 1);
        EXPECT_EQ(ordered_json::parse(out.str())["declined"], !dryRun);
        EXPECT_EQ(err.str(), "");
        expectDocumented(out.str(), "clean");
    }
    // Deleted, one folder failing inside.
    options.dryRun = false;
    options.yes = true;
    options.preset = model::EditingPreset::done;
    test::ScriptedSystemCalls calls;
    calls.onUnlinkat = [](int, const std::string& name, int) -> std::optional<int> {
        return name == "b" ? std::optional<int>(EBUSY) : std::nullopt;
    };
    ScriptedConfirmation unasked(std::nullopt);
    std::ostringstream out, err;
    EXPECT_EQ(runClean(options, unasked, out, err, calls), 1);
    const auto doc = ordered_json::parse(out.str());
    ASSERT_EQ(doc["libraries"][0]["failures"].size(), 1u) << out.str();
    EXPECT_EQ(doc["libraries"][0]["failures"][0]["errno"], EBUSY);
    expectDocumented(out.str(), "clean");
}

} // namespace
} // namespace vellico::cli
