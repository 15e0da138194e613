#pragma once
#include <functional>

#include <windows.h>

// Waits until `done()` holds while handling the messages other threads send to this one.
// A host's frame callback may SendMessage to the very thread that waits for it to finish (the
// usual way GUI frameworks hand a frame to their UI thread); without this both would wait for
// ever. Posted messages and input stay queued for the host. `wake`, when set, is signalled
// whenever `done()` may have become true; the condition is also checked every few ms.
void waitDispatchingSentMessages(const std::function<bool()>& done, HANDLE wake = nullptr);
