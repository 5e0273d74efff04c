// The gyro file records and their time column.

#include "ahrs/record.hpp"

#include "ahrs/packet.hpp"
#include "ahrs/reading.hpp"
#include "format/fixed.hpp"
#include "platform/console.hpp"

namespace ahrs {

double time_rate = 0.0;

namespace {

// A computed time that lags the clock by more than this many packet intervals is re-anchored on
// the clock: packets were lost, or the unit runs slower than dt says.
constexpr double kReanchorIntervals = 4.0;

// The time-column state of the one AHRS stream of the run.
TimeColumnState g_time_column;

// A record line under construction: the characters of "%u ", "%f " and so on, written to the
// file in one piece. Formatting by hand keeps the recording path far ahead of the line rate.
struct Line {
    char text[512];
    size_t length = 0;

    void add_unsigned(uint32_t value, char end) {
        length += format::format_unsigned(value, text + length);
        text[length++] = end;
    }
    void add_value(double value, char end) {  // "%f" and end
        length += format::format_fixed(value, 6, text + length);
        text[length++] = end;
    }
};

}  // namespace

TimeColumn compute_time_column(TimeColumnState* state, double* time_rate_setting, double dt,
                               uint32_t count, int dos_time, double clock_seconds) {
    if (dos_time != 0) {
        state->now_time = clock_seconds;
        *time_rate_setting = 0.0;
        return {TimeColumn::kCountAndTime, count, state->now_time};
    }
    if (dt < 0.0) {
        *time_rate_setting = 0.0;
        return {TimeColumn::kCount, count, 0.0};
    }

    state->now_time = clock_seconds;
    if (state->first_call) {
        state->base_time = state->now_time;
        state->last_time = state->now_time;
        state->first_call = false;
    }
    // The count difference is unsigned, so a counter that wrapped past the anchor still counts on.
    const uint32_t packets_since_anchor = count - state->base_count;
    double t = static_cast<double>(packets_since_anchor) * dt + state->base_time;
    if (t - state->last_time < *time_rate_setting) {
        return {TimeColumn::kSkip, count, t};
    }
    state->last_time = t;
    if (dt * kReanchorIntervals + t < state->now_time) {
        state->base_count = count;
        state->base_time = state->now_time;
        t = state->now_time;
        state->last_time = state->now_time;
    }
    return {TimeColumn::kCountAndTime, count, t};
}

int write_record(TimeColumnState* state, double* time_rate_setting, char mode, double dt,
                 uint32_t count, const uint8_t* packet, int dos_time, double clock_seconds,
                 FILE* file) {
    const TimeColumn column =
        compute_time_column(state, time_rate_setting, dt, count, dos_time, clock_seconds);
    if (column.kind == TimeColumn::kSkip) {
        return 0;
    }
    Line line;
    line.add_unsigned(column.count, ' ');
    if (column.kind == TimeColumn::kCountAndTime) {
        line.add_value(column.time, ' ');
    }

    AhrsReading reading;
    if (!decode_packet(mode, packet, &reading)) {
        const bool written = std::fwrite(line.text, 1, line.length, file) == line.length;
        std::printf("Gyro - unrecognized packet type in output_packet \n");
        return written ? 0 : kRecordWriteFailed;
    }
    double values[kMaxReadingValues];
    const size_t n = reading_values(mode, reading, values);
    for (size_t i = 0; i < n; ++i) {
        line.add_value(values[i], ' ');
    }
    line.add_unsigned(reading.tail_word, '\n');
    return std::fwrite(line.text, 1, line.length, file) == line.length ? 1 : kRecordWriteFailed;
}

int output_packet(char mode, double dt, uint32_t count, const uint8_t* packet, int dos_time,
                  FILE* file) {
    // Counts alone need no clock.
    const double clock_seconds = dos_time != 0 || dt >= 0.0 ? platform::elapsed_ms() / 1000.0 : 0.0;
    return write_record(&g_time_column, &time_rate, mode, dt, count, packet, dos_time,
                        clock_seconds, file);
}

}  // namespace ahrs
