#pragma once

#include "model/terminal_text.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// What the command line needs to know about the terminal, and text measured
// in terminal columns.
namespace vellico::cli {

// Columns `text` takes on a terminal (model::displayWidth).
using model::displayWidth;

// `text` followed by blanks up to `width` columns; with one blank when it is
// already as wide or wider.
std::string padded(std::string_view text, std::size_t width);

// The longest start of `text` that fits in `columns` columns, never cutting
// a character in two; "…" ends it when something was cut.
std::string fitted(std::string_view text, std::size_t columns);

// True when progress may be drawn on stderr: it is a terminal and TERM is
// not "dumb" (nor unset).
bool progressWanted();

// True when `out` is the standard output and that is a terminal.
bool outputIsTerminal(const std::ostream& out);

// The width of the terminal on stderr; 80 when it cannot be read.
std::size_t terminalColumns();

// One progress line on stderr, redrawn in place and never wider than the
// terminal (so it never wraps), cleared when replaced by ordinary output or
// destroyed. Draws nothing when disabled. `show` and `clear` may be called
// from any thread (a ProgressTicker redraws from its own).
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool enabled() const { return m_enabled; }
    void show(std::string_view text);
    void clear();

private:
    bool m_enabled;
    bool m_shown = false;
    std::mutex m_mutex;
};

// Redraws `line` with the text `compose` returns, from a thread of its own,
// every `period` while it lives: the counters of a walk that runs on the
// calling thread move on screen between the walk's own texts. `compose` is
// called on the ticker's thread and must only read what is safe to read
// there (atomics, or data under its own lock). Starts no thread when the
// line is disabled; the destructor stops the thread before returning.
class ProgressTicker {
public:
    ProgressTicker(ProgressLine& line, std::function<std::string()> compose,
                   std::chrono::milliseconds period = std::chrono::milliseconds(200));
    ~ProgressTicker();
    ProgressTicker(const ProgressTicker&) = delete;
    ProgressTicker& operator=(const ProgressTicker&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace vellico::cli
