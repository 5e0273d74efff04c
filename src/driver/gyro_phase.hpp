#pragma once
// The gyro phase: the recording loop on the open AHRS port until q, an interrupt or a gyro file
// that fails; the reads that serve it.

#include <cstdint>

#include "driver/run_poll.hpp"
#include "driver/settings.hpp"
#include "platform/win32.hpp"

namespace driver {

constexpr uint32_t kNoDataNoticeMs = 2000;  // silence before "no data" is reported
constexpr uint32_t kReopenIntervalMs = 2000;

enum ReadResult {
    kReadQuiet = 2,       // a read brought nothing, and the caller asked to hear of it
    kReadComplete = 1,    // at least the minimum is stored
    kReadStopped = 0,     // the run's poll asked to end; the partial packet is dropped
    kReadPortFailed = -1  // the port failed (GetLastError tells why)
};

// Stores at least `minimum` bytes from the port at destination, and what else is waiting, up to
// `maximum` in all (maximum >= minimum), from reads that each wait at most about 5 ms. *count
// holds the bytes stored, also when the read ends otherwise. While it waits it calls the run's
// poll (when run is not null, taking keys) and checks that the port is still there about every
// 100 ms, and after 2 s without a byte prints
// "Gyro - no data from the unit, still waiting (press q to stop)\n" once (again only after data
// has flowed and stopped again). With quiet_ends, the first read that brings nothing ends it with
// kReadQuiet.
ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         RunPoll* run, uint32_t* count, bool quiet_ends = false);

enum GyroEnd {
    kGyroEnded,       // q or an interrupt ended the phase; every record counted is in the file
    kGyroNoAnswer,    // the unit never answered the start-up exchange (reported)
    kGyroFileFailed,  // the gyro file refused a write or its close (reported)
};

// Runs the gyro phase on the open port with run->gyro's open file: the heading, the start-up
// exchange, the recording loop, then the port and the file closed and the summary line
// "Gyro - %u packets, %u invalid, %u restarts, %u records\n" (not after kGyroNoAnswer).
GyroEnd run_gyro_phase(const RunSettings& settings, HANDLE port, RunPoll* run);

}  // namespace driver
