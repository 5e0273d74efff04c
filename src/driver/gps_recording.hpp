#pragma once
// The GPS receiver's recording: the GPS file, the port opened beside the gyro port, the bytes
// taken at every poll of the run into the file, the notices of a silent or lost receiver, the
// hold while the scanner runs, and the summary.

#include <cstdint>

#include "driver/settings.hpp"
#include "gps/log.hpp"
#include "gps/sentence.hpp"
#include "platform/win32.hpp"

namespace driver {

constexpr uint32_t kGpsSilenceNoticeMs = 5000;  // no sentence this long: one notice

// The GPS recording of one run. Read its fields; change them only through the functions below.
struct GpsRecording {
    const RunSettings* settings = nullptr;
    const char* file_name = "";
    gps::Log log;  // the GPS file's writer; log.file null: no GPS file open
    gps::Splitter splitter;
    HANDLE port = INVALID_HANDLE_VALUE;
    bool recording = false;   // the port opened: the receiver is recorded until end_gps
    bool port_lost = false;   // the port failed; reopened every 2 s
    uint32_t lost_ms = 0;     // when the port failed, or the last attempt to reopen it
    uint32_t checked_ms = 0;  // when the port was last asked whether it is still there
    uint32_t last_sentence_ms = 0;
    bool silence_reported = false;
};

// The size of the GPS port's input queue for a run: what the receiver sends at gps_baud during
// the longest wait between two polls (one laser line, 5000 times sample_period microseconds, and
// a second to spare), at least 4096 bytes and at most 1 MiB.
DWORD gps_queue_size(const RunSettings& settings);

// Creates the GPS file (emptied when it exists) and the writer's hold buffer. Returns false after
// "GPS - Error: Can't create the file %s\n" on stderr.
bool create_gps_file(GpsRecording* gps, const RunSettings& settings);

// Opens the GPS port (after the gyro port) at the time `now` (the run's clock in milliseconds):
// read only, the line of the gps_* settings, binary clean, the input queue of gps_queue_size, reads
// that never wait. Every failure is told in one line on stderr and leaves the run without GPS; the
// GPS file stays empty:
// - gps_port names the gyro port or the laser control port ("COM" and laser_port): not opened;
// - it cannot be opened or set up: "GPS - could not open serial port %s, %d: recording without
//   GPS\n" with the system's error code.
void start_gps(GpsRecording* gps, uint32_t now);

// Takes what the GPS port has waiting, without ever waiting for more, and writes each piece of
// it into the GPS file (or the hold) with the time `now` (the run's clock in milliseconds); called
// by every poll of the run.
// Reports a port that fails ("GPS - lost the serial port, %d\n" on stderr, once per loss) and
// reopens it every 2 s, quietly; after 5 s without a valid sentence it prints one notice on
// stdout, again only after sentences have come and stopped. A GPS file that refuses a write is
// reported once ("GPS - Error: can't write the file %s\n") and ends the GPS recording.
void receive_gps(GpsRecording* gps, uint32_t now);

// Writes the GPS file's new lines out to the storage device (the once-a-second write-out); a
// failure is reported as receive_gps reports it.
void flush_gps_file(GpsRecording* gps);

// From held on, lines are kept in memory (the scanner's motor runs); when the hold ends (at `now`)
// they are written, then "#lost" when the hold buffer overflowed.
void hold_gps(GpsRecording* gps, bool held, uint32_t now);

// Ends the GPS recording on any way out, at `now`: takes what is still waiting, closes the port,
// writes the last piece and the held lines, writes the file out to the storage device, closes it,
// and prints "GPS - %u sentences, %u invalid, %u fixes\n" on stdout when the port was opened.
// Returns false when the GPS file failed (reported). Called again, it does nothing and returns
// true.
bool end_gps(GpsRecording* gps, uint32_t now);

}  // namespace driver
