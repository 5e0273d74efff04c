#include "laser/laser_phase.hpp"

#include <cstdio>
#include <cstring>

#include "laser/binding.hpp"
#include "laser/export.hpp"
#include "laser/hsif_api.hpp"
#include "laser/samples.hpp"
#include "platform/console.hpp"
#include "platform/library.hpp"
#include "platform/win32.hpp"
#include "serial/port.hpp"

namespace laser {
namespace {

// Exit statuses of the phase, which the run sequence returns as the process's.
constexpr int kPhaseComplete = 0;  // all lines captured, or stopped by q
constexpr int kPhaseFailed = 2;    // the library, a set-up step, the capture or the file failed
constexpr int kPhaseInterrupted = 130;  // Ctrl+C

constexpr int32_t kNoCard = -1;
constexpr int32_t kControlBaud = 9600;
constexpr char kInitCommand[] = "I";  // sent to the laser once its port is open
constexpr char kCalibrationFile[] = "LOOKUPHS";
constexpr int32_t kSamplePeriodMode = 0;
constexpr int32_t kPollMode = 1;
constexpr int32_t kEncodersToClear = 3;  // both encoders
constexpr int32_t kEncoderClearValue = 1;
constexpr int32_t kMirrorEncoder = 1;
constexpr int32_t kMirrorCountsPerTurn = 4096;
constexpr int32_t kPanEncoder = 2;
constexpr int32_t kPanCountsPerTurn = 200;
constexpr int32_t kEncoderOffset = 0;
constexpr int32_t kWaitForSamples = 1;
constexpr int32_t kMotorOff = 0;

constexpr DWORD kPortSettleMs = 200;
// The mirror's spin-up time. The message has always said 20 seconds; five are enough.
constexpr DWORD kMirrorWaitMs = 5000;
// Sleeps are cut into slices so that the run's poll is called at least this often (Ctrl+C ends
// them within this time).
constexpr DWORD kSleepSliceMs = 100;

// The length GetModuleFileNameA is given (the platform's MAX_PATH).
constexpr DWORD kModulePathLength = 260;

// The laser control port's record, filled by the library's port-open entry point and left in
// place until close_port. The record's holder reserves more than the record needs.
union PortStorage {
    serial::SerialPort record;
    unsigned char bytes[serial::kSerialPortStorage];
};
static_assert(sizeof(PortStorage) >= serial::kSerialPortStorage);
PortStorage port_storage;

// What the clean-up has to release.
struct Phase {
    FILE* laser_file = nullptr;  // open until save_samples takes it
    bool port_opened = false;
    int32_t card = kNoCard;
};

void say(FILE* stream, const char* text) {
    std::fputs(text, stream);
    std::fflush(stream);
}

// Sleeps for milliseconds, calling the poll (without taking keys) between slices; less when it
// asks to end.
void sleep_polling(DWORD milliseconds, const platform::Poll& poll) {
    while (milliseconds > 0 && !poll(false)) {
        const DWORD slice = milliseconds < kSleepSliceMs ? milliseconds : kSleepSliceMs;
        Sleep(slice);
        milliseconds -= slice;
    }
}

// The first HsifSetSamplePeriod failed: says why, as far as the card tells.
void diagnose_sample_period(int32_t card) {
    int32_t model = 0;
    if (hsif_api.HsifGetCardModel(card, &model) == 0) {
        say(stderr, "Unknown Hsif card model.\n");
        return;
    }
    int32_t min_period = 0;
    if (hsif_api.HsifGetMinSamplePeriod(card, &min_period) == 0) {
        say(stderr, "Unknown minimum sample period.\n");
        return;
    }
    // Model 0 is the 50 kHz card; every other model is the 200 kHz one.
    std::fprintf(stderr, "The AR4000 %d KHz model minimum sample period is %d us.\n",
                 model != 0 ? 200 : 50, static_cast<int>(min_period));
    std::fflush(stderr);
}

// Binds the library, creates the laser file, opens port and card and configures them. Returns
// true when the card is ready for the motor; otherwise the failure has been reported.
bool set_up(const LaserSettings& settings, const platform::Poll& poll, Phase* phase) {
    HMODULE library = load_hsif_library();
    if (library == nullptr) {
        char file_name[kModulePathLength];
        std::fprintf(stderr, "Unable to load %s\n",
                     platform::library_file_name(hsif_library_name(), file_name, sizeof file_name));
        std::fflush(stderr);
        return false;
    }
    // One byte more than the length given keeps the text terminated whatever the call does.
    char path[kModulePathLength + 1] = {};
    GetModuleFileNameA(library, path, kModulePathLength);
    std::fprintf(stdout, "Using DLL: %s\n\n", path);
    std::fflush(stdout);

    hsif_api.HsifDllInit();
    say(stdout, "after hsifdllinit\n");

    phase->laser_file = std::fopen(settings.laser_file, "w");
    if (phase->laser_file == nullptr) {
        std::fprintf(stderr, "Error: Can't create the file %s\n", settings.laser_file);
        std::fflush(stderr);
        return false;
    }

    std::memset(&port_storage, 0, sizeof port_storage);
    serial::SerialPort* port = &port_storage.record;
    if (hsif_api.HsifOpenPort(port, kControlBaud, settings.laser_port) == 0) {
        say(stderr, "Error: Serial Comm port open failed.\n");
        return false;
    }
    phase->port_opened = true;
    hsif_api.HsifSendStr(port, kInitCommand);
    sleep_polling(kPortSettleMs, poll);
    say(stderr, "Opened high speed interface.\n");

    phase->card = hsif_api.HsifOpen(settings.board_number, port);
    if (phase->card == kNoCard) {
        say(stderr, "Error: HsifOpen failed.\n");
        return false;
    }
    const int32_t card = phase->card;
    if (hsif_api.HsifResetBoard(card) == 0) {
        say(stderr, "Error: HsifResetBoard failed.\n");
        return false;
    }
    if (hsif_api.HsifLoadCalibrationData(card, kCalibrationFile) == 0) {
        say(stdout, "ERROR: Could not read calibration file\n");
        return false;
    }

    std::fprintf(stdout, "max range %d sample period %d\n", static_cast<int>(settings.max_range),
                 static_cast<int>(settings.sample_period));
    std::fflush(stdout);
    if (hsif_api.HsifSetSamplePeriod(card, kSamplePeriodMode, settings.max_range,
                                     settings.sample_period) == 0) {
        say(stderr, "HsifSetSamplePeriod failed.\n");
        diagnose_sample_period(card);
        return false;
    }

    say(stderr, "HISF Card Calibration\n");
    hsif_api.HsifSetPollMode(card, kPollMode);
    hsif_api.HsifClearSampleBuffer(card);
    if (hsif_api.HsifCalibrate(card) != 1) {
        say(stderr, "Error: Could not get calibration value **\n");
        return false;
    }
    say(stderr, "SamplingModeInit\n");
    if (hsif_api.HsifSamplingModeInit(card) != 1) {
        say(stderr, "Error: Could not initialize sampling mode\n");
        return false;
    }
    if (hsif_api.HsifClearEncoder(card, kEncodersToClear, kEncoderClearValue) != 1) {
        say(stderr, "Error: Failed to clear encoder1\n");
        return false;
    }
    if (hsif_api.HsifCalibrateEncoder(card, kMirrorEncoder, kEncoderOffset, kMirrorCountsPerTurn) !=
        1) {
        say(stderr, "Error: Failed to set encoder1\n");
        return false;
    }
    if (hsif_api.HsifCalibrateEncoder(card, kPanEncoder, kEncoderOffset, kPanCountsPerTurn) != 1) {
        say(stderr, "Error: Failed to set encoder2\n");
        return false;
    }

    std::fprintf(stderr, "max_range %d sample_period %d\n", static_cast<int>(settings.max_range),
                 static_cast<int>(settings.sample_period));
    std::fflush(stderr);
    // This time only exactly 1 means the card took range and period.
    if (hsif_api.HsifSetSamplePeriod(card, kSamplePeriodMode, settings.max_range,
                                     settings.sample_period) != 1) {
        say(stderr, "Error: Failed to set sample and range\n");
        return false;
    }
    return true;
}

enum CaptureEnd {
    kCaptureDone,    // all lines captured, or stopped by the key or Ctrl+C
    kCaptureFailed,  // the card delivered no line, or a line timed out
};

// Captures up to total lines into the sample array; *remaining counts down as the lines go and
// *captured ends as the number of whole lines kept. After each line the poll takes a key; when
// it asks to end (q, an interrupt) the capture ends before the next line.
CaptureEnd capture(int32_t card, int32_t total, const platform::Poll& poll, int32_t* remaining,
                   int32_t* captured) {
    *remaining = total;
    *captured = 0;
    bool stop = false;
    for (;;) {
        if (stop) {
            return kCaptureDone;
        }
        if (*remaining == 0) {
            *remaining = -1;
            return kCaptureDone;
        }
        --*remaining;
        const int32_t line = total - *remaining - 1;
        std::fprintf(stderr, "lines = %d\n", static_cast<int>(*remaining));
        std::fflush(stderr);

        int32_t samples_read = 0;
        if (hsif_api.HsifGetBufferedSamples(card, raw_sample_buffer, kSamplesPerLine, &samples_read,
                                            kWaitForSamples) == 0) {
            say(stdout, "ERROR: Buffer overflow flag not getting set.\n");
            return kCaptureFailed;
        }
        std::fprintf(stderr, "numRead %d\n", static_cast<int>(samples_read));
        std::fflush(stderr);

        if ((raw_sample_buffer[kSamplesPerLine - 1].words[0] & kLostDataFlag) != 0) {
            hsif_api.HsifClearSampleBuffer(card);
            hsif_api.HsifSamplingEnable(card);
            say(stderr, "data lost\n");
        }

        // Always a whole line, whatever the count said: the line keeps its place in the array.
        LaserSample* first = &sample_array[static_cast<size_t>(line) * kSamplesPerLine];
        const int32_t result =
            hsif_api.HsifProcessSamples(card, raw_sample_buffer, first, kSamplesPerLine);
        std::fprintf(stderr, "result = %d\n", static_cast<int>(result));
        std::fflush(stderr);
        if (first->timeout != 0) {
            say(stdout, "ERROR: Sample measurement timeout!\n");
            return kCaptureFailed;
        }
        *captured = line + 1;
        stop = poll(true);
    }
}

// Runs the phase up to the clean-up; returns its exit status.
int run_steps(const LaserSettings& settings, const platform::Poll& poll, Phase* phase) {
    if (!set_up(settings, poll, phase)) {
        return kPhaseFailed;
    }
    // Ctrl+C during the set-up: the motor is not started at all.
    if (platform::interrupted()) {
        return kPhaseInterrupted;
    }

    const int32_t card = phase->card;
    // From the motor's start until it has stopped and the lines are saved, Ctrl+C never ends
    // the program at once: the motor would run on and the laser file be cut short. While the
    // motor runs nothing is written to disk: what the run's poll reads is held in memory.
    platform::hold_interrupts(true);
    poll.hold(true);
    hsif_api.HsifSetMotorPower(card, settings.motor_number, settings.motor_power);
    say(stderr, "Waiting (20 sec.) for mirror to move\n");
    sleep_polling(kMirrorWaitMs, poll);

    // The array holds kMaxLines lines; the count is checked at start-up, and kept inside here.
    int32_t total = settings.lines;
    if (total < 0) {
        total = 0;
    } else if (total > kMaxLines) {
        total = kMaxLines;
    }
    int32_t remaining = total;
    int32_t captured = 0;
    CaptureEnd end = kCaptureDone;
    if (!platform::interrupted()) {
        say(stderr, "Clear Sample Buffer\n");
        hsif_api.HsifClearSampleBuffer(card);
        hsif_api.HsifSamplingEnable(card);
        say(stderr, "Sampling Enable\n");
        say(stderr, "Begin sampling\n");
        end = capture(card, total, poll, &remaining, &captured);
    }

    if (end == kCaptureDone) {
        say(stderr, "End sampling\n");
        std::fprintf(stderr, "Sampling Lines counter: %d\n", static_cast<int>(remaining));
        std::fflush(stderr);
    }
    hsif_api.HsifSetMotorPower(card, settings.motor_number, kMotorOff);
    poll.hold(false);
    if (end == kCaptureDone) {
        say(stderr, "Saving Data,Please Waiting\n");
    }
    const bool saved = save_samples(captured, phase->laser_file);
    phase->laser_file = nullptr;
    platform::hold_interrupts(false);

    if (end == kCaptureFailed || !saved) {
        return kPhaseFailed;
    }
    return platform::interrupted() ? kPhaseInterrupted : kPhaseComplete;
}

// Releases what the phase opened, and only that. The library stays loaded.
void clean_up(Phase* phase) {
    if (phase->laser_file != nullptr) {
        // The phase ended before the save: the file stays created and empty.
        std::fclose(phase->laser_file);
        phase->laser_file = nullptr;
    }
    if (phase->port_opened) {
        serial::close_port(&port_storage.record);
        phase->port_opened = false;
    }
    if (phase->card != kNoCard) {
        hsif_api.HsifClose(phase->card);
        phase->card = kNoCard;
    }
}

}  // namespace

int run_laser_phase(const LaserSettings& settings, const platform::Poll& poll) {
    Phase phase;
    const int status = run_steps(settings, poll, &phase);
    clean_up(&phase);
    return status;
}

}  // namespace laser
