#include "laser/laser_phase.hpp"

#include <cstdio>
#include <cstring>

#include "laser/binding.hpp"
#include "laser/card_setup.hpp"
#include "laser/export.hpp"
#include "laser/hsif_api.hpp"
#include "laser/samples.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/library.hpp"
#include "platform/win32.hpp"
#include "serial/port.hpp"

namespace laser {
namespace {

// Exit statuses of the phase, which the run sequence returns as the process's.
constexpr int kPhaseComplete = 0;  // all lines captured, or stopped by q
constexpr int kPhaseFailed = 2;    // the library, a set-up step, the capture or the file failed

constexpr int32_t kNoCard = -1;
constexpr int32_t kControlBaud = 9600;
constexpr char kInitCommand[] = "I";  // sent to the laser once its port is open
constexpr int32_t kWaitForSamples = 1;
constexpr int32_t kMotorOff = 0;

constexpr DWORD kPortSettleMs = 200;
// The mirror's spin-up time. The message has always said 20 seconds; five are enough.
constexpr DWORD kMirrorWaitMs = 5000;

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
    FILE* laser_file = nullptr;  // created by the set-up, closed by close_laser_file
    bool port_opened = false;
    int32_t card = kNoCard;
};

// Sleeps for milliseconds, calling the poll (without taking keys) between slices; less when it
// asks to end.
void sleep_polling(DWORD milliseconds, const platform::Poll& poll) {
    while (milliseconds > 0 && !poll(false)) {
        const DWORD slice =
            milliseconds < platform::kPollIntervalMs ? milliseconds : platform::kPollIntervalMs;
        Sleep(slice);
        milliseconds -= slice;
    }
}

// Binds the library and says which file it is. False when it cannot be bound (reported).
bool bind_library() {
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
    return true;
}

// Opens the laser control port through the library and greets the laser; on success the port
// is left for the clean-up to close.
bool open_control_port(const LaserSettings& settings, const platform::Poll& poll, Phase* phase) {
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
    return true;
}

// Binds the library, creates the laser file, opens port and card (each left for the clean-up to
// release) and configures the card step by step. Returns true when the card is ready for the
// motor; otherwise the failure has been reported.
bool set_up(const LaserSettings& settings, const platform::Poll& poll, Phase* phase) {
    if (!bind_library()) {
        return false;
    }
    phase->laser_file = std::fopen(settings.laser_file, "w");
    if (phase->laser_file == nullptr) {
        std::fprintf(stderr, "Error: Can't create the file %s\n", settings.laser_file);
        std::fflush(stderr);
        return false;
    }
    if (!open_control_port(settings, poll, phase)) {
        return false;
    }
    phase->card = hsif_api.HsifOpen(settings.board_number, &port_storage.record);
    if (phase->card == kNoCard) {
        say(stderr, "Error: HsifOpen failed.\n");
        return false;
    }
    return configure_card(settings, phase->card);
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

// Closes the laser file, which `written` says holds everything it should. Returns true when it
// does and the close succeeded; otherwise says "Error: Can't close the file" (the file is then
// short).
bool close_laser_file(Phase* phase, bool written) {
    FILE* file = phase->laser_file;
    phase->laser_file = nullptr;
    if (std::fclose(file) != 0 || !written) {
        say(stderr, "Error: Can't close the file\n");
        return false;
    }
    return true;
}

// Writes the captured lines to the laser file, then out to the storage device (the file counts
// as saved only once its data is there), and closes it. Returns true when every byte reached the
// device.
bool save_laser_file(int32_t lines, Phase* phase) {
    const bool written =
        save_samples(lines, phase->laser_file) && platform::flush_to_device(phase->laser_file) == 0;
    return close_laser_file(phase, written);
}

// Runs the phase up to the clean-up; returns its exit status.
int run_steps(const LaserSettings& settings, const platform::Poll& poll, Phase* phase) {
    if (!set_up(settings, poll, phase)) {
        return kPhaseFailed;
    }
    // Ctrl+C during the set-up: the motor is not started at all.
    if (platform::interrupted()) {
        return platform::kExitInterrupted;
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

    const int32_t total = lines_in_array(settings.lines);
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
    const bool saved = save_laser_file(captured, phase);
    platform::hold_interrupts(false);

    if (end == kCaptureFailed || !saved) {
        return kPhaseFailed;
    }
    return platform::interrupted() ? platform::kExitInterrupted : kPhaseComplete;
}

// Releases what the phase opened, and only that. The library stays loaded.
void clean_up(Phase* phase) {
    if (phase->laser_file != nullptr) {
        // The phase ended before the save: the file stays created and empty.
        (void)close_laser_file(phase, true);
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
