#pragma once
// The gyro phase: the recording loop on the open AHRS port until q, an interrupt or a gyro file
// that fails; the reads that serve it.

#include <cstdint>

#include "driver/gyro_recording.hpp"
#include "driver/settings.hpp"
#include "platform/poll.hpp"
#include "platform/win32.hpp"

namespace driver {

constexpr uint32_t kNoDataNoticeMs = 2000;  // silence before "no data" is reported

enum ReadResult {
    kReadQuiet = 2,       // a read brought nothing, and the caller asked to hear of it
    kReadComplete = 1,    // at least the minimum is stored
    kReadStopped = 0,     // the run's poll asked to end; the partial packet is dropped
    kReadPortFailed = -1  // the port failed (GetLastError tells why)
};

// Stores at least `minimum` bytes from the port at destination, and what else is waiting, up to
// `maximum` in all (maximum >= minimum), from reads that each wait at most about 5 ms. *count
// holds the bytes stored, also when the read ends otherwise. While it waits it calls poll (taking
// keys) and checks that the port is still there about every 100 ms, and after 2 s without a byte
// prints "Gyro - no data from the unit, still waiting (press q to stop)\n" once (again only after
// data has flowed and stopped again). With quiet_ends, the first read that brings nothing ends it
// with kReadQuiet.
ReadResult read_at_least(HANDLE port, uint32_t minimum, uint32_t maximum, uint8_t* destination,
                         const platform::Poll& poll, uint32_t* count, bool quiet_ends = false);

// Runs the gyro phase on gyro's open port (gyro->port) and file: the heading, the start-up
// exchange, the recording loop until poll asks to end it or the gyro file fails, then the port
// closed. The file stays open for the run to close. Returns false when the unit never answered
// the start-up exchange (reported: "Gyro - no answer from the unit on %s\n").
bool run_gyro_phase(const RunSettings& settings, GyroRecording* gyro, const platform::Poll& poll);

// Prints the phase's summary line, "Gyro - %u packets, %u invalid, %u restarts, %u records\n",
// the records counted being those the gyro file's last completed write-out put on the disk.
void print_gyro_summary(const GyroRecording& gyro);

}  // namespace driver
