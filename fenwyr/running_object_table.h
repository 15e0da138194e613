#pragma once
#include <objbase.h>

// Registers a filter graph in the running object table under "FilterGraph <address> pid <pid>",
// so that graph tools can attach to it; the cookie comes back in *cookie.
HRESULT addGraphToRot(IUnknown* graph, DWORD* cookie);

// Removes a registration made by addGraphToRot; cookie 0 stands for none.
void revokeFromRot(DWORD cookie);
