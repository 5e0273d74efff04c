#pragma once
// output_packet: one gyro file record per packet group, with its time column.

#include <cstdint>
#include <cstdio>

namespace ahrs {

// Least spacing in seconds of the records written with computed times (-f). Process-wide:
// output_packet reads it and sets it back to 0 when the time column is not a computed time.
extern double time_rate;

// State of the time column, kept from one record to the next for the whole run.
struct TimeColumnState {
    double now_time = 0.0;    // clock reading of the latest call that read the clock, seconds
    uint32_t base_count = 0;  // packet count at the current time anchor
    double base_time = 0.0;   // time at the current time anchor, seconds
    double last_time = 0.0;   // latest computed time that passed the rate test
    bool first_call = true;   // cleared by the first call that computes a time
};

// What the time column of one record is.
struct TimeColumn {
    enum Kind { kCount, kCountAndTime, kSkip } kind;  // kSkip: the rate test drops the record
    uint32_t count;
    double time;  // seconds, for kCountAndTime
};

// Decides the time column of a record from the state and the clock reading (seconds), updating
// the state and time_rate as the record's rules say. Pure but for its arguments.
TimeColumn compute_time_column(TimeColumnState* state, double* time_rate_setting, double dt,
                               uint32_t count, int dos_time, double clock_seconds);

// output_packet's result when the stream refused the record's bytes (a full disk): the record
// may be partly in the file.
constexpr int kRecordWriteFailed = -1;

// Writes the record of one valid packet to the gyro file: the time column, then the converted
// values ("%f"), TAIL_WORD and a line feed. Reads the program clock once when the time column needs
// it. Returns 1 when a record was handed to the stream, 0 when the rate test dropped it or the mode
// is unknown (that case prints "Gyro - unrecognized packet type in output_packet \n" after the time
// column), and kRecordWriteFailed when the stream refused it.
int output_packet(char mode, double dt, uint32_t count, const uint8_t* packet, int dos_time,
                  FILE* file);

// The same with the time-column state and clock reading given: the testable core.
int write_record(TimeColumnState* state, double* time_rate_setting, char mode, double dt,
                 uint32_t count, const uint8_t* packet, int dos_time, double clock_seconds,
                 FILE* file);

}  // namespace ahrs
