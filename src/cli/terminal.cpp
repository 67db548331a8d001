#include "cli/terminal.hpp"

#include <utf8proc.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace vellico::cli {

namespace {

// One step through `text`: the code point's byte length and column width.
struct Step {
    std::size_t bytes = 1;
    std::size_t columns = 1;
};

Step stepAt(std::string_view text, std::size_t at)
{
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t n =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                         static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    if (n <= 0) {
        return {}; // a byte that is not UTF-8: one column
    }
    return {static_cast<std::size_t>(n), model::columnWidth(static_cast<char32_t>(codePoint))};
}

} // namespace

std::string padded(std::string_view text, std::size_t width)
{
    const std::size_t used = displayWidth(text);
    std::string result(text);
    result.append(used >= width ? 1 : width - used, ' ');
    return result;
}

std::string fitted(std::string_view text, std::size_t columns)
{
    if (displayWidth(text) <= columns) {
        return std::string(text);
    }
    if (columns == 0) {
        return {};
    }
    const std::size_t room = columns - 1; // for the ellipsis
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const Step step = stepAt(text, at);
        if (used + step.columns > room) {
            break;
        }
        used += step.columns;
        at += step.bytes;
    }
    return std::string(text.substr(0, at)) + "\u2026";
}

bool progressWanted()
{
    if (::isatty(STDERR_FILENO) != 1) {
        return false;
    }
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

bool outputIsTerminal(const std::ostream& out)
{
    return &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
}

std::size_t terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

ProgressLine::ProgressLine(bool enabled) : m_enabled(enabled) {}

ProgressLine::~ProgressLine()
{
    clear();
}

void ProgressLine::show(std::string_view text)
{
    if (!m_enabled) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    // One column short of the width: a line that fills the last column
    // makes some terminals wrap at once.
    const std::size_t columns = terminalColumns();
    std::cerr << "\r\033[K" << fitted(text, columns > 1 ? columns - 1 : columns) << std::flush;
    m_shown = true;
}

void ProgressLine::clear()
{
    if (!m_enabled) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    if (m_shown) {
        std::cerr << "\r\033[K" << std::flush;
        m_shown = false;
    }
}

ProgressTicker::ProgressTicker(ProgressLine& line, std::function<std::string()> compose,
                               std::chrono::milliseconds period)
{
    if (!line.enabled()) {
        return;
    }
    m_thread = std::thread([this, &line, compose = std::move(compose), period] {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, period, [this] { return m_stop; })) {
            lock.unlock();
            line.show(compose());
            lock.lock();
        }
    });
}

ProgressTicker::~ProgressTicker()
{
    if (!m_thread.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

} // namespace vellico::cli
