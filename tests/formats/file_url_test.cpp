#include "formats/file_url.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vellico::formats {
namespace {

using namespace std::string_literals;

TEST(FileURL, DecodesLocalPathsAndRefusesEverythingElse)
{
    const struct {
        std::string url;
        std::optional<std::string> path;
    } cases[] = {
        // Host forms.
        {"file:///Users/ana/Movies/My%20Film.fcpbundle/", "/Users/ana/Movies/My Film.fcpbundle/"},
        {"file://localhost/Volumes/Archive/A.fcpbundle", "/Volumes/Archive/A.fcpbundle"},
        {"FILE://LocalHost/Volumes/A", "/Volumes/A"},
        {"File:/Volumes/A", "/Volumes/A"},
        {"file:///", "/"},
        {"file://server/share/A.fcpbundle", std::nullopt},
        {"file://localhost.example/A", std::nullopt},
        {"file://localhost:22/A", std::nullopt},
        {"file://localhost", std::nullopt},
        {"file://", std::nullopt},
        {"file:", std::nullopt},
        {"file:relative/A.fcpbundle", std::nullopt},
        {"files:///A", std::nullopt},
        {"https://example.com/A.fcpbundle", std::nullopt},
        {"/Users/ana/A.fcpbundle", std::nullopt},
        {"", std::nullopt},
        // Percent-decoding, in either case of hex digit; nothing is normalised.
        {"file:///C%C3%A9r%C3%A9monie", "/C\u00e9r\u00e9monie"},
        {"file:///Ce%cc%81re%cc%81monie", "/Ce\u0301re\u0301monie"},
        {"file:///100%25%20s%C3%BBr", "/100% s\u00fbr"},
        {"file:///a%3Fb%23c", "/a?b#c"},
        {"file:///%2E%2E/x", "/../x"},
        // Bytes that are not UTF-8 stay bytes.
        {"file:///caf%E9", "/caf\xe9"},
        {"file:///%FF%fe", "/\xff\xfe"},
        // Raw characters a strict URL would escape are taken as written.
        {"file:///My Film/C\u00e9r\u00e9monie", "/My Film/C\u00e9r\u00e9monie"},
        // Invalid escapes.
        {"file:///a%", std::nullopt},
        {"file:///a%2", std::nullopt},
        {"file:///a%G1", std::nullopt},
        {"file:///a%%41", std::nullopt},
        {"file:///a%-1", std::nullopt},
        // No file name holds a NUL or a "/".
        {"file:///a%00b", std::nullopt},
        {"file:///a\0b"s, std::nullopt},
        {"file:///Volumes/A%2FB", std::nullopt},
        {"file:///Volumes/A%2fB", std::nullopt},
        // A query or fragment is no part of a file's path.
        {"file:///A.fcpbundle?x=1", std::nullopt},
        {"file:///A.fcpbundle#top", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pathFromFileURL(c.url), c.path) << c.url;
    }
}

TEST(FileURL, EncodedPathsComeBackUnchanged)
{
    const std::string paths[] = {
        "/",
        "/Users/ana/Movies/My Film.fcpbundle",
        "/Volumes/Archive/C\u00e9r\u00e9monie #2?.fcpbundle/",
        "/tmp/100%/a+b=c&d;e",
        "/tmp/Ce\u0301re\u0301monie",
        "/tmp/caf\xe9/\x01\x7f\xff",
    };
    for (const std::string& path : paths) {
        const std::string url = fileURLFromPath(path);
        // Only unreserved characters, "/" and escapes: nothing a reader could
        // take for a query, a fragment or another escape.
        ASSERT_TRUE(url.starts_with("file:///")) << url;
        EXPECT_EQ(url.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789-._~/%",
                                        7),
                  std::string::npos)
            << url;
        EXPECT_EQ(pathFromFileURL(url), path) << url;
    }
}

} // namespace
} // namespace vellico::formats
