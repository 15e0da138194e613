// Status codes of the simulated camera. Every operation returns one of these
// (the master-gain query returns the gain itself instead).
//
//   0  ok
//   1  invalid handle: wrong or closed camera handle
//   2  no camera: nothing attached, or no camera with the requested id
//   3  capture status: reserved for the capture-status error; only returned when forced
//   4  already open: the camera is open already
//   5  invalid parameter: a value outside its range or an unsupported mode or command value
//   6  null pointer: a null or too small parameter
//   7  invalid memory: an image memory pointer or id the camera did not allocate
//   8  memory in use: an image memory that is still in the capture sequence
//   9  sequence empty: live capture started with no memory in the sequence
//  10  queue not initialised: waiting for an image without an image queue
//  11  timed out: no image arrived within the timeout
//  12  not supported: unknown command, or fine exposure on a camera without it
//  13  out of memory: an image memory could not be allocated
//  14  internal error: an unexpected fault, caught before it left the DLL
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace camera_sim {

enum Status : int32_t {
    kOk = 0,
    kInvalidHandle = 1,
    kNoCamera = 2,
    kCaptureStatusError = 3,
    kAlreadyOpen = 4,
    kInvalidParameter = 5,
    kNullPointer = 6,
    kInvalidMemory = 7,
    kMemoryInUse = 8,
    kSequenceEmpty = 9,
    kQueueNotInitialised = 10,
    kTimedOut = 11,
    kNotSupported = 12,
    kOutOfMemory = 13,
    kInternalError = 14,
};

// The result of a rule check: a status and, when refused, the reason a person can read.
struct Outcome {
    int32_t status = kOk;
    std::string reason;

    bool ok() const { return status == kOk; }
    static Outcome success() { return Outcome{}; }
    static Outcome refuse(int32_t status, std::string reason) { return Outcome{status, std::move(reason)}; }
};

}  // namespace camera_sim
