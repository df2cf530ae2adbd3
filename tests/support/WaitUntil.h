#pragma once

// Waiting for something another thread does, without a fixed sleep: the
// condition is polled every few milliseconds until it holds or the time-out
// passes. A test asserts the result, so a lost event fails instead of hanging.

#include <chrono>
#include <functional>

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
