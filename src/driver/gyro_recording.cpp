// The gyro recording: the loop's bookkeeping and the gyro file.

#include "driver/gyro_recording.hpp"

#include <cstring>

#include "ahrs/display.hpp"
#include "ahrs/record.hpp"
#include "driver/display_line.hpp"
#include "platform/files.hpp"

namespace driver {
namespace {

constexpr uint32_t kDisplayEvery = 10;  // the live line shows every tenth packet

// Counts a packet read and shows it when its number is a multiple of ten and it was valid.
void count_packet(GyroRecording* r) {
    ++r->counter;
    ++r->in_group;
    if (r->counter % kDisplayEvery == 0 && !r->bad) {
        ahrs::print_packet(r->mode, r->packet);
        display_line_drawn();
    }
}

void count_invalid(GyroRecording* r) {
    ++r->failures;
    r->bad = true;
    count_packet(r);
}

// Writes the group's record when its last packet was valid; false when the stream refused it.
bool write_group(GyroRecording* r) {
    r->in_group = 0;
    if (r->bad) {
        return true;
    }
    const int written =
        ahrs::output_packet(r->mode, r->dt, r->counter, r->packet, r->dos_time, r->file.stream);
    if (written == ahrs::kRecordWriteFailed) {
        return false;
    }
    r->records += static_cast<uint32_t>(written);
    return true;
}

// Writes the gyro file's records out to the storage device; false after reporting a failure.
// What the last completed write-out covers is what the summary may claim.
bool write_out(GyroRecording* gyro) {
    const uint32_t records = gyro->records;
    const int error = platform::flush_to_device(gyro->file.stream);
    if (error != 0) {
        report_gyro_write_failure(gyro, error);
        return false;
    }
    gyro->file.on_disk = records;
    return true;
}

}  // namespace

void gyro_recording_start(GyroRecording* gyro, const RunSettings& settings) {
    *gyro = GyroRecording{};
    gyro->mode = settings.gyro_mode;
    gyro->decimation = settings.decimation;
    gyro->dt = settings.dt;
    gyro->dos_time = settings.dos_time;
    ahrs::framer_reset(&gyro->framer, settings.gyro_mode, 0);
}

void gyro_link_ready(GyroRecording* gyro, uint32_t length) {
    ahrs::framer_reset(&gyro->framer, gyro->mode, length);
    if (gyro->restart_due) {
        gyro->restart_due = false;
        count_invalid(gyro);
    } else {
        gyro->in_group = 0;
    }
}

GyroStep gyro_step(GyroRecording* r) {
    for (;;) {
        if (r->in_group >= r->decimation) {
            return write_group(r) ? kGyroGroupDone : kGyroWriteFailed;
        }
        const uint8_t* framed = nullptr;
        if (!ahrs::framer_next(&r->framer, &framed)) {
            return kGyroNeedBytes;
        }
        const uint32_t length = r->framer.length;
        std::memcpy(r->packet, framed, length);
        if (ahrs::check_packet(r->mode, r->packet, length) != 0) {
            ahrs::framer_accept(&r->framer);
            r->failures = 0;
            r->bad = false;
            count_packet(r);
            continue;
        }
        // Every rejection message ends its line, so the live line is gone.
        display_line_ended();
        ++r->invalid;
        if (r->failures == kRestartAfterFailures) {
            r->restart_due = true;
            return kGyroRestartDue;
        }
        ahrs::framer_reject(&r->framer);
        count_invalid(r);
    }
}

bool open_gyro_file(GyroRecording* gyro, const char* name) {
    gyro->file = GyroFile{};
    gyro->file.name = name;
    gyro->file.stream = std::fopen(name, "wb");
    if (gyro->file.stream == nullptr) {
        std::fprintf(stderr, "Gyro - Error: Can't create the file %s\n", name);
        return false;
    }
    return true;
}

void write_out_gyro_file(GyroRecording* gyro) {
    if (gyro->file.stream == nullptr || gyro->file.failed || gyro->records == gyro->file.on_disk) {
        return;  // nothing new since the last write-out
    }
    (void)write_out(gyro);
}

void report_gyro_write_failure(GyroRecording* gyro, int error) {
    if (gyro->file.failed) {
        return;
    }
    gyro->file.failed = true;
    end_display_line();
    char what[512];
    std::snprintf(what, sizeof what, "%s: %s", gyro->file.name, std::strerror(error));
    std::fprintf(stderr, "Gyro - Error: can't write the file %s\n", what);
}

bool close_gyro_file(GyroRecording* gyro, bool write_out_first) {
    FILE* stream = gyro->file.stream;
    if (stream == nullptr) {
        return true;
    }
    const bool written = !write_out_first || (!gyro->file.failed && write_out(gyro));
    gyro->file.stream = nullptr;
    if (!written) {
        (void)std::fclose(stream);
        return false;
    }
    if (std::fclose(stream) != 0 && write_out_first) {
        std::fputs("Gyro - Error: Can't close the file\n", stderr);
        return false;
    }
    return true;
}

}  // namespace driver
