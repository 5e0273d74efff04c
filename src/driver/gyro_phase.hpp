#pragma once
// The run sequence and the gyro phase: the AHRS port, the recording loop and the keyboard stop.

#include <cstdint>

#include "ahrs/link.hpp"
#include "driver/settings.hpp"
#include "platform/win32.hpp"

namespace driver {

// Exit codes of the process.
constexpr int kExitOk = 0;
constexpr int kExitStartupFailure = 1;  // bad command line, file or port
constexpr int kExitInterrupted = 130;   // Ctrl+C

constexpr uint32_t kNoDataNoticeMs = 2000;  // silence before "no data" is reported
constexpr uint32_t kReopenIntervalMs = 2000;
constexpr uint32_t kFlushIntervalMs = 1000;

enum ReadResult {
    kReadComplete = 1,    // exactly length bytes are stored
    kReadStopped = 0,     // the stop poll asked to end; the partial packet is dropped
    kReadPortFailed = -1  // the port failed (GetLastError tells why)
};

// Stores exactly length bytes from the port at destination, from reads that each wait at most
// about 5 ms. While it waits it calls stop (when not null) and checks that the port is still
// there about every 100 ms, and after 2 s without a byte prints
// "Gyro - no data from the unit, still waiting (press q to stop)\n" once (again only after data
// has flowed and stopped again).
ReadResult read_exact(HANDLE port, uint32_t length, uint8_t* destination, ahrs::StopPoll stop);

// read_exact for at least `minimum` bytes: also takes what else is waiting, up to `maximum` in
// all (maximum >= minimum). *count holds the bytes stored, also when the read ends otherwise.
ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         ahrs::StopPoll stop, uint32_t* count);

// Runs the whole program on the command line and returns the process exit code.
int run(int argc, char** argv);

}  // namespace driver
