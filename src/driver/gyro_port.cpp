// The gyro port: opening the AHRS serial device and its line settings.

#include "driver/gyro_port.hpp"

#include <cstdio>

#include "driver/serial_line.hpp"

namespace driver {
namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kReadTimeoutMs = 5;  // each read waits at most this long for its first byte
constexpr BYTE kDataBits = 8;        // the unit's packets are bytes: 8N1

}  // namespace

void set_gyro_line(DCB* dcb, DWORD baud) {
    set_binary_line(dcb, baud, kDataBits, NOPARITY, ONESTOPBIT);
}

HANDLE open_gyro_port(const RunSettings& settings, bool report) {
    HANDLE port = CreateFileA(settings.gyro_port, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, HANDLE{});
    if (port == INVALID_HANDLE_VALUE) {
        if (report) {
            std::printf("Gyro - could not open serial port, %d\n",
                        static_cast<int>(GetLastError()));
        }
        return INVALID_HANDLE_VALUE;
    }

    const char* failure = nullptr;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    COMMTIMEOUTS timeouts{};
    if (!SetupComm(port, kQueueSize, kQueueSize)) {
        failure = "Gyro - error setting up comm: %d\n";
    } else if (!GetCommState(port, &dcb)) {
        failure = "Gyro - error getting comm: %d\n";
    } else {
        set_gyro_line(&dcb, static_cast<DWORD>(settings.gyro_baud));
        if (!SetCommState(port, &dcb)) {
            failure = "Gyro - error setting comm: %d\n";
        } else if (!GetCommTimeouts(port, &timeouts)) {
            failure = " Gyro - error getting comm timeouts:%d/n";
        } else {
            // Reads return at once with what is waiting, else after the first byte or 5 ms.
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts.ReadTotalTimeoutConstant = kReadTimeoutMs;
            if (!SetCommTimeouts(port, &timeouts)) {
                failure = "Gyro - error setting comm timeouts:%d\n";
            }
        }
    }
    if (failure != nullptr) {
        DWORD code = GetLastError();
        if (report) {
            std::fprintf(stderr, failure, static_cast<int>(code));
        }
        CloseHandle(port);
        return INVALID_HANDLE_VALUE;
    }
    return port;
}

}  // namespace driver
