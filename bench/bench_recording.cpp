// Throughput of the gyro recording path: bytes read from a pseudo-terminal as the recording loop
// reads them (at least what the framer asks for, and what else is waiting), packets framed,
// validated, counted, converted and written to a file by the recording loop's bookkeeping, with a
// writer thread feeding angle-mode packets as fast as the terminal takes them, and the run's poll
// after the groups as often as the recording loop calls it. Measured twice in one run: without a
// GPS receiver, and with one streaming NMEA sentences at a full 9600 baud line on a second
// pseudo-terminal, which the poll records into a GPS file. Prints packets per second and the
// ratio to the packet rate of a 921600 baud line (3072 packets/s of 30 bytes, 10 bits per byte on
// the line) for each. The goal is a ratio of at least 100 with the GPS receiver.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ahrs/framer.hpp"
#include "ahrs/packet.hpp"
#include "driver/gyro_phase.hpp"
#include "driver/gyro_recording.hpp"
#include "driver/run_poll.hpp"
#include "platform/console.hpp"
#include "platform/win32.hpp"

namespace {

constexpr double kLinePacketsPerSecond = 921600.0 / 10.0 / ahrs::kAnglePacketLength;
constexpr double kGoalRatio = 100.0;
constexpr uint32_t kPollIntervalMs = 10;  // the recording loop's poll after a group
// A 9600 baud line carries 960 bytes a second: 96 every 100 ms.
constexpr size_t kGpsBytesPerTick = 96;
constexpr auto kGpsTick = std::chrono::milliseconds(100);
constexpr const char* kSentence =
    "$GPGGA,093001.00,4822.98004,N,00429.69999,W,1,09,1.0,12.0,M,50.0,M,,*4B\r\n";

// A pseudo-terminal: the far end (master, non-blocking) and the port's path.
struct Terminal {
    int master = -1;
    char path[128] = {};
};

bool open_terminal(Terminal* terminal) {
    int slave = -1;
    if (openpty(&terminal->master, &slave, terminal->path, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    close(slave);
    termios raw{};
    tcgetattr(terminal->master, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal->master, TCSANOW, &raw);
    fcntl(terminal->master, F_SETFL, fcntl(terminal->master, F_GETFL) | O_NONBLOCK);
    return true;
}

// Writes all of bytes to the far end of a terminal, waiting while it is full, until done.
void write_all(int master, const uint8_t* bytes, size_t size, const std::atomic<bool>& done) {
    size_t off = 0;
    while (off < size && !done.load()) {
        ssize_t n = write(master, bytes + off, size - off);
        if (n > 0) {
            off += static_cast<size_t>(n);
        } else {
            pollfd writable{master, POLLOUT, 0};
            poll(&writable, 1, 10);
        }
    }
}

struct Result {
    double seconds = 0;
    uint32_t valid = 0;
    long bytes = 0;
    uint32_t sentences = 0;
    uint32_t invalid_sentences = 0;
};

// A block of valid angle-mode packets with changing values.
std::vector<uint8_t> make_packets(int count) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        uint8_t packet[ahrs::kAnglePacketLength] = {ahrs::kHeaderByte};
        for (uint32_t k = 1; k + 1 < ahrs::kAnglePacketLength; ++k) {
            packet[k] = static_cast<uint8_t>((i * 7 + static_cast<int>(k) * 13) & 0xFF);
        }
        packet[ahrs::kAnglePacketLength - 1] =
            ahrs::packet_checksum(packet, ahrs::kAnglePacketLength);
        bytes.insert(bytes.end(), packet, packet + ahrs::kAnglePacketLength);
    }
    return bytes;
}

// Records `packets` packets from a terminal fed as fast as it takes them; with_gps: a second
// terminal streams sentences at 9600 baud into the run's GPS recording.
bool measure(uint32_t packets, bool with_gps, Result* result) {
    Terminal gyro;
    Terminal receiver;
    if (!open_terminal(&gyro) || (with_gps && !open_terminal(&receiver))) {
        return false;
    }
    HANDLE port = CreateFileA(gyro.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_SYSTEM, HANDLE{});
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %u\n", gyro.path, GetLastError());
        return false;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 5, 0, 0};
    SetCommTimeouts(port, &timeouts);

    driver::RunSettings settings;
    char gps_path[] = "/tmp/bench-gps-XXXXXX";
    const int gps_fd = mkstemp(gps_path);
    if (gps_fd < 0) {
        std::perror("mkstemp");
        return false;
    }
    close(gps_fd);
    settings.gps_file = gps_path;
    settings.gps_port = receiver.path;
    static driver::GyroRecording recording;
    static driver::GpsRecording gps;
    gps = driver::GpsRecording{};
    driver::RunPoll run{driver::kIdleKey, 0, &recording, &gps};
    if (with_gps) {
        if (!driver::create_gps_file(&gps, settings)) {
            return false;
        }
        driver::start_gps(&gps, platform::elapsed_ms());
    }

    const std::vector<uint8_t> block = make_packets(1000);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load()) {
            write_all(gyro.master, block.data(), block.size(), done);
        }
    });
    std::thread gps_writer([&] {
        const std::string text = kSentence;
        size_t at = 0;
        auto next = std::chrono::steady_clock::now();
        while (with_gps && !done.load()) {
            uint8_t tick[kGpsBytesPerTick];
            for (uint8_t& byte : tick) {
                byte = static_cast<uint8_t>(text[at]);
                at = (at + 1) % text.size();
            }
            write_all(receiver.master, tick, sizeof tick, done);
            next += kGpsTick;
            std::this_thread::sleep_until(next);
        }
    });

    FILE* out = std::tmpfile();
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    driver::gyro_recording_start(&recording, settings);
    recording.file.stream = out;
    driver::gyro_link_ready(&recording, ahrs::kAnglePacketLength);
    // The live line goes out every tenth packet, as in a run, but not onto this report.
    std::fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    const int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    const platform::Poll poll = driver::make_poll(&run);
    auto start = std::chrono::steady_clock::now();
    uint32_t last_poll = platform::elapsed_ms();
    while (recording.counter < packets) {
        const driver::GyroStep step = driver::gyro_step(&recording);
        if (step == driver::kGyroNeedBytes) {
            ahrs::Framer& framer = recording.framer;
            uint32_t got = 0;
            driver::read_at_least(port, ahrs::framer_wanted(framer), ahrs::framer_room(framer),
                                  ahrs::framer_space(&framer), poll, &got);
            ahrs::framer_received(&framer, got);
        } else if (step == driver::kGyroGroupDone &&
                   platform::elapsed_ms() - last_poll >= kPollIntervalMs) {
            (void)driver::poll_run(&run, false);
            last_poll = platform::elapsed_ms();
        }
    }
    std::fflush(out);
    result->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result->valid = recording.counter - recording.invalid;
    result->bytes = std::ftell(out);
    done = true;
    writer.join();
    gps_writer.join();
    // The GPS recording's summary line goes where the live line went.
    const bool gps_complete = driver::end_gps(&gps, platform::elapsed_ms());
    result->sentences = gps.log.sentences;
    result->invalid_sentences = gps.log.invalid;
    std::fflush(stdout);
    dup2(console, STDOUT_FILENO);
    close(console);
    close(null_device);
    CloseHandle(port);
    close(gyro.master);
    if (with_gps) {
        close(receiver.master);
    }
    std::fclose(out);
    std::remove(gps_path);
    return gps_complete;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t packets = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 300000;
    bool ok = true;
    double gps_ratio = 0;
    for (const bool with_gps : {false, true}) {
        Result r;
        if (!measure(packets, with_gps, &r)) {
            return 1;
        }
        const double rate = packets / r.seconds;
        const double ratio = rate / kLinePacketsPerSecond;
        std::printf("recording path%s: %u packets (%u valid, %ld bytes of records) in %.3f s\n",
                    with_gps ? " with a GPS receiver at 9600 baud" : "", packets, r.valid, r.bytes,
                    r.seconds);
        if (with_gps) {
            std::printf("GPS sentences recorded: %u (%u invalid)\n", r.sentences,
                        r.invalid_sentences);
            gps_ratio = ratio;
            ok = ok && r.sentences > 0;
        }
        std::printf(
            "packets per second: %.0f; ratio to a 921600 baud line (%.0f packets/s): %.1f\n", rate,
            kLinePacketsPerSecond, ratio);
        ok = ok && r.valid == packets;
    }
    std::printf("ratio with the GPS receiver: %.1f (goal %.0f)\n", gps_ratio, kGoalRatio);
    return ok ? 0 : 1;
}
