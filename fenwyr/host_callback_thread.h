#pragma once

// Marks the threads on which the library is running one of the host's callbacks. A call that
// waits for those threads (stop, open, uninit) cannot be made from them: it would wait for itself.
class InsideHostCallback {
public:
    InsideHostCallback();
    ~InsideHostCallback();
    InsideHostCallback(const InsideHostCallback&) = delete;
    InsideHostCallback& operator=(const InsideHostCallback&) = delete;
};

// True on a thread that is inside one of the host's callbacks.
bool insideHostCallback();

// Runs a call of the host's code on this thread, marked as such. An exception thrown by the host
// must not unwind through the library's or the platform's threads: it ends here.
template <typename Call>
void callHost(Call&& call) {
    InsideHostCallback inside;
    try {
        call();
    } catch (...) {
    }
}
