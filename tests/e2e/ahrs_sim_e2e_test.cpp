// ahrs-sim's own promises, as a process on its pseudo-terminal: values it cannot honour are
// refused, the sent log tells exactly what went on the line, and --xon-xoff leaves the line
// with software flow control on. The simulator is the same native program for both targets,
// so these run in e2e-native only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "process.hpp"
#include "refusal.hpp"
#include "sent_log.hpp"
#include "text.hpp"

namespace {

using testsupport::e2e_target;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::SentPacket;

constexpr milliseconds kSimStart(5000);
constexpr milliseconds kSimExit(5000);
constexpr size_t kAnglePacketLength = 30;
constexpr int kQuietMs = 300;  // the line has stopped once nothing came for this long

class AhrsSim : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e_target().wine) {
            GTEST_SKIP() << "ahrs-sim is a native program: e2e-native runs its tests";
        }
        if (e2e_target().ahrs_sim.empty()) {
            GTEST_SKIP() << "AHRS_SIM is not set";
        }
        char pattern[] = "/tmp/ahrs-sim-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }

    void TearDown() override {
        stop();
        if (!dir_.empty()) {
            std::remove(sent_log_path().c_str());
            rmdir(dir_.c_str());
        }
    }

    void stop() {
        if (line_ >= 0) {
            close(line_);
            line_ = -1;
        }
        if (sim_ && sim_->running()) {
            sim_->signal(SIGTERM);
            sim_->wait(kSimExit);
        }
    }

    std::string sent_log_path() const { return dir_ + "/sent.log"; }

    // Starts the unit with the options and opens its line as a logger would that keeps the
    // line's settings as found.
    void start(const std::vector<std::string>& options) {
        std::vector<std::string> argv{e2e_target().ahrs_sim, "--quiet"};
        argv.insert(argv.end(), options.begin(), options.end());
        sim_ = std::make_unique<Process>();
        ASSERT_TRUE(sim_->start(argv)) << sim_->error();
        const std::string device = testsupport::first_line(*sim_, kSimStart);
        ASSERT_FALSE(device.empty()) << sim_->err();
        line_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(line_, 0) << device;
    }

    void send(char command) { ASSERT_EQ(write(line_, &command, 1), 1); }

    // Reads the line until `count` bytes came or it has been quiet for kQuietMs.
    std::vector<uint8_t> read_line(size_t count) {
        std::vector<uint8_t> bytes;
        uint8_t chunk[4096];
        while (bytes.size() < count) {
            pollfd ready{line_, POLLIN, 0};
            const int n = poll(&ready, 1, kQuietMs);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            const ssize_t got = read(line_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                break;
            }
        }
        return bytes;
    }

    std::string dir_;
    std::unique_ptr<Process> sim_;
    int line_ = -1;
};

TEST_F(AhrsSim, ValuesItCannotHonourEndTheRunWithCode2AndOneLine) {
    struct Case {
        const char* legend;
        std::vector<std::string> options;
        const char* accepted;  // in the one line on standard error
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        EXPECT_TRUE(testsupport::refuses_value(e2e_target().ahrs_sim, c.options, c.accepted))
            << c.legend;
    }
}

bool checksum_ok(const uint8_t* packet) {
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < kAnglePacketLength; ++i) {
        sum += packet[i];
    }
    return (sum & 0xFF) == packet[kAnglePacketLength - 1];
}

// Cut by the lengths the log gives, the bytes on the line are the logged packets, up to the
// stop command: each packet without a byte fault is whole, carries the logged TAIL_WORD, and its
// checksum is wrong exactly when the log says so.
TEST_F(AhrsSim, SentLogTellsExactlyWhatWentOnTheLine) {
    start({"--streaming", "--baud", "0", "--rate", "500", "--drop-rate", "0.01", "--insert-rate",
           "0.01", "--corrupt-rate", "0.005", "--bad-burst", "3@40", "--sent-log",
           sent_log_path()});
    std::vector<uint8_t> bytes = read_line(300 * kAnglePacketLength);
    // 'P' stops the output after the packets on their way, which the log holds; closing the
    // line would discard what the reader has not read yet.
    send('P');
    const std::vector<uint8_t> rest = read_line(SIZE_MAX);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    sim_->signal(SIGTERM);
    ASSERT_EQ(sim_->wait(kSimExit).code, 0) << sim_->err();

    const std::vector<SentPacket> log =
        testsupport::parse_sent_log(testsupport::read_file(sent_log_path()));
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
        const uint8_t* start = bytes.data() + offset;
        offset += length;
        if (packet.dropped + packet.inserted + packet.corrupted > 0) {
            ++faulted;
            continue;
        }
        ++whole;
        EXPECT_EQ(start[0], 0xFF) << "packet " << i;
        EXPECT_EQ(start[27] * 256u + start[28], packet.tail_word) << "packet " << i;
        EXPECT_EQ(checksum_ok(start), !packet.bad_checksum) << "packet " << i;
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
        start(options);
        termios settings{};
        ASSERT_EQ(tcgetattr(line_, &settings), 0);
        EXPECT_EQ((settings.c_iflag & IXON) != 0, c.flow_control);
        EXPECT_EQ((settings.c_iflag & IXOFF) != 0, c.flow_control);
        EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u) << "raw otherwise";
        send('C');
        const std::vector<uint8_t> bytes = read_line(50 * kAnglePacketLength);
        const auto flow_bytes = std::count_if(bytes.begin(), bytes.end(),
                                              [](uint8_t b) { return b == 0x11 || b == 0x13; });
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
