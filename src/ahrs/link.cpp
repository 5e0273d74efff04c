// The start-up exchange with the unit: stop, select the mode, probe one packet, stream.

#include "ahrs/link.hpp"

#include "ahrs/packet.hpp"
#include "platform/console.hpp"

namespace ahrs {

namespace {

// Command bytes, each written alone.
constexpr uint8_t kStopCommand = 'P';        // stops the unit's output
constexpr uint8_t kProbeCommand = 'G';       // asks for one packet of the current mode
constexpr uint8_t kContinuousCommand = 'C';  // starts continuous output
// The unit acknowledges a mode letter with the same letter in upper case.
constexpr uint8_t kAckOffset = 32;

// The unit stops within one packet time at any baud rate it supports; 100 ms of silence after
// 'P' means it has stopped. The probe waits as long, which covers a whole packet at 38400 baud
// many times over.
constexpr DWORD kDrainWaitMs = 100;
constexpr DWORD kAckWaitMs = 1;
constexpr DWORD kProbeWaitMs = 100;
constexpr uint32_t kProbeLateLimitMs = 1000;  // how much longer the rest of a probe is awaited

constexpr DWORD kReplyBufferSize = 260;
constexpr DWORD kMaxReply = kMaxPacketLength;

// How one step of the exchange ended; kRestartOk means go on.
using Step = RestartResult;

Step write_byte(HANDLE port, uint8_t byte) {
    DWORD written = 0;
    if (!WriteFile(port, &byte, 1, &written, nullptr)) {
        return kRestartPortFailed;
    }
    return kRestartOk;
}

Step read_bytes(HANDLE port, uint8_t* buffer, DWORD to_read, DWORD* got) {
    *got = 0;
    if (!ReadFile(port, buffer, to_read, got, nullptr)) {
        return kRestartPortFailed;
    }
    return kRestartOk;
}

bool stop_requested(const platform::Poll& poll) {
    return poll(true);
}

// Sends 'P', waits and reads until a read brings nothing: the unit has fallen silent and the
// input is empty. Gives up after kRestartWaitLimitMs.
Step drain_until_silent(HANDLE port, uint8_t* reply, const platform::Poll& stop) {
    const uint32_t start = platform::elapsed_ms();
    for (;;) {
        if (stop_requested(stop)) {
            return kRestartStopped;
        }
        Step step = write_byte(port, kStopCommand);
        if (step != kRestartOk) {
            return step;
        }
        Sleep(kDrainWaitMs);
        DWORD got = 0;
        step = read_bytes(port, reply, kMaxReply, &got);
        if (step != kRestartOk) {
            return step;
        }
        if (got == 0) {
            return kRestartOk;
        }
        if (platform::elapsed_ms() - start >= kRestartWaitLimitMs) {
            return kRestartNoAnswer;
        }
    }
}

// Sends the mode letter until the unit answers with its upper-case form. Any other byte, such as
// the tail of a packet still in transit, or no byte at all, sends the letter again.
Step select_mode(HANDLE port, char mode, uint8_t* reply, const platform::Poll& stop) {
    const uint8_t letter = static_cast<uint8_t>(mode);
    const uint8_t ack = static_cast<uint8_t>(letter - kAckOffset);
    const uint32_t start = platform::elapsed_ms();
    uint32_t last_poll = start;
    for (;;) {
        reply[0] = letter;
        Step step = write_byte(port, reply[0]);
        if (step != kRestartOk) {
            return step;
        }
        Sleep(kAckWaitMs);
        DWORD got = 0;
        step = read_bytes(port, reply, 1, &got);
        if (step != kRestartOk) {
            return step;
        }
        if (got == 1 && reply[0] == ack) {
            return kRestartOk;
        }
        const uint32_t now = platform::elapsed_ms();
        if (now - start >= kRestartWaitLimitMs) {
            return kRestartNoAnswer;
        }
        if (now - last_poll >= platform::kPollIntervalMs) {
            last_poll = now;
            if (stop_requested(stop)) {
                return kRestartStopped;
            }
        }
    }
}

// One exchange up to the probe's answer. Stores the probe's byte count in *probe_length.
Step exchange(HANDLE port, char mode, uint8_t* reply, uint32_t* probe_length,
              const platform::Poll& stop) {
    Step step = drain_until_silent(port, reply, stop);
    if (step == kRestartOk) {
        step = select_mode(port, mode, reply, stop);
    }
    if (step == kRestartOk) {
        step = drain_until_silent(port, reply, stop);
    }
    if (step == kRestartOk) {
        step = write_byte(port, kProbeCommand);
    }
    if (step != kRestartOk) {
        return step;
    }
    Sleep(kProbeWaitMs);
    DWORD got = 0;
    step = read_bytes(port, reply, kMaxReply, &got);
    // A unit on a busy machine may answer late: what is missing of one packet is waited for a
    // little longer before the probe counts as failed.
    const uint32_t expected = packet_length_of(mode);
    const uint32_t asked = platform::elapsed_ms();
    while (step == kRestartOk && got < expected &&
           platform::elapsed_ms() - asked < kProbeLateLimitMs) {
        DWORD more = 0;
        step = read_bytes(port, reply + got, expected - got, &more);
        got += more;
    }
    if (step != kRestartOk) {
        return step;
    }
    // Only for its messages: a probe of the right length with a bad header or checksum is still
    // taken, and the recording loop's restart rule deals with a unit that keeps sending such.
    (void)check_packet(mode, reply, got);
    *probe_length = got;
    return kRestartOk;
}

}  // namespace

RestartResult restart(HANDLE port, char mode, uint32_t* packet_length, const platform::Poll& stop) {
    const uint32_t expected = packet_length_of(mode);
    if (expected == 0) {
        // The unit acknowledges only the letters of its modes; waiting for another is futile.
        return kRestartNoAnswer;
    }
    uint8_t reply[kReplyBufferSize] = {};
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        uint32_t probe_length = 0;
        const Step step = exchange(port, mode, reply, &probe_length, stop);
        if (step != kRestartOk) {
            return step;
        }
        *packet_length = probe_length;
        // A probe of 0 bytes or a partial packet sets the packet boundaries wrong for the whole
        // run, and 255 bytes means more was waiting: the exchange starts again, without starting
        // the output first (the next drain would only have to stop it).
        if (probe_length == expected) {
            return write_byte(port, kContinuousCommand);
        }
    }
    return kRestartNoAnswer;
}

}  // namespace ahrs
