// serial-probe PORT ("COM9" or a device path): fixed serial transfers for the end-to-end test that
// plays the device. A step that needs the device's bytes prints "ready <step>" first; each prints
// "<step> <result> <buffer in hex> <elapsed ms> <bytes left waiting>". Exit code 1: no port.

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

// Runs one transfer into a fresh buffer and prints its result line, with `shown` bytes of the
// buffer and the time the transfer took.
template <typename Transfer>
void step(const char* name, size_t shown, Transfer transfer) {
    Buffer b;
    const auto start = Clock::now();
    const int32_t result = transfer(b);
    report(name, result, b.bytes, shown, start);
}

void partial_reads() {
    const auto read = [](Buffer& b) { return serial::read_port(port, b.bytes, 10, 0); };
    step("partial-empty", 0, read);
    ready("partial");  // the device sends "abc"
    wait_waiting(3);
    step("partial", 11, read);
    ready("partial-more");  // the device sends 20 bytes
    wait_waiting(20);
    step("partial-more", 11, read);
    (void)serial::purge_port(port, PURGE_RXCLEAR);
}

void whole_read() {
    ready("whole");  // the device sends 4 bytes, then 6 more once it sees "ready whole-rest"
    wait_waiting(4);
    ready("whole-rest");
    step("whole", 16, [](Buffer& b) { return serial::read_port_whole(port, b.bytes, 10); });
}

void line_reads() {
    ready("line-strip");  // "AB\r\n"
    step("line-strip", 8,
         [](Buffer& b) { return serial::read_port_line(port, b.text(), 8, 1, kArrivalMs); });
    ready("line-keep");  // "AB\r\n"
    step("line-keep", 8,
         [](Buffer& b) { return serial::read_port_line(port, b.text(), 8, 0, kArrivalMs); });
    ready("line-long");  // "ABCDEFGHIJ\n"
    wait_waiting(11);
    step("line-long", 6,
         [](Buffer& b) { return serial::read_port_line(port, b.text(), 4, 1, 2000); });
    (void)serial::purge_port(port, PURGE_RXCLEAR);
    step("line-timeout-100", 0,
         [](Buffer& b) { return serial::read_port_line(port, b.text(), 8, 1, 100); });
    step("line-timeout-0", 0,
         [](Buffer& b) { return serial::read_port_line(port, b.text(), 8, 1, 0); });
}

void byte_read() {
    ready("bytes");  // 00 0a 0d ff 41, one at a time, 40 ms apart
    step("bytes", 6,
         [](Buffer& b) { return serial::read_port_bytes(port, b.bytes, 5, kArrivalMs); });
}

void senders() {
    const uint8_t data[] = {0x01, 0xFF};
    step("send-binary", 0, [&](Buffer&) { return serial::send_binary(port, data, 2); });
    step("send-str-empty", 0, [](Buffer&) { return serial::send_str(port, ""); });
    step("send-str", 0, [](Buffer&) { return serial::send_str(port, "hello"); });
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
