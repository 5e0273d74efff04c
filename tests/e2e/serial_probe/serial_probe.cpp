// serial-probe: runs a fixed sequence of serial transfers on one port and prints each result, for
// the end-to-end test that plays the device on the other side of the line (natively on a
// pseudo-terminal, under Wine on a COM port mapped onto one).
//
//   serial-probe PORT        PORT: "COM9", or a device path
//
// Each step that needs bytes from the device first prints "ready <step>"; every step then prints
// one line "<step> <result> <buffer in hex> <elapsed ms> <bytes left waiting>". The device side
// answers each "ready" as the test describes. Exit code 0 when the port opened, else 1.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "serial/port.hpp"
#include "serial/transfer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kUntouched = 0xEE;
// How long the probe waits for bytes the device was asked to send: the test plays the device,
// and a busy machine may keep it from answering at once. Only a hang takes this long.
constexpr int kArrivalMs = 60000;

serial::SerialPort* port = nullptr;

DWORD waiting() {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port->handle, &errors, &stat) ? stat.cbInQue : 0;
}

// Waits until at least `count` bytes are waiting, so the read that follows finds them at once.
void wait_waiting(DWORD count) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kArrivalMs);
    while (waiting() < count && Clock::now() < deadline) {
        Sleep(1);
    }
}

void ready(const char* step) {
    std::printf("ready %s\n", step);
}

// One result line: the step, the result, the first `shown` bytes of the buffer, the elapsed
// milliseconds and the bytes left waiting.
void report(const char* step, int32_t result, const uint8_t* buffer, size_t shown,
            Clock::time_point start) {
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("%s %ld ", step, static_cast<long>(result));
    for (size_t i = 0; i < shown; ++i) {
        std::printf("%02x", buffer[i]);
    }
    if (shown == 0) {
        std::printf("-");
    }
    std::printf(" %lld %lu\n", ms, static_cast<unsigned long>(waiting()));
}

struct Buffer {
    uint8_t bytes[16];
    Buffer() { std::memset(bytes, kUntouched, sizeof bytes); }
    char* text() { return reinterpret_cast<char*>(bytes); }
};

void partial_reads() {
    {
        Buffer b;
        const auto start = Clock::now();
        report("partial-empty", serial::read_port(port, b.bytes, 10, 0), b.bytes, 0, start);
    }
    {
        ready("partial");  // the device sends "abc"
        wait_waiting(3);
        Buffer b;
        const auto start = Clock::now();
        report("partial", serial::read_port(port, b.bytes, 10, 0), b.bytes, 11, start);
    }
    {
        ready("partial-more");  // the device sends 20 bytes
        wait_waiting(20);
        Buffer b;
        const auto start = Clock::now();
        report("partial-more", serial::read_port(port, b.bytes, 10, 0), b.bytes, 11, start);
        (void)serial::purge_port(port, PURGE_RXCLEAR);
    }
}

void whole_read() {
    ready("whole");  // the device sends 4 bytes, then 6 more once it sees "ready whole-rest"
    wait_waiting(4);
    ready("whole-rest");
    Buffer b;
    const auto start = Clock::now();
    report("whole", serial::read_port_whole(port, b.bytes, 10), b.bytes, 16, start);
}

void line_reads() {
    {
        ready("line-strip");  // "AB\r\n"
        Buffer b;
        const auto start = Clock::now();
        report("line-strip", serial::read_port_line(port, b.text(), 8, 1, kArrivalMs), b.bytes, 8,
               start);
    }
    {
        ready("line-keep");  // "AB\r\n"
        Buffer b;
        const auto start = Clock::now();
        report("line-keep", serial::read_port_line(port, b.text(), 8, 0, kArrivalMs), b.bytes, 8,
               start);
    }
    {
        ready("line-long");  // "ABCDEFGHIJ\n"
        wait_waiting(11);
        Buffer b;
        const auto start = Clock::now();
        report("line-long", serial::read_port_line(port, b.text(), 4, 1, 2000), b.bytes, 6, start);
        (void)serial::purge_port(port, PURGE_RXCLEAR);
    }
    {
        Buffer b;
        const auto start = Clock::now();
        report("line-timeout-100", serial::read_port_line(port, b.text(), 8, 1, 100), b.bytes, 0,
               start);
    }
    {
        Buffer b;
        const auto start = Clock::now();
        report("line-timeout-0", serial::read_port_line(port, b.text(), 8, 1, 0), b.bytes, 0,
               start);
    }
}

void byte_read() {
    ready("bytes");  // 00 0a 0d ff 41, one at a time, 40 ms apart
    Buffer b;
    const auto start = Clock::now();
    report("bytes", serial::read_port_bytes(port, b.bytes, 5, kArrivalMs), b.bytes, 6, start);
}

void senders() {
    const uint8_t data[] = {0x01, 0xFF};
    auto start = Clock::now();
    report("send-binary", serial::send_binary(port, data, 2), data, 0, start);
    start = Clock::now();
    report("send-str-empty", serial::send_str(port, ""), data, 0, start);
    start = Clock::now();
    report("send-str", serial::send_str(port, "hello"), data, 0, start);
}

}  // namespace

int main(int argc, char** argv) {
    // Every line reaches a pipe at once (msvcrt buffers a piped stdout fully otherwise).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial-probe PORT\n");
        return 2;
    }
    auto record = std::make_unique<serial::SerialPort>();
    port = record.get();
    const int32_t opened = serial::open_port_named(port, 9600, argv[1]);
    std::printf("open %ld\n", static_cast<long>(opened != 0 ? 1 : 0));
    if (opened == 0) {
        std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    partial_reads();
    whole_read();
    line_reads();
    byte_read();
    senders();
    std::printf("line-error [%s]\n", serial::last_line_error());
    // close_port purges what is still unsent: the device says when it has read everything.
    ready("close");
    uint8_t any = 0;
    (void)serial::read_port_bytes(port, &any, 1, kArrivalMs);
    (void)serial::close_port(port);
    std::printf("done\n");
    return 0;
}
