#pragma once

// Makes one heap allocation of tarvik.dll fail: while an instance lives, the DLL's own calls of
// the C runtime's malloc (through which its operator new allocates) succeed `before` times, then
// one fails, then they succeed again. Done by pointing tarvik's import of malloc at a stand-in,
// so only tarvik is affected, not the test or the camera. (One failure, not all from then on:
// throwing bad_alloc itself needs memory from the same runtime.)
class TarvikAllocationFailure {
public:
    explicit TarvikAllocationFailure(int before = 0);
    ~TarvikAllocationFailure();
    TarvikAllocationFailure(const TarvikAllocationFailure&) = delete;
    TarvikAllocationFailure& operator=(const TarvikAllocationFailure&) = delete;

    // False when tarvik.dll does not import malloc (a build with the C runtime linked in).
    static bool available();
};
