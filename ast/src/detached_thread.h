#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <string>

namespace tolvo::ast {

// The stack of every worker thread: set explicitly, since the platform's default is larger, and
// the parser bounds its recursion to fit it.
inline constexpr size_t kWorkerStackSize = 2 * 1024 * 1024;

// Starts an unnamed thread with a kWorkerStackSize stack that runs `body`, already detached: nobody
// joins it. It runs with asynchronous signals blocked. An exception that escapes `body` is caught and dropped so it cannot end the process;
// callers still catch their own faults. The error is the OS error's text when the thread cannot be
// started.
std::expected<void, std::string> spawn_detached_thread(std::function<void()> body);

}  // namespace tolvo::ast
