#pragma once
// A temporary stdio stream for code under test that writes to a FILE*, closed when it goes out of
// scope, and what has been written to it so far. Header-only: the Windows build's tests use it too.

#include <cstdio>
#include <memory>
#include <string>

namespace testsupport {

class TempStream {
public:
    // The stream; null when no temporary file could be made.
    FILE* get() const { return file_.get(); }

    // Everything written so far; the stream is left at its end for more writes.
    std::string text() const {
        std::fflush(get());
        std::rewind(get());
        std::string text;
        char buffer[512];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, get())) > 0;) {
            text.append(buffer, n);
        }
        std::fseek(get(), 0, SEEK_END);
        return text;
    }

private:
    std::unique_ptr<FILE, int (*)(FILE*)> file_{std::tmpfile(),
                                                [](FILE* f) { return std::fclose(f); }};
};

}  // namespace testsupport
