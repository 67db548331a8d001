#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The program's one base64 (the standard alphabet, "=" padding): property
// list data and the bytes vellico-cli's JSON carries.
namespace vellico::model {

// `bytes` in base64, padded, on one line.
std::string encodeBase64(std::span<const std::uint8_t> bytes);
std::string encodeBase64(std::string_view bytes);

// The bytes `text` encodes. Spaces, tabs and line breaks anywhere are
// skipped (property lists wrap and indent their data); padding may be left
// out but, when present, must complete the last group. None on any other
// character, on data after the padding, or on a group cut short.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

} // namespace vellico::model
