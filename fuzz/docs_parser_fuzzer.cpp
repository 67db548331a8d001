// libFuzzer target: help-file bytes through decoding, the line parser, the
// inline Markdown parser and the plain-text renderer. Besides crashes and
// sanitizer reports, it checks what the blocks promise: no empty run, no two
// neighbouring runs with the same formatting, inline text only on
// paragraphs and list items.
#include "docs/documentation_loader.hpp"
#include "docs/documentation_parser.hpp"
#include "docs/plain_text_renderer.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

bool sameFormatting(const vellico::docs::InlineRun& a, const vellico::docs::InlineRun& b)
{
    return a.em == b.em && a.strong == b.strong && a.code == b.code && a.href == b.href;
}

std::size_t check(const std::vector<vellico::docs::DocBlock>& blocks)
{
    using vellico::docs::DocBlockKind;
    std::size_t total = 0;
    for (const auto& block : blocks) {
        const bool formatted =
            block.kind == DocBlockKind::paragraph || block.kind == DocBlockKind::listItem;
        if (!formatted && !block.inlineText.empty()) {
            __builtin_trap();
        }
        for (std::size_t i = 0; i < block.inlineText.size(); ++i) {
            const auto& run = block.inlineText[i];
            if (run.text.empty() || (i > 0 && sameFormatting(block.inlineText[i - 1], run))) {
                __builtin_trap();
            }
            total += run.text.size() + run.href.size();
        }
        total += block.text.size();
    }
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto raw = vellico::docs::parseDocumentation(bytes);
    const auto decoded = vellico::docs::parseDocumentation(vellico::docs::decodeHelpText(bytes));
    const std::string text = vellico::docs::renderPlainText(raw, 40);
    const std::string filled = vellico::docs::fillDocumentation(
        std::string(bytes), "INFO", "support@vellico.app", "mailto:support@vellico.app?x=1");
    volatile std::size_t sink = check(raw) + check(decoded) + text.size() + filled.size();
    (void)sink;
    return 0;
}
