#pragma once

#include <string>
#include <vector>

namespace vellico::test {

// The lines of `text`, without their line ends; no empty line after a last
// line end.
inline std::vector<std::string> textLines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return result;
}

} // namespace vellico::test
