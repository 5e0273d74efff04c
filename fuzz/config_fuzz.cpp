// Fuzz target: parse_capture_config on any file content. Besides what the sanitizers catch, the
// parser must return 0 or 1, keep cal_file terminated within its 256 bytes, keep the capture names
// within the caller's 261-byte buffers, and set the flags to 0 or 1.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture_config/config.hpp"
#include "scratch_file.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::ScratchFile file;
    file.write(data, size);

    capture_config::CaptureHeader header{};
    std::memset(&header, 0x5A, sizeof header);
    header.cal_file[0] = '\0';
    int32_t motor_delay_ms = 0;
    // Heap buffers of exactly the size the contract gives, so the address sanitizer sees any
    // byte written past them.
    auto raw_name = std::make_unique<char[]>(capture_config::kCaptureNameSize);
    auto prc_name = std::make_unique<char[]>(capture_config::kCaptureNameSize);
    raw_name[0] = '\0';
    prc_name[0] = '\0';
    uint8_t single_cpu = 9;
    uint8_t write_raw = 9;

    const int32_t result =
        capture_config::parse_capture_config(file.path(), &header, &motor_delay_ms, raw_name.get(),
                                             prc_name.get(), &single_cpu, &write_raw);
    fuzz::check(result == 0 || result == 1);
    fuzz::check(strnlen(header.cal_file, sizeof header.cal_file) < sizeof header.cal_file);
    fuzz::check(strnlen(raw_name.get(), capture_config::kCaptureNameSize) <
                static_cast<size_t>(capture_config::kCaptureNameSize));
    fuzz::check(strnlen(prc_name.get(), capture_config::kCaptureNameSize) ==
                strnlen(raw_name.get(), capture_config::kCaptureNameSize));
    fuzz::check(single_cpu <= 1 && write_raw <= 1);
    return 0;
}
