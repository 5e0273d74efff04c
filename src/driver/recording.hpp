#pragma once
// The gyro recording loop's bookkeeping, apart from the port: packets framed from the received
// bytes, validated, counted, shown every tenth, written one record per group of decimation
// packets, and the rule that restarts the link on the sixth invalid packet in a row.

#include <cstdint>
#include <cstdio>

#include "ahrs/framer.hpp"
#include "driver/settings.hpp"

namespace driver {

constexpr uint32_t kRestartAfterFailures = 5;  // the sixth invalid packet in a row restarts

struct Recording {
    char mode = ahrs::kAngleMode;
    uint32_t decimation = 1;
    double dt = -1.0;
    int32_t dos_time = 0;
    ahrs::Framer framer;
    uint8_t packet[ahrs::kMaxPacketLength];  // the packet taken last
    uint32_t counter = 0;                    // every packet read, valid or not
    uint32_t failures = 0;                   // invalid packets in a row
    bool bad = false;                        // the packet just read was invalid
    uint32_t in_group = 0;                   // packets of the current group read so far
    bool restart_due = false;  // an invalid packet waits for the link restart it called for
    uint32_t invalid = 0;
    uint32_t restarts = 0;
    uint32_t records = 0;            // records handed to the gyro file's stream
    bool display_line_open = false;  // the live line is on screen, ended by "\r" only
};

enum RecordingStep {
    kStepNeedBytes,    // give the framer framer_wanted() more bytes
    kStepGroupDone,    // a group ended (its record written when its last packet was valid)
    kStepRestartDue,   // restart the link, then call recording_link_ready
    kStepWriteFailed,  // the gyro file's stream refused a record
};

// Sets up the bookkeeping of a run's recording; no link yet (the framer frames nothing).
void recording_start(Recording* recording, const RunSettings& settings);

// The link (re)started and now sends packets of `length` bytes. After a restart the rule called
// for, the invalid packet that called for it is counted on; after the reopening of a lost port,
// the group that was cut short is dropped.
void recording_link_ready(Recording* recording, uint32_t length);

// Handles every packet the framer can frame until a group ends, more bytes are needed, the
// restart rule fires or a record cannot be written. Prints check_packet's complaints and the
// live line on standard output; records go to file.
RecordingStep recording_step(Recording* recording, FILE* file);

}  // namespace driver
