#pragma once
#include <cstddef>

// How many threads of this process started in a function of the named module (for example a
// DLL's own worker threads); 0 when the module is not loaded.
std::size_t threadsStartedIn(const wchar_t* moduleName);
