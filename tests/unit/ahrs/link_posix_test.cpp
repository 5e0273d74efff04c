// restart against a scripted unit on the other end of a pseudo-terminal.

#include "ahrs/link.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <future>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ahrs/packet.hpp"
#include "owned_handle.hpp"
#include "packet_builder.hpp"
#include "platform/win32.hpp"
#include "pty.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// How the unit on the line behaves.
struct UnitScript {
    char mode = 'a';
    bool acknowledges = true;
    int ignored_letters = 0;  // mode letters answered with nothing before the acknowledgement
    int wrong_answers = 0;    // then mode letters answered with a stray byte, not the upper case
    int ignored_stops = 0;    // 'P' commands that do not stop the output (INT_MAX: never stops)
    bool streaming_at_start = false;
    // The answer to each 'G' in turn, the last one repeated; none: one whole packet of the mode.
    std::vector<Bytes> probe_answers{};
    uint8_t hang_up_on = 0;      // a command byte whose arrival makes the unit vanish (0: never)
    bool gone_at_start = false;  // the unit has vanished before the call
};

// A thread on the pty master that answers the commands as the unit does and records every byte
// it receives.
class FakeUnit {
public:
    FakeUnit(test_support::Pty* pty, UnitScript script)
        : pty_(pty), script_(std::move(script)), streaming_(script_.streaming_at_start) {
        if (script_.gone_at_start) {
            pty_->hang_up();
            gone_ = true;
        }
        thread_ = std::thread([this] { run(); });
    }
    ~FakeUnit() {
        quit_ = true;
        thread_.join();
    }

    // The bytes received so far, once the line has been quiet for a while (the last command
    // written may still be in flight when restart returns).
    std::string seen() {
        size_t last = SIZE_MAX;
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        for (;;) {
            size_t now = 0;
            {
                std::lock_guard lock(mutex_);
                now = seen_.size();
            }
            if (now == last || Clock::now() > deadline) {
                break;
            }
            last = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    void run() {
        const Bytes packet = ahrs_test::make_packet(script_.mode);
        auto next_packet = Clock::now();
        while (!quit_ && !gone_) {
            pollfd p{pty_->master_fd(), POLLIN, 0};
            if (poll(&p, 1, 2) > 0 && (p.revents & POLLIN) != 0) {
                uint8_t buffer[512];
                const ssize_t n = ::read(pty_->master_fd(), buffer, sizeof buffer);
                for (ssize_t i = 0; i < n && !gone_; ++i) {
                    receive(buffer[i]);
                }
            }
            if (!gone_ && streaming_ && Clock::now() >= next_packet) {
                pty_->write(packet);
                next_packet = Clock::now() + std::chrono::milliseconds(10);
            }
        }
    }

    void receive(uint8_t byte) {
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(static_cast<char>(byte));
        }
        if (script_.hang_up_on != 0 && byte == script_.hang_up_on) {
            pty_->hang_up();
            gone_ = true;
            return;
        }
        const uint8_t letter = static_cast<uint8_t>(script_.mode);
        if (byte == 'P') {
            if (stops_ignored_ < script_.ignored_stops) {
                ++stops_ignored_;
            } else {
                streaming_ = false;
            }
        } else if (byte == letter) {
            const int letters = letters_seen_++;
            if (!script_.acknowledges || letters < script_.ignored_letters) {
                return;
            }
            if (letters < script_.ignored_letters + script_.wrong_answers) {
                // Any byte but the acknowledgement, such as the tail of a packet in transit.
                pty_->write(Bytes{0x7E});
                return;
            }
            pty_->write(Bytes{static_cast<uint8_t>(letter - 32)});
        } else if (byte == 'G') {
            Bytes answer = ahrs_test::make_packet(script_.mode);
            if (!script_.probe_answers.empty()) {
                answer = script_.probe_answers[std::min(probes_, script_.probe_answers.size() - 1)];
            }
            ++probes_;
            pty_->write(answer);
        }
        // 'C' starts the output; restart returns right after it, so the stream is left out.
    }

    test_support::Pty* pty_;
    UnitScript script_;
    bool streaming_;
    int stops_ignored_ = 0;
    int letters_seen_ = 0;
    size_t probes_ = 0;
    bool gone_ = false;
    std::atomic<bool> quit_{false};
    std::mutex mutex_;
    std::string seen_;
    std::thread thread_;
};

struct Outcome {
    ahrs::RestartResult result;
    uint32_t packet_length = 0xDEADBEEF;  // restart must overwrite it
    DWORD error;                          // GetLastError right after the call
    long elapsed_ms;                      // duration of the call
    std::string out;                      // standard output during the call
    std::string seen;                     // the bytes the unit received
};

// Runs restart on a fresh pseudo-terminal with a unit that follows `script`, the port opened as
// the driver opens the AHRS port: reads return at once with what is waiting, or after about 5 ms
// with nothing. Without capture, standard output is left alone, for calls on several threads.
Outcome restart_on(UnitScript script, char mode, platform::Poll stop = {}, bool capture = true) {
    test_support::Pty pty;
    const testsupport::OwnedHandle port{CreateFileA(
        pty.slave_path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0)};
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 5, 0, 0};
    Outcome o{};
    if (port.get() == INVALID_HANDLE_VALUE || !SetCommTimeouts(port.get(), &timeouts)) {
        ADD_FAILURE() << "no port: " << pty.error() << " " << GetLastError();
        return o;
    }
    FakeUnit unit(&pty, std::move(script));  // a unit gone at the start hangs up the open port
    if (capture) {
        testing::internal::CaptureStdout();
    }
    const auto start = Clock::now();
    o.result = ahrs::restart(port.get(), mode, &o.packet_length, stop);
    o.error = GetLastError();
    o.elapsed_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (capture) {
        o.out = testing::internal::GetCapturedStdout();
    }
    o.seen = unit.seen();
    return o;
}

// One exchange as the unit sees it: 'P'..., letter..., 'P'..., 'G', then 'C' only after the probe
// that brought one whole packet (an attempt without it is repeated from the start).
struct Exchange {
    int stops;
    int letters;
    int stops_after_mode;
    bool continuous;
};

// Splits the bytes the unit received into exchanges; fails the test on any other order.
std::vector<Exchange> exchanges_in(const std::string& seen, char letter) {
    const std::regex exchange(std::string("(P+)(") + letter + "+)(P+)G(C?)");
    std::vector<Exchange> exchanges;
    std::smatch m;
    for (auto at = seen.cbegin(); at != seen.cend(); at = m[0].second) {
        if (!std::regex_search(at, seen.cend(), m, exchange,
                               std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "unexpected command order: " << testing::PrintToString(seen);
            break;
        }
        exchanges.push_back({static_cast<int>(m.length(1)), static_cast<int>(m.length(2)),
                             static_cast<int>(m.length(3)), m.length(4) == 1});
    }
    return exchanges;
}

TEST(Restart, SilentUnitSeesOneStopTheLetterOneStopProbeAndContinue) {
    struct {
        const char* legend;
        char mode;
        uint32_t length;
        std::string exact;  // the bytes when the acknowledgement arrives within the first read
    } const cases[] = {
        {"angle mode", 'a', 30, "PaPGC"},
        {"scaled mode: the acknowledgement is 'C', like the continuous command", 'c', 24, "PcPGC"},
        {"voltage mode", 'r', 24, "PrPGC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome o = restart_on({.mode = c.mode}, c.mode);
        EXPECT_EQ(o.result, ahrs::kRestartOk);
        EXPECT_EQ(o.packet_length, c.length);
        EXPECT_EQ(o.out, "") << "a whole intact probe prints nothing";
        // Three waits of 100 ms: a drain pass, another drain pass, the probe.
        EXPECT_GE(o.elapsed_ms, 300);
        EXPECT_LT(o.elapsed_ms, 3000);
        const std::vector<Exchange> exchanges = exchanges_in(o.seen, c.mode);
        ASSERT_EQ(exchanges.size(), 1u) << testing::PrintToString(o.seen);
        EXPECT_EQ(exchanges[0].stops, 1) << "a silent unit needs one stop";
        if (exchanges[0].letters == 1) {
            EXPECT_EQ(o.seen, c.exact);
        } else {
            // On a loaded machine the acknowledgement can miss the 5 ms read: the letter goes
            // again and the late acknowledgement is drained. Still one exchange.
            EXPECT_GE(exchanges[0].stops_after_mode, 1);
        }
    }
}

TEST(Restart, RepeatsStopsAndLettersUntilTheUnitAnswers) {
    struct {
        const char* legend;
        UnitScript script;
        int least_stops;
        int least_letters;
    } const cases[] = {
        {"streaming unit: 'P' again while packets keep coming",
         UnitScript{.ignored_stops = 2, .streaming_at_start = true}, 3, 1},
        {"streaming unit that stops at the first 'P': its last packets are drained",
         UnitScript{.streaming_at_start = true}, 1, 1},
        {"unit that answers the fourth letter", UnitScript{.ignored_letters = 3}, 1, 4},
        {"unit that answers two letters with a stray byte first", UnitScript{.wrong_answers = 2}, 1,
         3},
        {"scaled-mode unit that answers the third letter",
         UnitScript{.mode = 'c', .ignored_letters = 2}, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome o = restart_on(c.script, c.script.mode);
        EXPECT_EQ(o.result, ahrs::kRestartOk);
        EXPECT_EQ(o.packet_length, ahrs::packet_length_of(c.script.mode));
        EXPECT_EQ(o.out, "") << "stream bytes never reach the probe";
        const std::vector<Exchange> exchanges = exchanges_in(o.seen, c.script.mode);
        ASSERT_EQ(exchanges.size(), 1u) << testing::PrintToString(o.seen);
        EXPECT_GE(exchanges[0].stops, c.least_stops) << testing::PrintToString(o.seen);
        EXPECT_GE(exchanges[0].letters, c.least_letters) << testing::PrintToString(o.seen);
    }
}

TEST(Restart, ProbeMustBeOneWholePacket) {
    const Bytes whole = ahrs_test::make_packet('a');
    const Bytes partial(whole.begin(), whole.begin() + 10);
    Bytes ten;  // more than the probe's read takes
    for (int i = 0; i < 10; ++i) {
        ten.insert(ten.end(), whole.begin(), whole.end());
    }
    Bytes bad_checksum = ahrs_test::make_packet('a', {{ahrs_test::angle::kRoll, 0x0102}});
    bad_checksum.back() = static_cast<uint8_t>(bad_checksum.back() + 1);
    const std::string size0 = "packet size incorrect: 0 should be 30 for AHRS\n";
    struct {
        const char* legend;
        std::vector<Bytes> answers;  // the unit's answer to each probe in turn
        ahrs::RestartResult result = ahrs::kRestartOk;
        size_t exchanges;
        std::string out;
    } const cases[] = {
        {.legend = "nothing, then a whole packet: the second exchange succeeds",
         .answers = {{}, whole},
         .exchanges = 2,
         .out = size0},
        {.legend = "a partial packet, then a whole one",
         .answers = {partial, whole},
         .exchanges = 2,
         .out = "packet size incorrect: 10 should be 30 for AHRS\n"},
        {.legend = "more than 255 bytes waiting: the read takes 255, the rest is drained next time",
         .answers = {ten, whole},
         .exchanges = 2,
         .out = "packet size incorrect: 255 should be 30 for AHRS\n"},
        {.legend = "three bad probes: no answer",
         .answers = {{}, partial, {}},
         .result = ahrs::kRestartNoAnswer,
         .exchanges = 3,
         .out = size0 + "packet size incorrect: 10 should be 30 for AHRS\n" + size0},
        {.legend = "right length with a bad checksum is taken, with its complaint",
         .answers = {bad_checksum},
         .exchanges = 1,
         .out = "\nbad checksum:ff 1 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 4 \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome o = restart_on({.probe_answers = c.answers}, 'a');
        EXPECT_EQ(o.result, c.result);
        if (c.result == ahrs::kRestartOk) {
            EXPECT_EQ(o.packet_length, 30u);
        }
        EXPECT_EQ(o.out, c.out);
        const std::vector<Exchange> exchanges = exchanges_in(o.seen, 'a');
        ASSERT_EQ(exchanges.size(), c.exchanges) << testing::PrintToString(o.seen);
        for (size_t i = 0; i < exchanges.size(); ++i) {
            const bool last_of_success = c.result == ahrs::kRestartOk && i + 1 == exchanges.size();
            EXPECT_EQ(exchanges[i].continuous, last_of_success)
                << "'C' only after the probe that is taken: " << testing::PrintToString(o.seen);
        }
    }
}

TEST(Restart, GivesUpAfterFiveSecondsOfWaiting) {
    struct {
        const char* legend;
        UnitScript script;
        bool letters_sent;
    } const cases[] = {
        {"a unit that never acknowledges", UnitScript{.acknowledges = false}, true},
        {"a unit that never falls silent",
         UnitScript{.ignored_stops = INT_MAX, .streaming_at_start = true}, false},
    };
    // The cases wait 5 s each; they run side by side on their own lines.
    testing::internal::CaptureStdout();
    std::vector<std::future<Outcome>> runs;
    for (const auto& c : cases) {
        runs.push_back(
            std::async(std::launch::async, [&c] { return restart_on(c.script, 'a', {}, false); }));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].legend);
        const Outcome o = runs[i].get();
        EXPECT_EQ(o.result, ahrs::kRestartNoAnswer);
        EXPECT_GE(o.elapsed_ms, 5000);
        EXPECT_LT(o.elapsed_ms, 9000);
        EXPECT_EQ(o.seen.find('G'), std::string::npos) << "no probe without an answer";
        EXPECT_EQ(o.seen.find('a') != std::string::npos, cases[i].letters_sent);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "restart reports nothing itself";
}

int g_polls = 0;
int g_polls_before_stop = 0;
Clock::time_point g_stop_at;

bool stop_after_count(void*, bool) {
    return ++g_polls > g_polls_before_stop;
}
// Asks to stop 400 ms after the first poll, which comes as restart begins.
bool stop_after_time(void*, bool) {
    if (g_polls++ == 0) {
        g_stop_at = Clock::now() + std::chrono::milliseconds(400);
    }
    return Clock::now() >= g_stop_at;
}

TEST(Restart, StopPollEndsTheWaits) {
    {
        SCOPED_TRACE("asked to stop at the first poll: nothing is sent");
        g_polls = 0;
        g_polls_before_stop = 0;
        const Outcome o = restart_on({}, 'a', {stop_after_count});
        EXPECT_EQ(o.result, ahrs::kRestartStopped);
        EXPECT_LT(o.elapsed_ms, 100);
        EXPECT_EQ(o.seen, "");
    }
    {
        SCOPED_TRACE("streaming unit: polled once per drain pass");
        g_polls = 0;
        g_polls_before_stop = 2;
        const Outcome o = restart_on({.ignored_stops = INT_MAX, .streaming_at_start = true}, 'a',
                                     {stop_after_count});
        EXPECT_EQ(o.result, ahrs::kRestartStopped);
        EXPECT_EQ(g_polls, 3);
        EXPECT_EQ(o.seen, "PP");
        EXPECT_LT(o.elapsed_ms, 2000);
    }
    {
        SCOPED_TRACE("unit that never acknowledges: polled while the letter repeats");
        g_polls = 0;
        const Outcome o = restart_on({.acknowledges = false}, 'a', {stop_after_time});
        EXPECT_EQ(o.result, ahrs::kRestartStopped);
        EXPECT_GE(o.elapsed_ms, 400);
        EXPECT_LT(o.elapsed_ms, 2000) << "far below the 5 s bound";
        EXPECT_GE(g_polls, 2);
        EXPECT_EQ(o.seen.find('G'), std::string::npos);
    }
}

TEST(Restart, FailedPortEndsItWithTheSystemError) {
    struct {
        const char* legend;
        UnitScript script;
    } const cases[] = {
        {"device gone before the call", UnitScript{.gone_at_start = true}},
        {"device gone at the mode letter", UnitScript{.hang_up_on = 'a'}},
        {"device gone at the probe", UnitScript{.hang_up_on = 'G'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome o = restart_on(c.script, 'a');
        EXPECT_EQ(o.result, ahrs::kRestartPortFailed);
        EXPECT_NE(o.error, ERROR_SUCCESS) << "the system's reason is kept for the caller";
        EXPECT_LT(o.elapsed_ms, 2000) << "no waiting on a dead port";
        EXPECT_EQ(o.out, "") << "a failed read is no probe answer";
    }
}

TEST(Restart, UnknownModeIsNoAnswerWithoutTouchingThePort) {
    const Outcome o = restart_on({}, 'x');
    EXPECT_EQ(o.result, ahrs::kRestartNoAnswer);
    EXPECT_LT(o.elapsed_ms, 100);
    EXPECT_EQ(o.seen, "");
}

}  // namespace
