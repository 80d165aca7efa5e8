#pragma once
// How the store's asynchronous operations hop between the GUI thread and workers. Blocking work
// gets copies of values and never touches the store; its result comes back to the GUI thread and
// is dropped when the store is gone by then.

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include <QObject>
#include <QPointer>

#include "base/executor.hpp"

namespace velk::store_async {

// What blocking work ended with: its value, or the error that stopped it.
template <class T>
struct Attempt {
    std::optional<T> value;
    std::exception_ptr error;
    bool ok() const { return !error; }
};

template <class Work>
using AttemptOf = Attempt<std::conditional_t<std::is_void_v<std::invoke_result_t<Work&>>, std::monostate,
                                             std::invoke_result_t<Work&>>>;

// Runs `work` on a worker and then `done(attempt)` on the GUI thread while `owner` still exists
// (base's runThenCallback, with whatever `work` throws caught into the attempt).
template <class Work, class Done>
void offGuiThread(QObject* owner, Work work, Done done) {
    runThenCallback(
        owner,
        [work = std::move(work)]() mutable {
            AttemptOf<Work> attempt;
            try {
                if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
                    work();
                    attempt.value.emplace();
                } else {
                    attempt.value.emplace(work());
                }
            } catch (...) {
                attempt.error = std::current_exception();
            }
            return attempt;
        },
        std::move(done));
}

// A way for a worker to hand a step to the GUI thread; the step is dropped when `owner` is gone.
// Steps posted from one worker run in the order they were posted.
template <class Owner>
std::function<void(std::function<void(Owner&)>)> guiRelay(Owner* owner) {
    QPointer<Owner> guard(owner);
    return [guard](std::function<void(Owner&)> step) {
        postToGui([guard, step = std::move(step)] {
            if (guard) step(*guard);
        });
    };
}

// The text the user sees for an error: its sentence, or the system's own description.
std::string describe(const std::exception_ptr& error);
// A transport failure of the HTTPS layer or any transfer protocol error: the errors after which
// the store no longer trusts a source's session.
bool endsSession(const std::exception_ptr& error);

} // namespace velk::store_async
