// What an HRESULT export answers when something inside the library throws.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "export_barrier.h"

TEST(ExportBarrier, FaultsAreReportedAsWhatTheyAreNotAsABadArgument) {
    EXPECT_EQ(export_barrier::guardedResult([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(export_barrier::guardedResult([]() -> HRESULT { throw std::runtime_error("inside"); }), E_UNEXPECTED);
    EXPECT_EQ(export_barrier::guardedResult([]() -> HRESULT { throw 7; }), E_UNEXPECTED);
    EXPECT_EQ(export_barrier::guardedResult([]() -> HRESULT { return S_FALSE; }), S_FALSE);
}
