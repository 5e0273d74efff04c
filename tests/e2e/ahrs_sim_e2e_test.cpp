// ahrs-sim's own promises, as a process on its pseudo-terminal: values it cannot honour are
// refused, the sent log tells exactly what went on the line, and --xon-xoff leaves the line
// with software flow control on.

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ahrs/packet.hpp"
#include "sent_log.hpp"
#include "simulator_test.hpp"
#include "text.hpp"

namespace {

using namespace testsupport;
using ahrs::kAnglePacketLength;

constexpr milliseconds kQuiet(300);  // the line has stopped once nothing came for this long

class AhrsSim : public SimulatorTest {
protected:
    AhrsSim() : SimulatorTest("ahrs-sim", e2e_target().ahrs_sim) {}

    void send(char command) { ASSERT_EQ(write(line_, &command, 1), 1); }

    // The line's bytes until count came or it has been quiet for kQuiet.
    std::string read_bytes(size_t count) {
        std::string bytes;
        read_line(line_, &bytes, count, kQuiet);
        return bytes;
    }
};

TEST_F(AhrsSim, ValuesItCannotHonourEndTheRunWithCode2AndOneLine) {
    const Refusal cases[] = {
        {"silence whose nanoseconds overflow",
         {"--silence", "9223372036855@0"},
         "MS 0 to 604800000"},
        {"hang-up beyond a week", {"--hangup", "604800001@5"}, "MS 0 to 604800000"},
        {"packet count beyond the bound",
         {"--bad-burst", "1@1000000000001"},
         "K 0 to 1000000000000"},
        {"duration beyond a week", {"--duration", "1e12"}, "at most 604800"},
        {"rate whose period overflows", {"--rate", "1e-300"}, "0.001 to 100000"},
        {"rate not a number", {"--rate", "nan"}, "0.001 to 100000"},
        {"baud above 10 Mbaud", {"--baud", "10000001"}, "0 to 10000000"},
        {"insertion rate above 1", {"--insert-rate", "1.5"}, "(0 to 1)"},
    };
    for (const Refusal& c : cases) {
        EXPECT_TRUE(refuses_value(e2e_target().ahrs_sim, c.options, c.accepted)) << c.legend;
    }
}

// Cut by the lengths the log gives, the bytes on the line are the logged packets, up to the
// stop command: each packet without a byte fault is whole, carries the logged TAIL_WORD, and its
// checksum is wrong exactly when the log says so.
TEST_F(AhrsSim, SentLogTellsExactlyWhatWentOnTheLine) {
    ASSERT_GE(open_line(start({"--streaming", "--baud", "0", "--rate", "500", "--drop-rate", "0.01",
                               "--insert-rate", "0.01", "--corrupt-rate", "0.005", "--bad-burst",
                               "3@40"})),
              0);
    std::string bytes = read_bytes(300 * kAnglePacketLength);
    // 'P' stops the output after the packets on their way, which the log holds; closing the
    // line would discard what the reader has not read yet.
    send('P');
    bytes += read_bytes(SIZE_MAX);
    stop();

    const std::vector<SentPacket> log = parse_sent_log(read_file(path("sent.log")));
    ASSERT_GE(log.size(), 300u);
    size_t offset = 0;
    size_t whole = 0;
    size_t faulted = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const SentPacket& packet = log[i];
        ASSERT_EQ(packet.index, i) << "every streamed packet has its line";
        if (!packet.heard) {
            continue;
        }
        const size_t length = kAnglePacketLength - packet.dropped + packet.inserted;
        ASSERT_LE(offset + length, bytes.size()) << "packet " << i << " is not on the line";
        const auto* start = reinterpret_cast<const uint8_t*>(bytes.data() + offset);
        offset += length;
        if (packet.dropped + packet.inserted + packet.corrupted > 0) {
            ++faulted;
            continue;
        }
        ++whole;
        EXPECT_EQ(start[0], 0xFF) << "packet " << i;
        EXPECT_EQ(start[27] * 256u + start[28], packet.tail_word) << "packet " << i;
        EXPECT_EQ(ahrs::packet_checksum(start, kAnglePacketLength) == start[kAnglePacketLength - 1],
                  !packet.bad_checksum)
            << "packet " << i;
    }
    EXPECT_EQ(offset, bytes.size()) << "bytes on the line beyond the logged packets";
    EXPECT_GT(whole, 100u);
    EXPECT_GT(faulted, 10u) << "the faults were applied";
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const SentPacket& p) {
        return p.bad_checksum && p.heard;
    })) << "the bad burst is in the log";
}

// The unit's TAIL_WORD passes 0x11 and 0x13 in packets 17 and 19 of every 256, so the first 50
// packets after 'C' hold both bytes. A reader that keeps the line's settings as found loses them
// when the line was left with flow control on.
TEST_F(AhrsSim, XonXoffLeavesFlowControlOnAndTheReaderLosesItsBytes) {
    struct Case {
        const char* legend;
        std::vector<std::string> options;
        bool flow_control;
    };
    const Case cases[] = {
        {"raw line: every byte value arrives", {}, false},
        {"--xon-xoff: 0x11 and 0x13 taken by the line", {"--xon-xoff"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<std::string> options{"--baud", "0", "--rate", "1000"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        ASSERT_GE(open_line(start(options)), 0);
        termios settings{};
        ASSERT_EQ(tcgetattr(line_, &settings), 0);
        EXPECT_EQ((settings.c_iflag & IXON) != 0, c.flow_control);
        EXPECT_EQ((settings.c_iflag & IXOFF) != 0, c.flow_control);
        EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u) << "raw otherwise";
        send('C');
        const std::string bytes = read_bytes(50 * kAnglePacketLength);
        const auto flow_bytes = std::count_if(bytes.begin(), bytes.end(),
                                              [](char b) { return b == 0x11 || b == 0x13; });
        if (c.flow_control) {
            EXPECT_EQ(flow_bytes, 0);
        } else {
            EXPECT_EQ(bytes.size(), 50 * kAnglePacketLength);
            EXPECT_GE(flow_bytes, 2);
        }
        stop();
    }
}

}  // namespace
