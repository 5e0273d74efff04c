#pragma once
// A pseudo-terminal pair for tests: the slave path stands in for a serial device given to the
// code under test, the master end plays the device on the other side of the line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// Opens a pty pair at construction. Both ends are raw (every byte value passes untouched, no
// echo, no translation), set with TCSANOW so nothing already sent is discarded; or, with
// Line::kCooked, the slave keeps the settings a fresh pseudo-terminal has (XON/XOFF output flow
// control, CR to NL translation, echo, line editing, signal characters), as a port a terminal
// program left behind. The pair keeps one descriptor of the slave open, so the line stays up
// while the code under test closes and reopens the slave path; hang_up() (or the destructor)
// closes both ends.
class Pty {
public:
    enum class Line { kRaw, kCooked };

    explicit Pty(Line line = Line::kRaw);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // True when the pair was opened; error() says why not.
    bool ok() const { return master_ >= 0; }
    const std::string& error() const { return error_; }

    // The master descriptor (-1 after hang_up) and the slave's path, such as "/dev/pts/3".
    int master_fd() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // Writes all bytes to the master, waiting up to timeout_ms for room. Returns true when every
    // byte was written.
    bool write(const void* data, size_t size, int timeout_ms = 2000);
    bool write(const std::vector<uint8_t>& bytes, int timeout_ms = 2000) {
        return write(bytes.data(), bytes.size(), timeout_ms);
    }

    // Reads from the master until `count` bytes have arrived or timeout_ms has passed since the
    // call; returns what arrived (fewer than count on time-out or hang-up).
    std::vector<uint8_t> read(size_t count, int timeout_ms = 2000);

    // Returns what arrives within quiet_ms of silence (at most `limit` bytes): for collecting
    // output whose length is not known.
    std::vector<uint8_t> read_until_quiet(int quiet_ms, size_t limit = 1 << 20);

    // Closes the master and the held slave descriptor: the slave side sees a hang-up, as when a
    // USB serial adapter is unplugged.
    void hang_up();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
    std::string error_;
};

}  // namespace test_support
