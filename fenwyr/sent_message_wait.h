#pragma once
#include <functional>

#include <windows.h>

// Waits while handling the messages other threads send to this one. A host's frame callback
// may SendMessage to the very thread that waits for it (the usual way GUI frameworks hand a
// frame to their UI thread); without this both would wait for ever. Posted messages and input
// stay queued for the host.

// Until `done()` holds; the condition is checked every few ms.
void waitDispatchingSentMessages(const std::function<bool()>& done);
// Until `event` is signalled or `timeoutMs` has passed; true when it was signalled.
bool waitForEventDispatchingSentMessages(HANDLE event, DWORD timeoutMs);
