// Fuzz target: the gyro recording path on any byte stream, cut into reads of random sizes with
// silences of the line between some of them: framing and the search for the boundary, validation,
// the restart rule, decoding and the records. A stand-in port answers every restart at once with
// the mode's packet length. Besides what the sanitizers catch, the framer must never hold more than
// it has room for nor ask for more than that, the counts must agree with one another, and every
// record must be one whole line of the mode's field count.
//
// Input: byte 0 picks the mode (a, c, r), byte 1 the decimation (1 to 4) and whether the time
// column carries computed times, bytes 2 and 3 seed the read sizes; the rest is the stream.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "ahrs/framer.hpp"
#include "ahrs/packet.hpp"
#include "driver/gyro_recording.hpp"
#include "scratch_file.hpp"

namespace {

constexpr char kModes[] = {'a', 'c', 'r'};
constexpr size_t kHeaderBytes = 4;

// Fields of one record: the count, a time with computed times, the values, TAIL_WORD.
size_t fields_of(char mode, bool timed) {
    return (mode == 'a' ? 15u : 12u) + (timed ? 1u : 0u);
}

void check_records(const char* text, size_t length, size_t fields, uint32_t records) {
    uint32_t lines = 0;
    size_t in_line = 1;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') {
            fuzz::check(in_line == fields);
            ++lines;
            in_line = 1;
        } else if (text[i] == ' ') {
            ++in_line;
        }
    }
    fuzz::check(length == 0 || text[length - 1] == '\n');
    fuzz::check(lines == records);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes) {
        return 0;
    }
    driver::RunSettings settings;
    settings.gyro_mode = kModes[data[0] % 3];
    settings.decimation = 1u + (data[1] & 3u);
    const bool timed = (data[1] & 4u) != 0;
    settings.dt = timed ? 0.01 : -1.0;
    std::minstd_rand sizes(static_cast<uint32_t>(data[2] << 8 | data[3]) + 1u);
    const uint8_t* stream = data + kHeaderBytes;
    const size_t stream_size = size - kHeaderBytes;
    const uint32_t length = ahrs::packet_length_of(settings.gyro_mode);

    char* text = nullptr;
    size_t text_length = 0;
    FILE* file = open_memstream(&text, &text_length);
    fuzz::check(file != nullptr);

    static driver::GyroRecording recording;
    driver::gyro_recording_start(&recording, settings);
    recording.file.stream = file;
    driver::gyro_link_ready(&recording, length);
    unsigned restarts = 0;
    size_t at = 0;
    for (bool more = true; more;) {
        switch (driver::gyro_step(&recording)) {
            case driver::kGyroNeedBytes: {
                // Now and then the line falls silent: the framer decides with what it holds.
                if (sizes() % 8 == 0 && ahrs::framer_line_quiet(&recording.framer)) {
                    break;
                }
                const uint32_t wanted = ahrs::framer_wanted(recording.framer);
                fuzz::check(wanted >= 1);
                fuzz::check(recording.framer.size + wanted <= ahrs::kFramerCapacity);
                size_t piece = 1 + sizes() % 64;
                piece = std::min({piece, stream_size - at, size_t{wanted}});
                std::memcpy(ahrs::framer_space(&recording.framer), stream + at, piece);
                ahrs::framer_received(&recording.framer, static_cast<uint32_t>(piece));
                at += piece;
                more = piece > 0;
                break;
            }
            case driver::kGyroRestartDue:
                fuzz::check(recording.failures == driver::kRestartAfterFailures);
                ++restarts;
                driver::gyro_link_ready(&recording, length);
                break;
            case driver::kGyroGroupDone:
                break;
            case driver::kGyroWriteFailed:
                fuzz::check(false);
                break;
        }
        fuzz::check(recording.framer.size <= ahrs::kFramerCapacity);
    }
    std::fclose(file);

    // A valid packet takes a packet length of the stream's bytes and an invalid one at least one
    // byte of its own; a restart needs six invalid packets in a row.
    fuzz::check(recording.invalid <= recording.counter);
    const uint64_t valid = recording.counter - recording.invalid;
    fuzz::check(valid * length + recording.invalid <= stream_size);
    fuzz::check(restarts * (driver::kRestartAfterFailures + 1) <= recording.invalid);
    fuzz::check(recording.records <= valid);
    fuzz::check(recording.records <= recording.counter / settings.decimation);
    check_records(text, text_length, fields_of(settings.gyro_mode, timed), recording.records);
    std::free(text);
    return 0;
}
