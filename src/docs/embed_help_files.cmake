# cmake -DHELP_DIR=<dir> -DOUTPUT=<file.cpp> -P embed_help_files.cmake
# Writes a C++ source that holds every help file of HELP_DIR as bytes. Bytes,
# not a string literal: the text may hold anything (quotes, backslashes, NUL).
set(languages FR EN DE ES JA ZH)
set(arrays "")
set(entries "")
set(index 0)
foreach(lang ${languages})
    set(name "Documentation_${lang}.md")
    file(READ "${HELP_DIR}/${name}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
    string(APPEND arrays "// ${name}\nconst unsigned char file${index}[] = {\n    ${bytes}0x00};\n\n")
    string(APPEND entries "        {\"${name}\", file${index}, sizeof file${index} - 1},\n")
    math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Generated from resources/help by embed_help_files.cmake: do not edit.
#include \"docs/embedded_help_files.hpp\"

#include <cstddef>

namespace vellico::docs {

namespace {

${arrays}struct Entry {
    std::string_view name;
    const unsigned char* data;
    std::size_t size;
};

} // namespace

std::optional<std::string_view> embeddedHelpFile(std::string_view fileName)
{
    static const Entry entries[] = {
${entries}    };
    for (const Entry& entry : entries) {
        if (entry.name == fileName) {
            return std::string_view(reinterpret_cast<const char*>(entry.data), entry.size);
        }
    }
    return std::nullopt;
}

} // namespace vellico::docs
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
