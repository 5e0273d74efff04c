#pragma once
// The gyro recording: the AHRS port, the packets framed from its bytes, validated, counted, shown
// every tenth, written one record per group of decimation packets to the gyro file, the rule that
// restarts the link on the sixth invalid packet in a row, and the gyro file's write-out to the
// storage device and its write failures.

#include <cstdint>
#include <cstdio>

#include "ahrs/framer.hpp"
#include "driver/settings.hpp"
#include "platform/win32.hpp"

namespace driver {

constexpr uint32_t kRestartAfterFailures = 5;  // the sixth invalid packet in a row restarts

// The gyro file while the run has it open.
struct GyroFile {
    FILE* stream = nullptr;  // null: not open (never opened, or closed)
    const char* name = "";
    uint32_t on_disk = 0;  // records the last completed write-out put on the storage device
    bool failed = false;   // a write or write-out failed: the recording ends as q ends it
};

// The gyro recording of one run. Read its fields; change them only through the functions below
// and the gyro phase, which owns the port, its reads into the framer and the link's restarts.
struct GyroRecording {
    char mode = ahrs::kAngleMode;
    uint32_t decimation = 1;
    double dt = -1.0;
    int32_t dos_time = 0;
    HANDLE port = INVALID_HANDLE_VALUE;  // the AHRS port while it is open
    GyroFile file;
    ahrs::Framer framer;
    uint8_t packet[ahrs::kMaxPacketLength];  // the packet taken last
    uint32_t counter = 0;                    // every packet read, valid or not
    uint32_t failures = 0;                   // invalid packets in a row
    bool bad = false;                        // the packet just read was invalid
    uint32_t in_group = 0;                   // packets of the current group read so far
    bool restart_due = false;  // an invalid packet waits for the link restart it called for
    uint32_t invalid = 0;
    uint32_t restarts = 0;
    uint32_t records = 0;  // records handed to the gyro file's stream
    // When the last two reads that brought bytes ended, and whether the last one took all that
    // was waiting: what tells a fast line (the gyro phase's reads).
    uint32_t last_data_ms = 0;
    uint32_t data_interval_ms = 0;
    bool drained = false;
};

enum GyroStep {
    kGyroNeedBytes,    // give the framer framer_wanted() more bytes
    kGyroGroupDone,    // a group ended (its record written when its last packet was valid)
    kGyroRestartDue,   // restart the link, then call gyro_link_ready
    kGyroWriteFailed,  // the gyro file's stream refused a record
};

// Sets up a run's gyro recording with the settings' mode, decimation and time column: no port, no
// file, no link yet (the framer frames nothing).
void gyro_recording_start(GyroRecording* gyro, const RunSettings& settings);

// The link (re)started and now sends packets of `length` bytes. After a restart the rule called
// for, the invalid packet that called for it is counted on; after the reopening of a lost port,
// the group that was cut short is dropped.
void gyro_link_ready(GyroRecording* gyro, uint32_t length);

// Handles every packet the framer can frame until a group ends, more bytes are needed, the
// restart rule fires or a record cannot be written. Prints check_packet's complaints and the
// live line on standard output; records go to gyro->file.stream.
GyroStep gyro_step(GyroRecording* gyro);

// Creates the gyro file (emptied when it exists). Returns false after
// "Gyro - Error: Can't create the file %s\n" on stderr.
bool open_gyro_file(GyroRecording* gyro, const char* name);

// Writes the records that are new since the last write-out to the storage device
// (platform::flush_to_device); the once-a-second write-out. Does nothing when nothing is new or
// the file has failed. A failure is reported as report_gyro_write_failure reports it; file.on_disk
// counts the records of the last completed write-out.
void write_out_gyro_file(GyroRecording* gyro);

// Reports the first write failure of the gyro file on stderr, "Gyro - Error: can't write the file
// %s: %s\n" with the file's name and the system's reason for errno value `error`; the recording
// then ends as q ends it. Later failures are not reported again.
void report_gyro_write_failure(GyroRecording* gyro, int error);

// Closes the gyro file. With write_out_first (after a recording) its records are first written out
// to the storage device; returns false when they did not all reach it (a write or the write-out
// failed, reported as a write failure, or the close failed: "Gyro - Error: Can't close the
// file\n" on stderr), and file.on_disk then counts the records of the last completed write-out.
// Without it (a file nothing was recorded into) it is closed quietly and the result is
// true. Does nothing but return true when the file is not open.
bool close_gyro_file(GyroRecording* gyro, bool write_out_first);

}  // namespace driver
