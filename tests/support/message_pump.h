#pragma once
#include <windows.h>

#include <chrono>
#include <functional>

// Runs this thread's message loop, as a GUI host's thread does (automatic recoveries and sent
// messages run in it), until `done` or the time-out; whether `done` came.
bool pumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
