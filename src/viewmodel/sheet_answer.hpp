#pragma once

#include <coroutine>
#include <functional>
#include <optional>
#include <utility>

namespace vellico::viewmodel {

// A one-shot continuation: the answer a waiting coroutine receives from a
// sheet. The view model keeps one in a field per asking sheet; whoever
// answers first takes it out of the field (std::exchange) and resumes it,
// so an answer can never be delivered twice and a second answer finds the
// field empty. Resuming runs the waiting coroutine at once, on the calling
// (GUI) thread, up to its next suspension. Never delivers an error.
//
// Not copyable: exactly one owner can resume it. A continuation that is
// dropped without being resumed leaves its coroutine suspended for good.
template <typename T> class SheetContinuation {
public:
    SheetContinuation() = default;
    SheetContinuation(std::coroutine_handle<> waiter, std::optional<T>* slot)
        : m_waiter(waiter), m_slot(slot)
    {}
    SheetContinuation(const SheetContinuation&) = delete;
    SheetContinuation& operator=(const SheetContinuation&) = delete;
    SheetContinuation(SheetContinuation&& other) noexcept
        : m_waiter(std::exchange(other.m_waiter, nullptr)),
          m_slot(std::exchange(other.m_slot, nullptr))
    {}
    SheetContinuation& operator=(SheetContinuation&& other) noexcept
    {
        m_waiter = std::exchange(other.m_waiter, nullptr);
        m_slot = std::exchange(other.m_slot, nullptr);
        return *this;
    }

    explicit operator bool() const { return static_cast<bool>(m_waiter); }

    // Delivers the answer and resumes the waiter; does nothing the second time.
    void resume(T value)
    {
        auto waiter = std::exchange(m_waiter, nullptr);
        if (!waiter) {
            return;
        }
        *std::exchange(m_slot, nullptr) = std::move(value);
        waiter.resume();
    }

private:
    std::coroutine_handle<> m_waiter;
    std::optional<T>* m_slot = nullptr;
};

// The awaitable that suspends a coroutine on a sheet. On suspension it
// stores the continuation into `field` and only then calls `present` (which
// shows the sheet), so an answer can never arrive before there is a
// continuation to resume. Its value is the answer.
template <typename T> class SheetAnswer {
public:
    SheetAnswer(std::optional<SheetContinuation<T>>& field, std::function<void()> present)
        : m_field(field), m_present(std::move(present))
    {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter)
    {
        m_field = SheetContinuation<T>(waiter, &m_answer);
        if (m_present) {
            m_present();
        }
    }
    T await_resume() { return std::move(*m_answer); }

private:
    std::optional<SheetContinuation<T>>& m_field;
    std::function<void()> m_present;
    std::optional<T> m_answer;
};

// Takes the continuation out of `field` (leaving it empty) and resumes it
// with `value`; does nothing when the field is empty.
template <typename T> void resumeOnce(std::optional<SheetContinuation<T>>& field, T value)
{
    if (!field) {
        return;
    }
    SheetContinuation<T> continuation = std::move(*field);
    field.reset();
    continuation.resume(std::move(value));
}

} // namespace vellico::viewmodel
