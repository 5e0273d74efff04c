// gps-sim's own promises, as a process on its pseudo-terminal: values it cannot honour are
// refused, the bytes on the line are exactly the sentences of its sent log, the sentences
// describe the fix asked for, and silences and hang-ups come after their sentence counts.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "gps_sent_log.hpp"
#include "simulator_test.hpp"
#include "text.hpp"

namespace {

using namespace std::chrono;
using namespace testsupport;
constexpr size_t kMaxSentenceLength = 82;  // NMEA 0183, from '$' to CR LF
constexpr double kEarthRadiusM = 6371000.0;
constexpr double kRadPerDeg = std::numbers::pi / 180.0;

// Where bytes read from the line stand against the sent log.
struct LineMatch {
    size_t whole = 0;     // heard sentences found whole, with their CR LF
    std::string failure;  // empty when the bytes are exactly the logged sentences
};

// Checks that bytes are the heard sentences of log[first, last) in order, each after its
// logged garbage and ending in CR LF; the last may be cut short where the bytes end.
LineMatch match_line(const std::string& bytes, const std::vector<SentSentence>& log, size_t first,
                     size_t last) {
    LineMatch match;
    size_t offset = 0;
    for (size_t i = first; i < last && offset < bytes.size(); ++i) {
        const SentSentence& sentence = log[i];
        if (!sentence.heard) {
            continue;
        }
        offset += sentence.garbage;
        const std::string expected = sentence.text + "\r\n";
        const std::string found = bytes.substr(std::min(offset, bytes.size()), expected.size());
        if (expected.compare(0, found.size(), found) != 0) {
            match.failure = "sentence " + std::to_string(sentence.index) + ": logged " +
                            sentence.text + ", on the line " + found;
            return match;
        }
        offset += expected.size();
        match.whole += found.size() == expected.size() ? 1 : 0;
    }
    if (offset < bytes.size()) {
        match.failure = "bytes on the line beyond the logged sentences: " + bytes.substr(offset);
    }
    return match;
}

// The sentences cycle GGA, RMC, GSA, then GSV 1 of n to n of n.
::testing::AssertionResult in_epoch_order(const std::vector<SentSentence>& log) {
    std::string expected = "GPGGA";  // ending in '/': a GSV of any count
    for (const SentSentence& sentence : log) {
        const std::vector<std::string> f = nmea_fields(sentence.text);
        const bool gsv = f[0] == "GPGSV" && f.size() >= 4;
        const std::string seen = gsv ? "GPGSV " + f[2] + "/" + f[1] : f[0];
        if (expected.back() == '/' ? seen.rfind(expected, 0) != 0 : seen != expected) {
            return ::testing::AssertionFailure()
                   << "sentence " << sentence.index << " is " << seen << ", not " << expected;
        }
        expected = f[0] == "GPGGA"   ? "GPRMC"
                   : f[0] == "GPRMC" ? "GPGSA"
                   : f[0] == "GPGSA" ? "GPGSV 1/"
                   : gsv && f[2] != f[1]
                       ? "GPGSV " + std::to_string(std::stoi(f[2]) + 1) + "/" + f[1]
                       : "GPGGA";
    }
    return ::testing::AssertionSuccess();
}

// Degrees of an NMEA angle field ("ddmm.mmmmm" or "dddmm.mmmmm") and its hemisphere letter;
// NAN when the field is malformed or its minutes are 60 or more.
double degrees_of(const std::string& angle, const std::string& hemisphere, size_t degree_digits,
                  const char* negative) {
    if (angle.size() < degree_digits + 3 || angle[degree_digits + 2] != '.') {
        return NAN;
    }
    const double minutes = std::stod(angle.substr(degree_digits));
    if (minutes >= 60.0 || (hemisphere != negative && hemisphere.size() != 1)) {
        return NAN;
    }
    const double degrees = std::stoi(angle.substr(0, degree_digits)) + minutes / 60.0;
    return hemisphere == negative ? -degrees : degrees;
}

// Metres between two nearby positions, across the antimeridian too.
double metres_between(double lat1, double lon1, double lat2, double lon2) {
    const double north = (lat2 - lat1) * kRadPerDeg * kEarthRadiusM;
    const double east = std::remainder(lon2 - lon1, 360.0) * kRadPerDeg * kEarthRadiusM *
                        std::cos(lat1 * kRadPerDeg);
    return std::hypot(north, east);
}

// "hhmmss.ss" and "ddmmyy" of a UTC time, as GGA and RMC give them.
std::pair<std::string, std::string> nmea_time_and_date(sys_time<milliseconds> utc) {
    const hh_mm_ss of_day(utc - floor<days>(utc));
    const year_month_day date(floor<days>(utc));
    char time[16];
    char day[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.%02d", static_cast<int>(of_day.hours().count()),
                  static_cast<int>(of_day.minutes().count()),
                  static_cast<int>(of_day.seconds().count()),
                  static_cast<int>(of_day.subseconds().count() / 10));
    std::snprintf(day, sizeof day, "%02u%02u%02d", static_cast<unsigned>(date.day()),
                  static_cast<unsigned>(date.month()), static_cast<int>(date.year()) % 100);
    return {time, day};
}

class GpsSim : public SimulatorTest {
protected:
    GpsSim() : SimulatorTest("gps-sim", e2e_target().gps_sim) {}

    std::vector<SentSentence> log() const {
        return parse_gps_sent_log(read_file(path("sent.log")));
    }

    // Waits until the sent log holds at least count sentences.
    std::vector<SentSentence> wait_for_log(size_t count) {
        std::vector<SentSentence> sentences;
        EXPECT_TRUE(wait_until([&] { return (sentences = log()).size() >= count; }, kHangBound))
            << sentences.size() << " sentences logged";
        return sentences;
    }
};

TEST_F(GpsSim, ValuesItCannotHonourEndTheRunWithCode2AndOneLine) {
    const Refusal cases[] = {
        {.legend = "rate below an epoch in 10 s",
         .options = {"--rate", "0.09"},
         .accepted = "0.1 to 20"},
        {.legend = "rate above 20 Hz", .options = {"--rate", "21"}, .accepted = "0.1 to 20"},
        {.legend = "latitude beyond the pole",
         .options = {"--lat", "90.5"},
         .accepted = "-90 to 90"},
        {.legend = "longitude not a number",
         .options = {"--lon", "nan"},
         .accepted = "-180 to 180"},
        {.legend = "altitude in space",
         .options = {"--alt", "10001"},
         .accepted = "-1000 to 10000"},
        {.legend = "a day February lacks",
         .options = {"--utc", "2024-02-30T00:00:00"},
         .accepted = "YYYY-MM-DDTHH:MM:SS"},
        {.legend = "a year RMC cannot tell",
         .options = {"--utc", "1999-12-31T23:59:59"},
         .accepted = "2000 to 2099"},
        {.legend = "no fix for over a week",
         .options = {"--no-fix", "604801"},
         .accepted = "0 to 604800"},
        {.legend = "checksum rate above 1",
         .options = {"--bad-checksum-rate", "1.5"},
         .accepted = "(0 to 1)"},
        {.legend = "negative garbage rate",
         .options = {"--garbage-rate", "-0.1"},
         .accepted = "(0 to 1)"},
        {.legend = "silence whose nanoseconds overflow",
         .options = {"--silence", "9223372036855@0"},
         .accepted = "MS 0 to 604800000"},
        {.legend = "hang-up count beyond the bound",
         .options = {"--hangup", "100@1000000000001"},
         .accepted = "K 0 to 1000000000000"},
        {.legend = "baud above 10 Mbaud",
         .options = {"--baud", "10000001"},
         .accepted = "0 to 10000000"},
    };
    for (const Refusal& c : cases) {
        EXPECT_TRUE(refuses_value(e2e_target().gps_sim, c.options, c.accepted)) << c.legend;
    }
}

// Read from the pty as a logger would, the line carries exactly the sentences of the sent log in
// order: the logged garbage before a sentence, then its text and CR LF; every checksum right
// except where the log says otherwise; no sentence sooner than the line has carried the one
// before it, at 10 bits a byte.
TEST_F(GpsSim, LineCarriesExactlyTheLoggedSentences) {
    constexpr double kBaud = 38400.0;
    constexpr size_t kBytes = 14000;  // about 190 sentences: enough for every fault to show
    ASSERT_GE(open_line(start({"--rate", "20", "--baud", "38400", "--seed", "3",
                               "--bad-checksum-rate", "0.1", "--garbage-rate", "0.1"})),
              0);
    std::string bytes;
    EXPECT_EQ(read_line(line_, &bytes, kBytes), LineEnd::kCount);
    stop();

    const std::vector<SentSentence> log = this->log();
    const LineMatch match = match_line(bytes, log, 0, log.size());
    EXPECT_EQ(match.failure, "");
    EXPECT_GT(match.whole, 150u);
    EXPECT_TRUE(in_epoch_order(log));
    size_t bad = 0;
    size_t after_garbage = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const SentSentence& sentence = log[i];
        ASSERT_EQ(sentence.index, i) << "every sentence has its line";
        EXPECT_LE(sentence.text.size() + 2, kMaxSentenceLength) << sentence.text;
        EXPECT_EQ(nmea_checksum_ok(sentence.text), !sentence.bad_checksum) << sentence.text;
        bad += sentence.bad_checksum ? 1 : 0;
        after_garbage += sentence.garbage > 0 ? 1 : 0;
        if (i > 0) {
            const double line_us =
                static_cast<double>(log[i - 1].text.size() + 2 + sentence.garbage) * 10e6 / kBaud;
            EXPECT_GE(static_cast<double>(sentence.microseconds - log[i - 1].microseconds),
                      line_us - 2.0)  // the log's whole microseconds
                << "sentence " << i << " came sooner than the line carries";
        }
    }
    EXPECT_GT(bad, 5u);
    EXPECT_GT(after_garbage, 5u);
}

// The sentences are a function of the seed and the options, whatever the timing.
TEST_F(GpsSim, SameSeedGivesTheSameSentencesAtAnyPace) {
    constexpr size_t kCount = 30;
    const auto texts = [this](const std::vector<std::string>& options) {
        start(options);
        std::vector<SentSentence> sentences = wait_for_log(kCount);
        stop();
        std::vector<std::string> result;
        for (size_t i = 0; i < kCount && i < sentences.size(); ++i) {
            result.push_back(sentences[i].text);
        }
        return result;
    };
    const std::vector<std::string> unpaced = texts({"--seed", "5", "--rate", "20", "--baud", "0"});
    EXPECT_EQ(texts({"--seed", "5", "--rate", "20", "--baud", "9600"}), unpaced);
    EXPECT_NE(texts({"--seed", "6", "--rate", "20", "--baud", "0"}), unpaced);
}

// Every epoch from the first: its UTC time and date counted from the given start, no fix before
// the given time (quality 0, status V, empty position) and a fix from then on, within a few
// metres of the position given, with a plausible sky (HDOP 0.7 to 2.5, the satellites used
// among those in view) and the antenna at rest.
TEST_F(GpsSim, SentencesDescribeTheFixAskedFor) {
    constexpr double kRateHz = 20.0;
    constexpr int kFixEpochs = 20;  // looked at after the first fix
    constexpr double kNearM = 5.0;
    struct Case {
        const char* legend;
        double lat, lon, alt;
        const char* utc;
        sys_time<milliseconds> start;  // the same as utc
        int no_fix_epochs;             // the epochs before the no-fix time: 20 a second
    };
    const Case cases[] = {
        {.legend = "north and west, a fix from the start",
         .lat = 48.383,
         .lon = -4.495,
         .alt = 12.0,
         .utc = "2024-05-01T09:30:00",
         .start = sys_days(2024y / May / 1) + 9h + 30min,
         .no_fix_epochs = 0},
        {.legend = "south and east, no fix for 1.5 s, the date turning at midnight",
         .lat = -33.8568,
         .lon = 151.2153,
         .alt = 58.0,
         .utc = "2023-12-31T23:59:59",
         .start = sys_days(2023y / December / 31) + 23h + 59min + 59s,
         .no_fix_epochs = 30},
        {.legend = "whole degrees on the antimeridian, high up",
         .lat = 45.0,
         .lon = 180.0,
         .alt = 3500.0,
         .utc = "2030-01-01T00:00:00",
         .start = sys_days(2030y / January / 1),
         .no_fix_epochs = 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        start({"--rate", "20", "--baud", "0", "--lat", std::to_string(c.lat), "--lon",
               std::to_string(c.lon), "--alt", std::to_string(c.alt), "--utc", c.utc, "--no-fix",
               std::to_string(c.no_fix_epochs / kRateHz)});
        // Seven sentences an epoch at the most (three GSV): enough for the epochs looked at.
        wait_for_log(static_cast<size_t>(c.no_fix_epochs + kFixEpochs + 1) * 7);
        stop();
        const std::vector<SentSentence> log = this->log();
        ASSERT_TRUE(in_epoch_order(log));
        int epoch = -1;
        std::vector<std::string> gga;
        std::vector<std::string> gsa_prns;
        const auto utc_of = [&c](int number) {
            return c.start + milliseconds(std::lround(1000.0 * number / kRateHz));
        };
        for (const SentSentence& sentence : log) {
            const std::vector<std::string> f = nmea_fields(sentence.text);
            if (f[0] == "GPGGA") {
                if (++epoch >= c.no_fix_epochs + kFixEpochs) {
                    break;
                }
                ASSERT_EQ(f.size(), 15u) << sentence.text;
                gga = f;
                EXPECT_EQ(f[1], nmea_time_and_date(utc_of(epoch)).first) << "epoch " << epoch;
                const bool fix = epoch >= c.no_fix_epochs;
                EXPECT_EQ(f[6], fix ? "1" : "0") << sentence.text;
                if (!fix) {
                    EXPECT_EQ(f[2] + f[3] + f[4] + f[5] + f[9], "") << sentence.text;
                    continue;
                }
                const double lat = degrees_of(f[2], f[3], 2, "S");
                const double lon = degrees_of(f[4], f[5], 3, "W");
                EXPECT_LT(metres_between(c.lat, c.lon, lat, lon), kNearM) << sentence.text;
                EXPECT_LT(std::fabs(std::stod(f[9]) - c.alt), kNearM) << sentence.text;
                const double hdop = std::stod(f[8]);
                EXPECT_TRUE(hdop >= 0.7 && hdop <= 2.5) << sentence.text;
                const int used = std::stoi(f[7]);
                EXPECT_TRUE(used >= 4 && used <= 12) << sentence.text;
            } else if (f[0] == "GPRMC") {
                ASSERT_EQ(f.size(), 13u) << sentence.text;
                EXPECT_EQ(f[1], gga[1]);
                EXPECT_EQ(f[9], nmea_time_and_date(utc_of(epoch)).second) << "epoch " << epoch;
                const bool fix = gga[6] == "1";
                EXPECT_EQ(f[2], fix ? "A" : "V") << sentence.text;
                EXPECT_EQ(f[3] + f[4] + f[5] + f[6], fix ? gga[2] + gga[3] + gga[4] + gga[5] : "")
                    << "RMC's position is GGA's";
                if (fix) {
                    EXPECT_LT(std::stod(f[7]), 1.0) << "knots: at rest";
                }
            } else if (f[0] == "GPGSA") {
                gsa_prns.clear();
                for (size_t i = 3; i < 15 && i < f.size(); ++i) {
                    if (!f[i].empty()) {
                        gsa_prns.push_back(f[i]);
                    }
                }
                EXPECT_EQ(gsa_prns.size(), gga[6] == "1" ? std::stoul(gga[7]) : 0u)
                    << sentence.text;
            } else {
                // GSV: each used satellite is in view, with its signal.
                for (size_t i = 4; i + 3 < f.size(); i += 4) {
                    const auto used = std::find(gsa_prns.begin(), gsa_prns.end(), f[i]);
                    if (used != gsa_prns.end()) {
                        EXPECT_FALSE(f[i + 3].empty()) << "satellite " << f[i] << " used, no SNR";
                        gsa_prns.erase(used);
                    }
                }
                if (f[1] == f[2]) {
                    EXPECT_TRUE(gsa_prns.empty()) << "used but not in view: " << gsa_prns[0];
                }
            }
        }
        EXPECT_EQ(epoch, c.no_fix_epochs + kFixEpochs);
    }
}

// A silence begins once K sentences are out: the sent log's time of sentence K is at least MS
// after sentence K-1.
TEST_F(GpsSim, SilencesComeAfterTheirSentenceCounts) {
    struct Silence {
        size_t after;
        int64_t ms;
    };
    const Silence silences[] = {{.after = 10, .ms = 600}, {.after = 23, .ms = 400}};
    start({"--rate", "20", "--baud", "0", "--silence", "600@10", "--silence", "400@23"});
    const std::vector<SentSentence> log = wait_for_log(30);
    for (const Silence& silence : silences) {
        ASSERT_GT(log.size(), silence.after);
        EXPECT_GE(log[silence.after].microseconds - log[silence.after - 1].microseconds,
                  silence.ms * 1000)
            << "silence after " << silence.after;
    }
}

// A hang-up comes once K sentences are out: the line carries the heard ones of the first K and
// then fails; the link then points at a new line, which carries the heard sentences after.
TEST_F(GpsSim, HangUpComesAfterItsSentenceCountAndTheLineComesBack) {
    constexpr size_t kAfter = 20;
    constexpr size_t kBytesAfter = 1500;
    ASSERT_GE(open_line(start({"--rate", "5", "--baud", "38400", "--hangup", "700@20"})), 0);
    std::string before;
    ASSERT_EQ(read_line(line_, &before), LineEnd::kHungUp);
    // Until the link points at the new line, an open finds no line or one that has hung up.
    std::string after;
    EXPECT_TRUE(wait_until(
        [&] {
            after.clear();
            return open_line(path("link")) >= 0 &&
                   read_line(line_, &after, kBytesAfter) == LineEnd::kCount;
        },
        kHangBound));
    stop();

    const std::vector<SentSentence> log = this->log();
    ASSERT_GT(log.size(), kAfter);
    const LineMatch first = match_line(before, log, 0, kAfter);
    EXPECT_EQ(first.failure, "") << "the first line";
    const size_t heard_before = static_cast<size_t>(std::count_if(
        log.begin(), log.begin() + kAfter, [](const SentSentence& s) { return s.heard; }));
    EXPECT_EQ(first.whole, heard_before) << "every heard sentence of the first K, whole";
    const LineMatch second = match_line(after, log, kAfter, log.size());
    EXPECT_EQ(second.failure, "") << "the line after the hang-up";
    EXPECT_GT(second.whole, 10u);
}

}  // namespace
