#include "host_callback_thread.h"

namespace {

// Host callbacks running on this thread (a callback that calls back in may nest them).
thread_local int hostCallbacksOnThisThread = 0;

}  // namespace

InsideHostCallback::InsideHostCallback() {
    ++hostCallbacksOnThisThread;
}

InsideHostCallback::~InsideHostCallback() {
    --hostCallbacksOnThisThread;
}

bool insideHostCallback() {
    return hostCallbacksOnThisThread > 0;
}
