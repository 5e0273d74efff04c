#pragma once
// Helpers for the serial conformance tests: opening a pty's slave as the gyro phase or the serial
// port module opens its port, and timing a call.

#include <chrono>
#include <string>

#include "driver/gyro_port.hpp"
#include "owned_handle.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"

namespace platform_test {

// Opens `path` as the gyro phase does: read and write, exclusive, existing device, system
// attribute. Returns INVALID_HANDLE_VALUE on failure.
inline HANDLE open_port(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_SYSTEM, 0);
}

// Sets the read time-outs {interval, multiplier, constant}; both write time-outs 0.
inline bool set_read_timeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

// Applies the gyro phase's line settings (read the DCB, driver::set_gyro_line, write it back)
// and read time-outs {MAXDWORD, MAXDWORD, 5} (the write time-outs stay 0, as on a fresh port).
// Returns false if any call fails.
inline bool configure_like_gyro_phase(HANDLE port, DWORD baud = 38400) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        return false;
    }
    driver::set_gyro_line(&dcb, baud);
    return SetCommState(port, &dcb) && set_read_timeouts(port, MAXDWORD, MAXDWORD, 5);
}

using testsupport::OwnedHandle;

// How a test opens its pseudo-terminal's slave: as the gyro phase opens its port (open_port), or
// as the serial port module does (overlapped, exclusive, existing device).
enum class Opening { kGyro, kOverlapped };

// A pseudo-terminal with its slave open as a port, closed when it goes out of scope; a test
// asserts error() is "" before it uses get() and pty().
class OpenPort {
public:
    explicit OpenPort(Opening opening = Opening::kGyro,
                      test_support::Pty::Line line = test_support::Pty::Line::kRaw)
        : pty_(line), handle_(pty_.ok() ? open(opening) : INVALID_HANDLE_VALUE) {
        if (!pty_.ok()) {
            error_ = pty_.error();
        } else if (handle_.get() == INVALID_HANDLE_VALUE) {
            error_ =
                "cannot open " + pty_.slave_path() + ": error " + std::to_string(GetLastError());
        }
    }

    // Empty when the port is open, else why not.
    const std::string& error() const { return error_; }
    HANDLE get() const { return handle_.get(); }
    test_support::Pty& pty() { return pty_; }

private:
    HANDLE open(Opening opening) const {
        if (opening == Opening::kGyro) {
            return open_port(pty_.slave_path());
        }
        return CreateFileA(pty_.slave_path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
    }

    test_support::Pty pty_;
    OwnedHandle handle_;
    std::string error_;
};

// Milliseconds since construction, from the monotonic clock.
class Stopwatch {
public:
    double ms() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The last error a call leaves when it fails, cleared before the call; kSucceeded, which is no
// error code, when the call succeeds.
constexpr DWORD kSucceeded = 0xFFFFFFFF;
template <typename Call>
DWORD failure_of(Call call) {
    SetLastError(0);
    return call() ? kSucceeded : GetLastError();
}

// Waits up to two seconds until count bytes are waiting on the port; true when exactly count are.
inline bool wait_waiting(HANDLE port, DWORD count) {
    Stopwatch watch;
    COMSTAT stat{};
    while (ClearCommError(port, nullptr, &stat) && stat.cbInQue < count) {
        if (watch.ms() > 2000) {
            return false;
        }
        Sleep(2);
    }
    return stat.cbInQue == count;
}

}  // namespace platform_test
