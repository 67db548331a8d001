#pragma once

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>

namespace vellico::viewmodel {

// Runs `function` on a thread of `pool` and resumes the awaiting coroutine
// with its result on the awaiting coroutine's thread (through the event
// loop). The function must not touch GUI-thread state: give it copies and
// shared pointers. An exception it throws is rethrown to the awaiter.
//
// Name the task before awaiting it (`auto check = runOn(…); co_await
// check;`), here and for every awaitable built from a lambda: GCC 12
// destroys the captures of a temporary in a co_await expression twice,
// which corrupts shared pointers and the heap with them.
template <typename F>
auto runOn(QThreadPool* pool, F function) -> QCoro::Task<std::invoke_result_t<F>>
{
    co_return co_await QtConcurrent::run(pool, std::move(function));
}

} // namespace vellico::viewmodel
