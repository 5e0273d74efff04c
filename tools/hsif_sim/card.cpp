// The card's entry points: open and close, set-up, the scanner's motors and encoders, sampling
// paced by the sample period, and the conversion of raw entries into laser samples.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "entry_points.hpp"
#include "simulator.hpp"

using hsif_sim::Call;
using hsif_sim::Card;
using hsif_sim::Text;

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The card's buffer holds this many samples; DataAvailable never reports more.
constexpr int64_t kBufferSamples = 16 * laser::kSamplesPerLine;

// Sensible settings: ranges up to 200 feet, boards 0 to 15, periods up to a tenth of a second.
constexpr int32_t kMaxRange = 2400;
constexpr int32_t kMaxBoard = 15;
constexpr int32_t kMaxPeriod = 100000;
constexpr int32_t kFpgaVersion = 0x0312;
constexpr int32_t kDpcReadMicroseconds = 12;
constexpr int32_t kCalibrationValue = 2048;

// Samples a lost line drops halfway: 20 ms at 20 us, 0.4 of a mirror turn, so the jump shows in
// the mirror angle.
constexpr int32_t kLostSamples = 1000;

// Range noise (inches), amplitude noise, temperature noise (degrees F), one standard deviation.
constexpr double kRangeNoise = 0.08;
constexpr double kAmplitudeNoise = 12.0;
constexpr double kTemperatureNoise = 0.02;

// The open card whose handle this is, or null.
Card* card_for(int32_t handle) {
    Card& card = hsif_sim::simulator().card;
    return card.open && card.handle == handle ? &card : nullptr;
}

int64_t floor_mod(int64_t value, int64_t divisor) {
    const int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

// The angle (radians, 0 up to 2 pi) an encoder reports for a count, as calibrated.
double encoder_angle(const hsif_sim::Encoder& encoder, uint16_t count) {
    return static_cast<double>(floor_mod(count - encoder.offset, encoder.per_turn)) * kTwoPi /
           encoder.per_turn;
}

// Samples the card has gathered and not yet delivered, by the real time since its buffer was
// last emptied.
int64_t samples_waiting(const Card& card) {
    const double speedup = hsif_sim::simulator().config.speedup;
    if (!card.sampling) {
        return 0;
    }
    if (speedup <= 0.0) {
        return kBufferSamples;
    }
    const auto elapsed =
        std::chrono::duration<double, std::micro>(hsif_sim::Clock::now() - card.filling_since);
    const auto gathered = static_cast<int64_t>(elapsed.count() * speedup / card.period);
    return std::clamp<int64_t>(gathered - card.delivered, 0, kBufferSamples);
}

void empty_buffer(Card* card) {
    card->filling_since = hsif_sim::Clock::now();
    card->delivered = 0;
}

// Moves the scanner on by one sample period and measures: one raw entry.
RawSample next_sample(Card* card) {
    const double dt = card->period * 1e-6;
    const double mirror_speed =
        hsif_sim::kMirrorTurnsPerSecond * card->mirror_power / hsif_sim::kFullPower;
    const double pan_speed = hsif_sim::kPanTurnsPerSecond * card->pan_power / hsif_sim::kFullPower;
    const double mirror_before = card->mirror_turns;
    const double pan_before = card->pan_turns;
    card->mirror_turns += mirror_speed * dt;
    card->pan_turns += pan_speed * dt;
    card->seconds += dt;

    hsif_sim::RawFields f;
    // An encoder's index pulse comes once a turn, where the turn count changes.
    f.index1 = std::floor(card->mirror_turns) != std::floor(mirror_before);
    f.index2 = std::floor(card->pan_turns) != std::floor(pan_before);
    const auto mirror_pulses =
        static_cast<int64_t>(std::floor(card->mirror_turns * hsif_sim::kMirrorCountsPerTurn));
    const auto pan_pulses =
        static_cast<int64_t>(std::floor(card->pan_turns * hsif_sim::kPanCountsPerTurn));
    f.mirror_count = static_cast<uint16_t>(
        floor_mod(mirror_pulses - card->encoders[0].cleared_at, card->encoders[0].per_turn));
    f.pan_count = static_cast<uint16_t>(
        floor_mod(pan_pulses - card->encoders[1].cleared_at, card->encoders[1].per_turn));

    // The beam leaves along the angles the encoders report for this sample (the pan head steps
    // from count to count), so a sample's angles and distance put its echo on the room's
    // surfaces (docs/geometry.md).
    const hsif_sim::Echo echo =
        hsif_sim::room_echo(encoder_angle(card->encoders[0], f.mirror_count),
                            encoder_angle(card->encoders[1], f.pan_count));
    double inches = echo.inches + kRangeNoise * card->noise.normal();
    double amplitude = echo.amplitude + kAmplitudeNoise * card->noise.normal();
    const double temperature = 68.6 + 2.6 * (1.0 - std::exp(-card->seconds / 240.0)) +
                               kTemperatureNoise * card->noise.normal();
    // Beyond the range set there is no echo to measure: the reading stops at the range.
    if (!card->laser_on || inches > card->max_range) {
        inches = card->max_range;
        amplitude = 0.0;
    }
    f.raw_range = hsif_sim::inches_to_raw(card->calibration, inches);
    f.amplitude16 = static_cast<uint16_t>(std::lround(std::clamp(amplitude, 0.0, 4095.0) * 16.0));
    f.temperature100 =
        static_cast<uint16_t>(std::lround(std::clamp(temperature, 0.0, 655.0) * 100));
    f.sequence = static_cast<uint16_t>(card->sequence++ & 0xFFFFu);
    return hsif_sim::pack(f);
}

}  // namespace

extern "C" {

int32_t HSIF_CALL HsifDllInit(void) {
    hsif_sim::reinitialise();
    Call call("HsifDllInit");
    return call.finish(call.injected() || hsif_sim::refused() ? 0 : 1);
}

int32_t HSIF_CALL HsifOpen(int32_t board, SerialPort* port) {
    Call call("HsifOpen", board, port);
    Card& card = hsif_sim::simulator().card;
    // The card answers through the laser control port, so that must be open.
    if (call.injected() || board < 0 || board > kMaxBoard || port == nullptr ||
        port->is_open == 0 || (card.open && card.board != board)) {
        return call.finish(-1);
    }
    if (!card.open) {
        card.open = true;
        card.board = board;
        card.handle = board + 100;
        hsif_sim::reset_card(&card);
    }
    return call.finish(card.handle);
}

int32_t HSIF_CALL HsifClose(int32_t handle) {
    Call call("HsifClose", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->open = false;
    card->handle = -1;
    card->sampling = false;
    card->mirror_power = 0;
    card->pan_power = 0;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSamplingModeInit(int32_t handle) {
    Call call("HsifSamplingModeInit", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->sampling_ready = true;
    card->sampling = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifResetBoard(int32_t handle) {
    Call call("HsifResetBoard", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    hsif_sim::reset_card(card);
    return call.finish(1);
}

int32_t HSIF_CALL HsifProcessSamples(int32_t handle, RawSample* raw, LaserSample* samples,
                                     int32_t count) {
    Call call("HsifProcessSamples", handle, raw, samples, count);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || raw == nullptr || samples == nullptr || count < 0) {
        return call.finish(0);
    }
    for (int32_t i = 0; i < count; ++i) {
        const hsif_sim::RawFields f = hsif_sim::unpack(raw[i]);
        LaserSample sample{};
        sample.flags = static_cast<uint16_t>((f.index1 ? 0x4u : 0u) | (f.index2 ? 0x8u : 0u));
        sample.angle1 = encoder_angle(card->encoders[0], f.mirror_count);
        sample.angle2 = encoder_angle(card->encoders[1], f.pan_count);
        sample.distance = std::clamp(hsif_sim::raw_to_inches(card->calibration, f.raw_range), 0.0,
                                     static_cast<double>(card->max_range));
        sample.temperature = f.temperature100 / 100.0;
        sample.amplitude = f.amplitude16 / 16.0;
        sample.timeout = f.timeout ? 1u : 0u;
        sample.raw_range = f.raw_range;
        samples[i] = sample;
    }
    return call.finish(count);
}

int32_t HSIF_CALL HsifLoadCalibrationData(int32_t handle, const char* file_name) {
    Call call("HsifLoadCalibrationData", handle, Text{file_name});
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || file_name == nullptr || *file_name == '\0') {
        return call.finish(0);
    }
    const std::string& dir = hsif_sim::simulator().config.calibration_dir;
    if (hsif_sim::load_calibration(file_name, &card->calibration) ||
        (!dir.empty() && hsif_sim::load_calibration(dir + "/" + file_name, &card->calibration))) {
        return call.finish(1);
    }
    return call.finish(0);
}

int32_t HSIF_CALL HsifSetSamplePeriod(int32_t handle, int32_t mode, int32_t max_range,
                                      int32_t period) {
    Call call("HsifSetSamplePeriod", handle, mode, max_range, period);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || (mode != 0 && mode != 1) || max_range < 1 ||
        max_range > kMaxRange || period < hsif_sim::simulator().config.min_period ||
        period > kMaxPeriod) {
        return call.finish(0);
    }
    card->mode = mode;
    card->max_range = max_range;
    card->period = period;
    return call.finish(1);
}

int32_t HSIF_CALL HsifLaserOn(int32_t handle) {
    Call call("HsifLaserOn", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->laser_on = true;
    return call.finish(1);
}

int32_t HSIF_CALL HsifLaserOff(int32_t handle) {
    Call call("HsifLaserOff", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->laser_on = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSamplingEnable(int32_t handle) {
    Call call("HsifSamplingEnable", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || !card->sampling_ready) {
        return call.finish(0);
    }
    if (!card->sampling) {
        card->sampling = true;
        empty_buffer(card);
    }
    return call.finish(1);
}

int32_t HSIF_CALL HsifSamplingDisable(int32_t handle) {
    Call call("HsifSamplingDisable", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->sampling = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifClearOverflow(int32_t handle) {
    Call call("HsifClearOverflow", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->overflow = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifClearSampleBuffer(int32_t handle) {
    Call call("HsifClearSampleBuffer", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    empty_buffer(card);
    card->overflow = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifDataAvailable(int32_t handle) {
    Call call("HsifDataAvailable", handle);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    return call.finish(static_cast<int32_t>(samples_waiting(*card)));
}

int32_t HSIF_CALL HsifGetOverflowStatus(int32_t handle) {
    Call call("HsifGetOverflowStatus", handle);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    return call.finish(card->overflow ? 1 : 0);
}

int32_t HSIF_CALL HsifSetMotorPower(int32_t handle, int32_t motor, int32_t power) {
    Call call("HsifSetMotorPower", handle, motor, power);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || motor < 1 || motor > 2 || power < 0 ||
        power > hsif_sim::kFullPower) {
        return call.finish(0);
    }
    // Motor 1 drives the scanning head: the mirror, and the pan through its gearing; motor 2
    // drives the pan alone.
    if (motor == 1) {
        card->mirror_power = power;
    }
    card->pan_power = power;
    return call.finish(1);
}

int32_t HSIF_CALL HsifClearEncoder(int32_t handle, int32_t encoders, int32_t value) {
    Call call("HsifClearEncoder", handle, encoders, value);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || encoders < 1 || encoders > 3 || value < 0 ||
        value > 1) {
        return call.finish(0);
    }
    // Bit 0 selects the mirror encoder, bit 1 the pan encoder; value 1 zeroes their counters
    // where the motors stand now, value 0 leaves them counting.
    if (value == 1) {
        if ((encoders & 1) != 0) {
            card->encoders[0].cleared_at = static_cast<int64_t>(
                std::floor(card->mirror_turns * hsif_sim::kMirrorCountsPerTurn));
        }
        if ((encoders & 2) != 0) {
            card->encoders[1].cleared_at =
                static_cast<int64_t>(std::floor(card->pan_turns * hsif_sim::kPanCountsPerTurn));
        }
    }
    return call.finish(1);
}

int32_t HSIF_CALL HsifCalibrateEncoder(int32_t handle, int32_t encoder, int32_t offset,
                                       int32_t per_turn) {
    Call call("HsifCalibrateEncoder", handle, encoder, offset, per_turn);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || encoder < 1 || encoder > 2 || per_turn < 1 ||
        per_turn > 65535 || offset < 0 || offset >= per_turn) {
        return call.finish(0);
    }
    card->encoders[encoder - 1].per_turn = per_turn;
    card->encoders[encoder - 1].offset = offset;
    return call.finish(1);
}

int32_t HSIF_CALL HsifCalibrate(int32_t handle) {
    Call call("HsifCalibrate", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->calibrated = true;
    card->cal_value = kCalibrationValue;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetBufferedSamples(int32_t handle, RawSample* raw, int32_t count,
                                         int32_t* read, int32_t wait) {
    Call call("HsifGetBufferedSamples", handle, raw, count, read, wait);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || raw == nullptr || read == nullptr || count < 0 ||
        !card->sampling) {
        return call.finish(0);
    }
    const hsif_sim::Simulator& sim = hsif_sim::simulator();
    if (sim.config.speedup > 0.0) {
        // The card gathers one sample per period from the moment its buffer was emptied; the
        // call returns when the last of these `count` samples has been gathered.
        const double ready_us =
            static_cast<double>(card->delivered + count) * card->period / sim.config.speedup;
        const auto ready =
            card->filling_since + std::chrono::duration_cast<hsif_sim::Clock::duration>(
                                      std::chrono::duration<double, std::micro>(ready_us));
        if (hsif_sim::Clock::now() < ready) {
            if (wait == 0) {
                *read = 0;
                return call.finish(1);
            }
            std::this_thread::sleep_until(ready);
        }
    }
    if (count == 0) {
        *read = 0;
        return call.finish(1);
    }
    const int64_t line = card->lines++;
    const bool lost = hsif_sim::contains(sim.config.lost_lines, line);
    for (int32_t i = 0; i < count; ++i) {
        // A lost line: the card's buffer overflowed halfway, the samples of that time never
        // reach the host and the scanner moves on, so the line's angles jump there.
        if (lost && i == count / 2) {
            for (int32_t k = 0; k < kLostSamples; ++k) {
                next_sample(card);
            }
        }
        raw[i] = next_sample(card);
    }
    card->delivered += count;
    if (hsif_sim::contains(sim.config.timeout_lines, line)) {
        raw[0].words[0] |= 0x2u;
    }
    if (lost) {
        raw[count - 1].words[0] |= laser::kLostDataFlag;
        card->overflow = true;
    }
    *read = count;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSetPollMode(int32_t handle, int32_t poll) {
    Call call("HsifSetPollMode", handle, poll);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->poll_mode = poll != 0;
    return call.finish(1);
}

int32_t HSIF_CALL HsifAddFunc(int32_t a, int32_t b) {
    Call call("HsifAddFunc", a, b);
    if (call.injected()) {
        return call.finish(0);
    }
    // Wraps as the card's 32-bit adder does.
    return call.finish(static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)));
}

int32_t HSIF_CALL HsifGetCardModel(int32_t handle, int32_t* model) {
    Call call("HsifGetCardModel", handle, model);
    if (call.injected() || card_for(handle) == nullptr || model == nullptr) {
        return call.finish(0);
    }
    *model = hsif_sim::simulator().config.model;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetMinSamplePeriod(int32_t handle, int32_t* period) {
    Call call("HsifGetMinSamplePeriod", handle, period);
    if (call.injected() || card_for(handle) == nullptr || period == nullptr) {
        return call.finish(0);
    }
    *period = hsif_sim::simulator().config.min_period;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetFPGAVersion(int32_t handle, int32_t* version) {
    Call call("HsifGetFPGAVersion", handle, version);
    if (call.injected() || card_for(handle) == nullptr || version == nullptr) {
        return call.finish(0);
    }
    *version = kFpgaVersion;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSetSampleDiv(int32_t handle, int32_t divisor) {
    Call call("HsifSetSampleDiv", handle, divisor);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || divisor < 1 || divisor > 65535) {
        return call.finish(0);
    }
    card->sample_div = divisor;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSetRangeDiv(int32_t handle, int32_t divisor) {
    Call call("HsifSetRangeDiv", handle, divisor);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || divisor < 1 || divisor > 65535) {
        return call.finish(0);
    }
    card->range_div = divisor;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetCalValue(int32_t handle, int32_t* value) {
    Call call("HsifGetCalValue", handle, value);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || value == nullptr) {
        return call.finish(0);
    }
    *value = card->cal_value;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSetCalValue(int32_t handle, int32_t value) {
    Call call("HsifSetCalValue", handle, value);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->cal_value = value;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetResolution(int32_t handle, int32_t* resolution) {
    Call call("HsifGetResolution", handle, resolution);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || resolution == nullptr) {
        return call.finish(0);
    }
    // Raw bits per inch over the whole calibrated span.
    const hsif_sim::CalibrationRow& first = card->calibration.rows.front();
    const hsif_sim::CalibrationRow& last = card->calibration.rows.back();
    *resolution = static_cast<int32_t>(
        std::lround(static_cast<double>(last.raw - first.raw) / (last.inches - first.inches)));
    return call.finish(1);
}

int32_t HSIF_CALL HsifRaw2Range(int32_t handle, int32_t raw, double* inches) {
    Call call("HsifRaw2Range", handle, raw, inches);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || inches == nullptr) {
        return call.finish(0);
    }
    // The raw reading is an unsigned 32-bit value carried in a signed argument.
    *inches = hsif_sim::raw_to_inches(card->calibration, static_cast<uint32_t>(raw));
    return call.finish(1);
}

int32_t HSIF_CALL HsifClearL1OverflowFlag(int32_t handle) {
    Call call("HsifClearL1OverflowFlag", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->overflow = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifReadWord(int32_t handle, int32_t offset, int32_t* value) {
    Call call("HsifReadWord", handle, offset, value);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || value == nullptr || offset < 0 ||
        offset >= static_cast<int32_t>(card->registers.size())) {
        return call.finish(0);
    }
    *value = card->registers[static_cast<size_t>(offset)];
    return call.finish(1);
}

int32_t HSIF_CALL HsifWriteWord(int32_t handle, int32_t offset, int32_t value) {
    Call call("HsifWriteWord", handle, offset, value);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || offset < 0 ||
        offset >= static_cast<int32_t>(card->registers.size())) {
        return call.finish(0);
    }
    card->registers[static_cast<size_t>(offset)] = value;
    return call.finish(1);
}

int32_t HSIF_CALL HsifDisableInterrupts(int32_t handle) {
    Call call("HsifDisableInterrupts", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->interrupts = false;
    return call.finish(1);
}

int32_t HSIF_CALL HsifEnableInterrupts(int32_t handle) {
    Call call("HsifEnableInterrupts", handle);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr) {
        return call.finish(0);
    }
    card->interrupts = true;
    return call.finish(1);
}

int32_t HSIF_CALL HsifSetSampleEnBit(int32_t handle, int32_t enable) {
    Call call("HsifSetSampleEnBit", handle, enable);
    Card* card = card_for(handle);
    if (call.injected() || card == nullptr || (enable != 0 && !card->sampling_ready)) {
        return call.finish(0);
    }
    if (enable != 0 && !card->sampling) {
        empty_buffer(card);
    }
    card->sampling = enable != 0;
    return call.finish(1);
}

int32_t HSIF_CALL HsifBenchPciRead(int32_t handle, int32_t reads) {
    Call call("HsifBenchPciRead", handle, reads);
    const Card* card = card_for(handle);
    if (call.injected() || card == nullptr || reads < 0) {
        return call.finish(0);
    }
    // Reads the register file `reads` times, as the bus benchmark does.
    volatile int32_t sink = 0;
    for (int32_t i = 0; i < reads; ++i) {
        sink = card->registers[static_cast<size_t>(i) % card->registers.size()];
    }
    (void)sink;
    return call.finish(1);
}

int32_t HSIF_CALL HsifGetDpcReadTime(int32_t handle, int32_t* microseconds) {
    Call call("HsifGetDpcReadTime", handle, microseconds);
    if (call.injected() || card_for(handle) == nullptr || microseconds == nullptr) {
        return call.finish(0);
    }
    *microseconds = kDpcReadMicroseconds;
    return call.finish(1);
}

}  // extern "C"
