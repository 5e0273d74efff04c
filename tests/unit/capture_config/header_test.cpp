// The capture header on real files: the bytes written, round trips, the listing, and every
// header that is refused. Runs natively and under Wine.

#include "capture_config/header.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "owned_handle.hpp"
#include "scratch.hpp"

namespace {

using capture_config::CaptureHeader;
using capture_test::stdout_of;
using testsupport::OwnedHandle;

// A record whose every field has a distinct value, with bytes that show the byte order.
CaptureHeader sample_header(uint8_t model) {
    CaptureHeader h{};
    h.version = 1;  // written as 3 whatever the record holds
    h.sampling_period = 0x04030201;
    h.max_range = 99999;
    h.buf_size = 30000;
    h.num_samples = 0xFFFFFFFFu;
    h.calibration_value = -2;
    h.motor1_encoder_ppr = 4096;
    h.motor2_encoder_ppr = -1000;
    h.motor1_power = 255;
    h.motor2_power = 128;
    h.comport = 7;
    h.card_number = 15;
    std::strcpy(h.cal_file, "LOOKUPHS");
    // Bytes after the terminator are written as the record holds them.
    h.cal_file[200] = 'z';
    h.sensor_model = model;
    return h;
}

std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) {
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
}

// The file bytes of a header, built by hand in the file order.
std::string header_bytes(uint32_t version, const std::string& cal_file, bool with_model,
                         uint8_t model) {
    std::string b;
    b += le32(version);
    b += le32(0x04030201);
    b += le32(99999);
    b += le32(30000);
    b += le32(0xFFFFFFFFu);
    b += le32(4096);
    b += le32(static_cast<uint32_t>(-1000));
    b += le32(static_cast<uint32_t>(-2));
    b += std::string{static_cast<char>(255), static_cast<char>(128), 7, 15};
    std::string name = cal_file;
    name.resize(256, '\0');
    b += name;
    if (with_model) {
        b += static_cast<char>(model);
    }
    return b;
}

std::string listing_of(const char* version, const std::string& cal_file, const char* model) {
    return std::string("Read Header\n Header Version: ") + version +
           "\n"
           " Sampling period: 67305985\n"
           " Max range: 99999 (in)\n"
           " Buf size: 30000\n"
           " Num samples: -1\n"
           " Motor 1 encoder ppr: 4096\n"
           " Motor 2 encoder ppr: -1000\n"
           " Motor 1 power: 255\n"
           " Motor 2 power: 128\n"
           " Calibration value: -2\n"
           " Comport: 7\n"
           " Card number: 15\n"
           " Cal file: " +
           cal_file + "\n Sensor Model: AR4000 - " + model;
}

class CaptureHeaderFile : public capture_test::Scratch {
protected:
    // Writes the header into a new file, followed by trailer, and returns the file's bytes.
    std::string write(const CaptureHeader& h, const std::string& trailer = "") {
        path_ = scratch_path(".cap");
        {
            const OwnedHandle f(CreateFileA(path_.string().c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, HANDLE{}));
            EXPECT_NE(f.get(), INVALID_HANDLE_VALUE);
            EXPECT_EQ(capture_config::write_capture_header(f.get(), &h), 1);
            EXPECT_EQ(capture_config::write_block(f.get(), trailer.data(),
                                                  static_cast<uint32_t>(trailer.size())),
                      1);
        }
        return bytes_of(path_);
    }

    struct Read {
        int32_t result = -1;
        CaptureHeader header{};
        std::string out;
        std::string rest;  // what the handle reads after the call, up to 64 bytes
        bool opened = false;
    };

    // read_capture_header on path; then reads what follows from the handle and closes it.
    static Read read(const std::string& path) {
        Read r;
        std::memset(&r.header, 0xA5, sizeof r.header);
        HANDLE f = HANDLE{};
        r.out = stdout_of(
            [&] { r.result = capture_config::read_capture_header(path.c_str(), &f, &r.header); });
        const OwnedHandle owned(f);
        r.opened = f != INVALID_HANDLE_VALUE;
        char buffer[64];
        DWORD got = 0;
        if (r.opened && ReadFile(f, buffer, sizeof buffer, &got, nullptr)) {
            r.rest.assign(buffer, got);
        }
        return r;
    }

    capture_test::fs::path path_;
};

// Written: every field in the file order, little-endian, version 3, the whole 256-byte name as
// the record holds it, the model byte last, the caller's record unchanged. Read back field for
// field, 293 bytes consumed, and listed; a name that fills all 256 bytes with no terminator is
// listed as its 256 characters.
TEST_F(CaptureHeaderFile, WritesEachFieldLittleEndianReadsBackAndLists) {
    struct Case {
        const char* legend;
        uint8_t model;
        const char* model_text;
        std::string name;  // empty: the sample's own
    };
    const Case cases[] = {
        {"the 50 kHz model", 0, "50 kHz\n", ""},
        {"the 200 kHz model", 1, "200 kHz\n", ""},
        {"an unterminated name", 0, "50 kHz\n", std::string(256, 'N')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CaptureHeader h = sample_header(c.model);
        if (!c.name.empty()) {
            std::memcpy(h.cal_file, c.name.data(), sizeof h.cal_file);
        }
        const CaptureHeader before = h;
        const std::string name(h.cal_file, sizeof h.cal_file);
        EXPECT_EQ(write(h, "capture data"), header_bytes(3, name, true, c.model) + "capture data");
        EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0) << "the caller's record is not changed";
        const Read r = read(path_.string());
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.rest, "capture data") << "positioned after 293 bytes";
        EXPECT_EQ(r.out, listing_of("3", c.name.empty() ? "LOOKUPHS" : c.name, c.model_text));
        EXPECT_EQ(r.header.version, 3u);
        // Every other field, in the file order up to the model byte (the record's padding aside).
        h.version = 3;
        EXPECT_EQ(std::memcmp(&r.header, &h, offsetof(CaptureHeader, sensor_model) + 1), 0);
    }
}

// Headers of other versions have no model byte: 292 bytes, model unknown.
TEST_F(CaptureHeaderFile, OtherVersionsEndBeforeTheModelByte) {
    const uint32_t versions[] = {2, 0, 4, 0xFFFFFFFFu};
    for (uint32_t version : versions) {
        const Read r =
            read(file_with(header_bytes(version, "LOOKUPHS", false, 0) + "data").string());
        EXPECT_EQ(r.result, 1) << version;
        EXPECT_EQ(r.header.version, version);
        EXPECT_EQ(r.header.sensor_model, capture_config::kModelUnknown) << version;
        EXPECT_EQ(r.rest, "data") << version << ": positioned after 292 bytes";
        EXPECT_EQ(r.out, listing_of(std::to_string(static_cast<int32_t>(version)).c_str(),
                                    "LOOKUPHS", "unknown\n"))
            << version;
    }
}

// Where each field of the file begins, and its size, in the file order.
struct FieldSpan {
    size_t offset;
    size_t size;
};
constexpr FieldSpan kFields[] = {
    {0, 4},  {4, 4},  {8, 4},  {12, 4}, {16, 4}, {20, 4},   {24, 4},
    {28, 4}, {32, 1}, {33, 1}, {34, 1}, {35, 1}, {36, 256}, {292, 1},
};

// Refused silently, the handle left open for the caller to close: a version-3 header whose model
// byte is neither 0 nor 1, and a header cut short, in version 3 (the model byte included) and in
// version 2, where each field begins, inside it, and one byte before its end.
TEST_F(CaptureHeaderFile, RefusesABadModelByteOrAHeaderCutShort) {
    struct Case {
        std::string legend;
        std::string bytes;
    };
    std::vector<Case> cases;
    for (const uint8_t model : {uint8_t{2}, uint8_t{7}, uint8_t{255}}) {
        cases.push_back(
            {"model " + std::to_string(model), header_bytes(3, "LOOKUPHS", true, model)});
    }
    for (const Case& whole : {Case{"version 3", header_bytes(3, "LOOKUPHS", true, 0)},
                              Case{"version 2", header_bytes(2, "LOOKUPHS", false, 0)}}) {
        for (const FieldSpan& field : kFields) {
            for (const size_t length :
                 {field.offset, field.offset + field.size / 2, field.offset + field.size - 1}) {
                if (length < whole.bytes.size()) {
                    cases.push_back({whole.legend + " cut to " + std::to_string(length),
                                     whole.bytes.substr(0, length)});
                }
            }
        }
    }
    for (const Case& c : cases) {
        const Read r = read(file_with(c.bytes).string());
        EXPECT_EQ(r.result, 0) << c.legend;
        EXPECT_EQ(r.out, "") << c.legend;
        EXPECT_TRUE(r.opened) << c.legend;
    }
}

// A file that cannot be opened: its line, result 0, INVALID_HANDLE_VALUE in the caller's variable.
TEST_F(CaptureHeaderFile, ReportsAFileThatCannotBeOpened) {
    const std::string path = scratch_path(".missing").string();
    const Read r = read(path);
    EXPECT_EQ(r.result, 0);
    EXPECT_FALSE(r.opened) << "INVALID_HANDLE_VALUE";
    EXPECT_EQ(r.out, "Could not open " + path + "\n");
}

// The block transfers succeed only when all count bytes move: a read past the end, a write to a
// handle open only for reading and an invalid handle all give 0.
TEST_F(CaptureHeaderFile, BlocksMoveAllTheirBytesOrFail) {
    const std::string path = file_with("abc").string();
    char buffer[8] = {};
    {
        const OwnedHandle owned(
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, HANDLE{}));
        const HANDLE f = owned.get();
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        EXPECT_EQ(capture_config::read_block(f, buffer, 2), 1);
        EXPECT_EQ(std::string(buffer, 2), "ab");
        EXPECT_EQ(capture_config::read_block(f, buffer, 2), 0) << "one byte left";
        EXPECT_EQ(capture_config::read_block(f, buffer, 0), 1) << "nothing asked, nothing missing";
        EXPECT_EQ(capture_config::write_block(f, "xy", 2), 0) << "open for reading only";
        const CaptureHeader h = sample_header(0);
        EXPECT_EQ(capture_config::write_capture_header(f, &h), 0);
    }
    EXPECT_EQ(bytes_of(path), "abc");

    EXPECT_EQ(capture_config::read_block(INVALID_HANDLE_VALUE, buffer, 1), 0);
    EXPECT_EQ(capture_config::write_block(INVALID_HANDLE_VALUE, "x", 1), 0);
}

}  // namespace
