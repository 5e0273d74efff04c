// Throughput of the gyro recording path: bytes read from a pseudo-terminal as the recording loop
// reads them (at least what the framer asks for, and what else is waiting), packets framed,
// validated, counted, converted and written to a file by the recording loop's bookkeeping, with a
// writer thread feeding angle-mode packets as fast as the terminal takes them. Prints packets per
// second and the ratio to the packet rate of a 921600 baud line (3072 packets/s of 30 bytes, 10
// bits per byte on the line). The goal is a ratio of at least 100.

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
#include <thread>
#include <vector>

#include "ahrs/framer.hpp"
#include "ahrs/packet.hpp"
#include "driver/gyro_phase.hpp"
#include "driver/recording.hpp"
#include "platform/win32.hpp"

namespace {

constexpr double kLinePacketsPerSecond = 921600.0 / 10.0 / ahrs::kAnglePacketLength;
constexpr double kGoalRatio = 100.0;

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

}  // namespace

int main(int argc, char** argv) {
    const uint32_t packets = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 300000;

    int master = -1;
    int slave = -1;
    char slave_path[128];
    if (openpty(&master, &slave, slave_path, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    HANDLE port = CreateFileA(slave_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_SYSTEM, HANDLE{});
    close(slave);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %u\n", slave_path, GetLastError());
        return 1;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 5, 0, 0};
    SetCommTimeouts(port, &timeouts);

    const std::vector<uint8_t> block = make_packets(1000);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load()) {
            size_t off = 0;
            while (off < block.size() && !done.load()) {
                ssize_t n = write(master, block.data() + off, block.size() - off);
                if (n > 0) {
                    off += static_cast<size_t>(n);
                } else {
                    pollfd writable{master, POLLOUT, 0};
                    poll(&writable, 1, 10);
                }
            }
        }
    });

    FILE* out = std::tmpfile();
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    driver::RunSettings settings;
    static driver::Recording recording;
    driver::recording_start(&recording, settings);
    driver::recording_link_ready(&recording, ahrs::kAnglePacketLength);
    // The live line goes out every tenth packet, as in a run, but not onto this report.
    std::fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    const int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    auto start = std::chrono::steady_clock::now();
    while (recording.counter < packets) {
        if (driver::recording_step(&recording, out) == driver::kStepNeedBytes) {
            ahrs::Framer& framer = recording.framer;
            uint32_t got = 0;
            driver::read_at_least(port, ahrs::framer_wanted(framer), ahrs::framer_room(framer),
                                  ahrs::framer_space(&framer), nullptr, &got);
            ahrs::framer_received(&framer, got);
        }
    }
    const uint32_t valid = recording.counter - recording.invalid;
    std::fflush(stdout);
    dup2(console, STDOUT_FILENO);
    close(console);
    close(null_device);
    std::fflush(out);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long bytes = std::ftell(out);
    done = true;
    writer.join();
    CloseHandle(port);
    close(master);
    std::fclose(out);

    double rate = packets / seconds;
    double ratio = rate / kLinePacketsPerSecond;
    std::printf("recording path: %u packets (%u valid, %ld bytes of records) in %.3f s\n", packets,
                valid, bytes, seconds);
    std::printf("packets per second: %.0f\n", rate);
    std::printf("ratio to a 921600 baud line (%.0f packets/s): %.1f (goal %.0f)\n",
                kLinePacketsPerSecond, ratio, kGoalRatio);
    return valid == packets ? 0 : 1;
}
