// The gyro recording loop's bookkeeping.

#include "driver/recording.hpp"

#include <cstring>

#include "ahrs/display.hpp"
#include "ahrs/record.hpp"

namespace driver {
namespace {

constexpr uint32_t kDisplayEvery = 10;  // the live line shows every tenth packet

// Counts a packet read and shows it when its number is a multiple of ten and it was valid.
void count_packet(Recording* r) {
    ++r->counter;
    ++r->in_group;
    if (r->counter % kDisplayEvery == 0 && !r->bad) {
        ahrs::print_packet(r->mode, r->packet);
        r->display_line_open = true;
    }
}

void count_invalid(Recording* r) {
    ++r->failures;
    r->bad = true;
    count_packet(r);
}

}  // namespace

void recording_start(Recording* recording, const RunSettings& settings) {
    *recording = Recording{};
    recording->mode = settings.gyro_mode;
    recording->decimation = settings.decimation;
    recording->dt = settings.dt;
    recording->dos_time = settings.dos_time;
    ahrs::framer_reset(&recording->framer, settings.gyro_mode, 0);
}

void recording_link_ready(Recording* recording, uint32_t length) {
    ahrs::framer_reset(&recording->framer, recording->mode, length);
    if (recording->restart_due) {
        recording->restart_due = false;
        count_invalid(recording);
    } else {
        recording->in_group = 0;
    }
}

RecordingStep recording_step(Recording* r, FILE* file) {
    for (;;) {
        if (r->in_group >= r->decimation) {
            r->in_group = 0;
            if (!r->bad) {
                const int written =
                    ahrs::output_packet(r->mode, r->dt, r->counter, r->packet, r->dos_time, file);
                if (written == ahrs::kRecordWriteFailed) {
                    return kStepWriteFailed;
                }
                r->records += static_cast<uint32_t>(written);
            }
            return kStepGroupDone;
        }
        const uint8_t* framed = nullptr;
        if (!ahrs::framer_next(&r->framer, &framed)) {
            return kStepNeedBytes;
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
        r->display_line_open = false;
        ++r->invalid;
        if (r->failures == kRestartAfterFailures) {
            r->restart_due = true;
            return kStepRestartDue;
        }
        ahrs::framer_reject(&r->framer);
        count_invalid(r);
    }
}

}  // namespace driver
