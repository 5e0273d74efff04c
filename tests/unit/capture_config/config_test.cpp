// parse_capture_config on real files: what each parameter takes and refuses, where a file ends,
// what the caller's record keeps, the lines it prints, and input that is long, cut or odd.
// Runs natively and under Wine.

#include "capture_config/config.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "scratch.hpp"

namespace {

using capture_config::CaptureHeader;
using capture_test::stdout_of;

// A valid version-2 file: one line per parameter, each with a remark after the value.
const std::vector<std::string> kValidLines = {
    "2 ; Config file version",
    "5 ; Com port",
    "1 ; HSIF card number",
    "10 ; Sampling period in microseconds",
    "5000 ; Max range in inches",
    "20000 ; Buffer size",
    "100000 ; Number of samples",
    "200 ; Motor 1 power",
    "150 ; Motor 2 power",
    "4096 ; Motor 1 encoder ppr",
    "2048 ; Motor 2 encoder ppr",
    "lookuphs ; Calibration file",
    "capture ; Output capture data filename",
    "1500 ; Delay",
    "1 ; Process affinity",
    "1 ; Write .raw file",
};

// The values the caller's variables hold before a parse: none of them is a value a line of the
// test files gives, so whatever a parse leaves alone shows.
const CaptureHeader kSentinelHeader = {
    .version = 2,
    .sampling_period = 777,
    .max_range = 777,
    .buf_size = 777,
    .num_samples = 777,
    .calibration_value = -777,
    .motor1_encoder_ppr = 777,
    .motor2_encoder_ppr = 777,
    .motor1_power = 77,
    .motor2_power = 77,
    .comport = 77,
    .card_number = 7,
    .cal_file = "caller-cal",
    .sensor_model = 1,
};

struct Parse {
    int32_t result = -1;
    CaptureHeader header = kSentinelHeader;
    int32_t motor_delay_ms = -777;
    char raw_name[capture_config::kCaptureNameSize] = "caller.raw";
    char prc_name[capture_config::kCaptureNameSize] = "caller.prc";
    uint8_t single_cpu = 7;
    uint8_t write_raw = 7;
    std::string out;
};

std::vector<std::string> with_line(int n, const std::string& text) {
    std::vector<std::string> lines = kValidLines;
    lines[static_cast<size_t>(n - 1)] = text;
    return lines;
}

std::string error_line(int n, const std::string& description) {
    return "Error reading parameter " + std::to_string(n) + ": \"" + description + "\"\n";
}

constexpr char kParseFailed[] = "\nERROR: Configuration file parse failed.\n";

// The field that numbered line sets, read as a 64-bit number; the names of lines 12 and 13
// compare as text elsewhere.
int64_t field_of_line(const Parse& p, int line) {
    const CaptureHeader& h = p.header;
    const int64_t by_line[] = {
        0,                     // no line 0
        h.version,             // 1
        h.comport,             // 2
        h.card_number,         // 3
        h.sampling_period,     // 4
        h.max_range,           // 5
        h.buf_size,            // 6
        h.num_samples,         // 7
        h.motor1_power,        // 8
        h.motor2_power,        // 9
        h.motor1_encoder_ppr,  // 10
        h.motor2_encoder_ppr,  // 11
        0,                     // 12: the calibration file name
        0,                     // 13: the capture name
        p.motor_delay_ms,      // 14
        p.single_cpu,          // 15
        p.write_raw,           // 16
    };
    return by_line[line];
}

// One line of the valid file replaced, and what the parse makes of it.
struct LineCase {
    const char* legend;
    int line;
    const char* text;
    int64_t value;        // of the field the line sets
    const char* printed;  // the echo when taken; for a failure the description
};

class CaptureConfig : public capture_test::Scratch {
protected:
    Parse parse_bytes(const std::string& bytes) { return parse_path(file_with(bytes).string()); }

    Parse parse_lines(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        return parse_bytes(text);
    }

    static Parse parse_path(const std::string& path) {
        Parse p;
        p.out = stdout_of([&] {
            p.result = capture_config::parse_capture_config(
                path.c_str(), &p.header, &p.motor_delay_ms, p.raw_name, p.prc_name, &p.single_cpu,
                &p.write_raw);
        });
        return p;
    }

    // Each case's parse: result 1 (taken) or 0 (refused), the line's field, and its echo, or its
    // error line as the only complaint with the closing line after the last echo.
    void check_lines(int32_t result, const std::vector<LineCase>& cases) {
        for (const LineCase& c : cases) {
            const Parse p = parse_lines(with_line(c.line, c.text));
            EXPECT_EQ(p.result, result) << c.legend << "\n" << p.out;
            EXPECT_EQ(field_of_line(p, c.line), c.value) << c.legend;
            const std::string printed = result == 1 ? c.printed : error_line(c.line, c.printed);
            EXPECT_NE(p.out.find(printed), std::string::npos) << c.legend << "\n" << p.out;
            const size_t complaint = result == 1 ? std::string::npos : p.out.find(printed);
            EXPECT_EQ(p.out.find("Error reading"), complaint) << c.legend << "\n" << p.out;
            EXPECT_EQ(p.out.rfind("Error reading"), complaint) << c.legend;
            EXPECT_EQ(p.out.ends_with(kParseFailed), result == 0) << c.legend << "\n" << p.out;
        }
    }
};

// Values within their range are taken, stored and echoed; a value is echoed with "%d", so an
// unsigned field given -1 shows -1. A card number outside 0 to 15 is no failure: the earlier
// number stays and is echoed.
TEST_F(CaptureConfig, ValuesInRangeAreTakenAndCardNumbersOutOfRangePassedOver) {
    check_lines(
        1,
        {
            {"version 3 is any number", 1, "3", 3, "Configuration version = 3\n"},
            {"com port 254, the highest", 2, "254", 254, "Comport = 254\n"},
            {"com port 1, the lowest", 2, "1", 1, "Comport = 1\n"},
            {"card 15, the highest", 3, "15", 15, "Card number = 15\n"},
            {"card 0, the lowest", 3, "0", 0, "Card number = 0\n"},
            {"card 16 is passed over", 3, "16", 7, "Card number = 7\n"},
            {"card -1 is passed over", 3, "-1", 7, "Card number = 7\n"},
            {"card 255 is passed over", 3, "255", 7, "Card number = 7\n"},
            {"sampling period 5, the lowest", 4, "5", 5, "Sampling period = 5 us\n"},
            {"sampling period -1 is 4294967295 compared unsigned", 4, "-1", 4294967295,
             "Sampling period = -1 us\n"},
            {"max range 99999, the highest", 5, "99999", 99999, "Max range = 99999\n"},
            {"max range 0, the lowest", 5, "0", 0, "Max range = 0\n"},
            {"buffer size 30000, the highest", 6, "30000", 30000, "Buffer Size = 30000\n"},
            {"buffer size 1, the lowest", 6, "1", 1, "Buffer Size = 1\n"},
            {"samples -5 is not 0", 7, "-5", 4294967291, "Number of samples = -5\n"},
            {"motor 1 power 255 echoed as 255", 8, "255", 255, "Motor 1 power = 255\n"},
            {"motor 1 power 0", 8, "0", 0, "Motor 1 power = 0\n"},
            {"motor 2 power 255", 9, "255", 255, "Motor 2 power = 255\n"},
            {"encoder ppr negative", 10, "-4096", -4096, "Motor 1 encoder ppr = -4096\n"},
            {"encoder ppr with a plus sign", 11, "+12", 12, "Motor 2 encoder ppr = 12\n"},
            {"delay", 14, "250", 250, "Motor stabilization delay = 250 ms\n"},
            {"affinity 1 sets single_cpu", 15, "1", 1, "Process affinity = 1 \n"},
            {"affinity 2 is echoed and leaves single_cpu 0", 15, "2", 0, "Process affinity = 2 \n"},
            {"affinity 0", 15, "0", 0, "Process affinity = 0 \n"},
            {"write .raw 1 sets write_raw", 16, "1", 1, "Write .raw file if runing rt_cap = 1\n"},
            {"write .raw 2 leaves write_raw 0", 16, "2", 0,
             "Write .raw file if runing rt_cap = 2\n"},
        });
}

// How a number is read: after white space, with a sign, up to the first non-digit; a value
// beyond 32 bits is held at the nearest 32-bit limit, as strtol with a 32-bit long holds it.
TEST_F(CaptureConfig, NumbersAreReadAsLeadingDecimalIntegers) {
    check_lines(
        1, {
               {"leading blanks and tabs", 10, " \t 42", 42, "Motor 1 encoder ppr = 42\n"},
               {"text straight after the digits", 10, "42abc", 42, "Motor 1 encoder ppr = 42\n"},
               {"hexadecimal is read as its leading 0", 10, "0x10", 0, "Motor 1 encoder ppr = 0\n"},
               {"leading zeros", 10, "0007", 7, "Motor 1 encoder ppr = 7\n"},
               {"the largest 32-bit value", 10, "2147483647", 2147483647,
                "Motor 1 encoder ppr = 2147483647\n"},
               {"the smallest 32-bit value", 10, "-2147483648", -2147483648LL,
                "Motor 1 encoder ppr = -2147483648\n"},
               {"too large is held at the largest", 10, "99999999999999999999999", 2147483647,
                "Motor 1 encoder ppr = 2147483647\n"},
               {"too small is held at the smallest", 10, "-99999999999999999999999", -2147483648LL,
                "Motor 1 encoder ppr = -2147483648\n"},
               {"4294967295 is held at the largest signed value", 4, "4294967295", 2147483647,
                "Sampling period = 2147483647 us\n"},
           });
}

// A value out of range fails its parameter with its description and fails the parse. Parameters
// 2, 8 and 9 keep the caller's value; 4 to 7 keep the rejected value; a line without a number
// changes nothing.
TEST_F(CaptureConfig, ValuesOutOfRangeFailTheirParameter) {
    check_lines(
        0,
        {
            {"com port 255 is kept out", 2, "255", 77, "Com port"},
            {"com port 0 is kept out", 2, "0", 77, "Com port"},
            {"com port -1 is kept out", 2, "-1", 77, "Com port"},
            {"sampling period 4 stays in the field", 4, "4", 4, "Sampling period in microseconds"},
            {"max range 100000 stays in the field", 5, "100000", 100000, "Max range in inches"},
            {"max range -1 stays as 4294967295", 5, "-1", 4294967295, "Max range in inches"},
            {"buffer size 30001 stays in the field", 6, "30001", 30001,
             "Buffer size for intermediate sample storage (30,000 max)"},
            {"buffer size 0 stays in the field", 6, "0", 0,
             "Buffer size for intermediate sample storage (30,000 max)"},
            {"number of samples 0 stays in the field", 7, "0", 0, "Number of samples to capture"},
            {"motor 1 power 256 is kept out", 8, "256", 77, "Motor 1 power (0..255)"},
            {"motor 1 power -1 is kept out", 8, "-1", 77, "Motor 1 power (0..255)"},
            {"motor 2 power 256 is kept out", 9, "256", 77, "Motor 2 power (0..255)"},
            {"version without a number", 1, "two", 2, "Config file version"},
            {"a sign without digits", 10, "- 5", 777, "Motor 1 encoder pulses per revolution"},
            {"a lone sign", 11, "+", 777, "Motor 2 encoder pulses per revolution"},
            {"delay without a number", 14, "soon", -777,
             "Delay in milliseconds before acquisition starts to allow motors to stabilize"},
            {"affinity without a number", 15, "x", 0,
             "Process affinity - set to 1 for single CPU, else set to 0 for multiple CPUs"},
            {"write .raw without a number", 16, "yes", 0,
             "Write \".raw\" file - set to 1 to write this file for rt_cap utility"},
        });
}

// Names end at white space, ";", a zero byte or the end of the line; the capture name gives
// ".raw" and ".prc" names; a name too long is cut; an empty name fails and changes nothing. The
// lines around a name are read as usual.
TEST_F(CaptureConfig, NamesAreCopiedUpToTheirEnd) {
    struct Case {
        const char* legend;
        int line;  // 12: the calibration name, 13: the capture name
        std::string text;
        int32_t result;
        std::string name;  // the calibration name, or the capture name before ".raw" and ".prc"
    };
    const std::string long300(300, 'c');
    const Case cases[] = {
        {"a remark after a blank", 13, "scan ; remark", 1, "scan"},
        {"a remark straight after ';'", 13, "scan;remark", 1, "scan"},
        {"leading white space and a tab after", 13, " \tscan\tremark", 1, "scan"},
        {"a Windows path", 13, "C:\\data\\run1", 1, "C:\\data\\run1"},
        {"a zero byte", 13, std::string("ab\0cd ; x", 9), 1, "ab"},
        {"a capture name of 300 is cut to 256", 13, long300, 1, std::string(256, 'c')},
        {"a capture name of exactly 256", 13, std::string(256, 'd'), 1, std::string(256, 'd')},
        {"a name line of 1022 name characters, longer than any buffer", 13, std::string(1022, 'n'),
         1, std::string(256, 'n')},
        {"an empty capture name fails", 13, "   ; nothing", 0, "caller"},
        {"a calibration name of 300 is cut to 255", 12, long300, 1, std::string(255, 'c')},
        {"a calibration name of exactly 255", 12, std::string(255, 'e'), 1, std::string(255, 'e')},
        {"an empty calibration name fails", 12, "", 0, "caller-cal"},
        {"a calibration name ending at ';'", 12, "LOOKUPHS;x", 1, "LOOKUPHS"},
    };
    for (const Case& c : cases) {
        const Parse p = parse_lines(with_line(c.line, c.text));
        EXPECT_EQ(p.result, c.result) << c.legend << "\n" << p.out;
        // The other name is the valid file's.
        const bool capture = c.line == 13;
        const std::string cal_file = capture ? "lookuphs" : c.name;
        const std::string capture_name = capture ? c.name : "capture";
        EXPECT_EQ(std::string(p.header.cal_file), cal_file) << c.legend;
        EXPECT_EQ(std::string(p.raw_name), capture_name + ".raw") << c.legend;
        EXPECT_EQ(std::string(p.prc_name), capture_name + ".prc") << c.legend;
        EXPECT_EQ(p.header.motor1_encoder_ppr, 4096) << c.legend;
        EXPECT_EQ(p.motor_delay_ms, 1500) << c.legend;
        // The echo of a name taken, or the error line of one refused.
        std::string printed = capture ? "Capture file = " + capture_name + ".raw\n"
                                      : "Calibration file = " + cal_file + "\n";
        if (c.result == 0) {
            printed = error_line(
                c.line, capture ? "Output capture data filename" : "Calibration file (lookuphs)");
        }
        EXPECT_NE(p.out.find(printed), std::string::npos) << c.legend << "\n" << p.out;
    }
}

// Where a file ends: versions 0 and 1 after parameter 14, others after 16, a short file after its
// last line. The two flags start at 0 whatever the caller held; a missing parameter is no error.
TEST_F(CaptureConfig, VersionDecidesWhereTheFileEnds) {
    struct Case {
        const char* legend;
        std::vector<std::string> lines;
        uint8_t single_cpu;
        uint8_t write_raw;
        int32_t motor2_ppr;
        int32_t motor_delay_ms;
    };
    auto version = [](const char* v, size_t count, size_t garbage = 0) {
        std::vector<std::string> lines(kValidLines.begin(),
                                       kValidLines.begin() + static_cast<ptrdiff_t>(count));
        lines[0] = v;
        lines.resize(count + garbage, "not a parameter");
        return lines;
    };
    const Case cases[] = {
        {"version 1, 14 lines, read whole", version("1", 14), 0, 0, 2048, 1500},
        {"version 1, lines 15 and 16 ignored", version("1", 16), 0, 0, 2048, 1500},
        {"version 0 ends after 14 too", version("0", 16), 0, 0, 2048, 1500},
        {"version 2, 16 lines", version("2", 16), 1, 1, 2048, 1500},
        {"version 2, lines after 16 not read", version("2", 16, 2), 1, 1, 2048, 1500},
        {"version 1, lines after 14 not read", version("1", 14, 2), 0, 0, 2048, 1500},
        {"version 2, 10 lines: 11 on keep the caller's values", version("2", 10), 0, 0, 777, -777},
        {"version -1 is not 0 or 1 compared unsigned", version("-1", 16), 1, 1, 2048, 1500},
        {"an empty file", {}, 0, 0, 777, -777},
    };
    for (const Case& c : cases) {
        const Parse p = parse_lines(c.lines);
        EXPECT_EQ(p.result, 1) << c.legend << "\n" << p.out;
        EXPECT_EQ(p.single_cpu, c.single_cpu) << c.legend;
        EXPECT_EQ(p.write_raw, c.write_raw) << c.legend;
        EXPECT_EQ(p.header.motor2_encoder_ppr, c.motor2_ppr) << c.legend;
        EXPECT_EQ(p.motor_delay_ms, c.motor_delay_ms) << c.legend;
        EXPECT_EQ(p.out.find("Error"), std::string::npos) << c.legend << "\n" << p.out;
    }
}

// The parser never clears the record: the calibration value and the model, which no line sets,
// keep the caller's values, as do the fields of a short file.
TEST_F(CaptureConfig, FieldsNoLineSetsKeepTheCallersValues) {
    const Parse p = parse_lines({"2", "5"});
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.header.calibration_value, -777);
    EXPECT_EQ(p.header.sensor_model, 1);
    EXPECT_EQ(p.header.card_number, 7);
    EXPECT_EQ(p.header.sampling_period, 777u);
    EXPECT_STREQ(p.header.cal_file, "caller-cal");
    EXPECT_STREQ(p.raw_name, "caller.raw");
}

// The whole output of a small file, byte for byte. A blank line fails its own parameter only:
// the next line is the next parameter.
TEST_F(CaptureConfig, PrintsEachValueTakenAndEachFailure) {
    const Parse p = parse_lines({
        "1 ; version",
        "3",
        "20 ; card out of range: passed over",
        "8",
        "",
        "64",
        "1000",
        "255",
        "256",
        "400",
        "-400",
        "LOOKUPHS.dat ; calibration",
        "run7 ; output",
        "-1",
        "1 ; not read: version 1 ends after 14",
    });
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.out,
              "Configuration version = 1\n"
              "Comport = 3\n"
              "Card number = 7\n"
              "Sampling period = 8 us\n"
              "Error reading parameter 5: \"Max range in inches\"\n"
              "Buffer Size = 64\n"
              "Number of samples = 1000\n"
              "Motor 1 power = 255\n"
              "Error reading parameter 9: \"Motor 2 power (0..255)\"\n"
              "Motor 1 encoder ppr = 400\n"
              "Motor 2 encoder ppr = -400\n"
              "Calibration file = LOOKUPHS.dat\n"
              "Capture file = run7.raw\n"
              "Motor stabilization delay = -1 ms\n"
              "\nERROR: Configuration file parse failed.\n");
    EXPECT_EQ(p.header.max_range, 777u);
    EXPECT_EQ(p.header.buf_size, 64u);
    EXPECT_EQ(p.motor_delay_ms, -1);
    EXPECT_STREQ(p.prc_name, "run7.prc");
}

// A file that cannot be opened: its line, result 0, and the caller's variables untouched, the two
// flags included.
TEST_F(CaptureConfig, MissingFileIsReportedAndChangesNothing) {
    const std::string path = scratch_path(".missing").string();
    const Parse p = parse_path(path);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.out, "Could not open " + path + "\n");
    EXPECT_EQ(p.single_cpu, 7);
    EXPECT_EQ(p.write_raw, 7);
    EXPECT_EQ(p.header.version, 2u);
    EXPECT_STREQ(p.raw_name, "caller.raw");
}

// Input no well-made file holds: a line longer than the 1024-byte buffer is read as two lines;
// Windows line ends are white space; a last line without a line feed counts.
TEST_F(CaptureConfig, OddInputStaysWithinItsBuffers) {
    {
        // Line 12 of 1030 characters: parameter 12 gets its first 1023, cut to 255, and
        // parameter 13 the remaining 7; the real line 13 then stands as parameter 14.
        const Parse p = parse_lines(with_line(12, std::string(1030, 'a')));
        EXPECT_EQ(std::string(p.header.cal_file), std::string(255, 'a'));
        EXPECT_STREQ(p.raw_name, "aaaaaaa.raw");
        EXPECT_NE(p.out.find(error_line(14,
                                        "Delay in milliseconds before acquisition starts to "
                                        "allow motors to stabilize")),
                  std::string::npos)
            << p.out;
        EXPECT_EQ(p.result, 0);
    }
    {
        // Windows line ends, and none after the last line, which sets write_raw.
        std::string text;
        for (const std::string& line : kValidLines) {
            text += line.substr(0, line.find(' ')) + "\r\n";
        }
        const Parse p = parse_bytes(text.substr(0, text.size() - 2));
        EXPECT_EQ(p.result, 1) << p.out;
        EXPECT_STREQ(p.header.cal_file, "lookuphs");
        EXPECT_STREQ(p.raw_name, "capture.raw");
        EXPECT_EQ(p.write_raw, 1);
    }
}

}  // namespace
