#pragma once
// The one scratch file a fuzz target hands its input through: created once per process in the
// temporary folder, rewritten for every input, removed at exit.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Ends the run as a finding when a property of the result does not hold.
inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class ScratchFile {
public:
    ScratchFile() {
        const char* dir = std::getenv("TMPDIR");
        path_ =
            std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/morvane-fuzz-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        close(fd);
    }
    ~ScratchFile() { unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's content with the input's bytes.
    void write(const uint8_t* data, size_t size) const {
        const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0) {
            std::perror("open");
            std::abort();
        }
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) {
                std::perror("write");
                std::abort();
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
    }

    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

// The parsers print on standard output; the fuzzer's own report is on standard error.
inline void silence_stdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
}

}  // namespace fuzz
