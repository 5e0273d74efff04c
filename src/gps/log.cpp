// The GPS file's lines, counts, checked writes and hold buffer.

#include "gps/log.hpp"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/files.hpp"

namespace gps {
namespace {

constexpr int kSecondsDecimals = 6;  // as "%f" writes them
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes a reader could not tell apart from the line's own text, or that would end the line.
bool needs_escape(uint8_t byte) {
    return byte < kFirstPrintable || byte > kLastPrintable || byte == '\\';
}

// Remembers the first failure of the file. A C library that fails a write without saying why
// still leaves a reason to report.
void fail(Log* log, int error) {
    if (!log->failed) {
        log->failed = true;
        log->error = error != 0 ? error : EIO;
    }
}

// Hands bytes to the stream: false, with the failure remembered, when it refuses them or the
// file has failed before.
bool write_bytes(Log* log, const char* bytes, size_t size) {
    if (log->failed) {
        return false;
    }
    errno = 0;
    if (std::fwrite(bytes, 1, size, log->file) != size) {
        fail(log, errno);
        return false;
    }
    return true;
}

size_t append(char* out, const char* text) {
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return length;
}

}  // namespace

bool log_start(Log* log, FILE* file, size_t hold_capacity) {
    *log = Log{};
    log->file = file;
    log->hold.reset(new (std::nothrow) char[hold_capacity]);
    if (log->hold == nullptr) {
        return false;
    }
    log->hold_capacity = hold_capacity;
    return true;
}

size_t format_line(const Piece& piece, double seconds, char* out) {
    size_t n = format::format_fixed(seconds, kSecondsDecimals, out);
    out[n++] = ' ';
    if (piece.kind == PieceKind::kSentence) {
        // Valid sentences are printable through and through (splitter_next).
        std::memcpy(out + n, piece.bytes, piece.text_size);
        n += piece.text_size;
    } else {
        out[n++] = '#';
        n += append(out + n, reason_word(piece.kind));
        out[n++] = ' ';
        for (uint32_t i = 0; i < piece.size; ++i) {
            const uint8_t byte = piece.bytes[i];
            if (needs_escape(byte)) {
                out[n++] = '\\';
                out[n++] = 'x';
                out[n++] = kHexDigits[byte >> 4];
                out[n++] = kHexDigits[byte & 0xF];
            } else {
                out[n++] = static_cast<char>(byte);
            }
        }
    }
    out[n++] = '\n';
    return n;
}

bool log_piece(Log* log, const Piece& piece, double seconds) {
    ++log->sentences;
    if (piece.kind != PieceKind::kSentence) {
        ++log->invalid;
    }
    if (reports_fix(piece)) {
        ++log->fixes;
    }
    if (log->failed) {
        return false;
    }
    char line[kMaxLineLength];
    const size_t length = format_line(piece, seconds, line);
    if (!log->held) {
        if (!write_bytes(log, line, length)) {
            return false;
        }
        ++log->lines_written;
        return true;
    }
    // Once a line is lost the later ones are too, so the lines kept are the first of the hold
    // and the #lost line that follows them stands for all the rest.
    if (log->lost_in_hold == 0 && length <= log->hold_capacity - log->hold_used) {
        std::memcpy(log->hold.get() + log->hold_used, line, length);
        log->hold_used += length;
        ++log->held_lines;
    } else {
        ++log->lost_in_hold;
        ++log->lost;
    }
    return true;
}

void log_hold(Log* log) {
    log->held = true;
}

bool log_release(Log* log, double seconds) {
    if (!log->held) {
        return !log->failed;
    }
    log->held = false;
    bool written = !log->failed;
    if (written && log->hold_used > 0) {
        written = write_bytes(log, log->hold.get(), log->hold_used);
        if (written) {
            log->lines_written += log->held_lines;
        }
    }
    if (written && log->lost_in_hold > 0) {
        char line[format::kMaxFixedLength + 32];  // the time, " #lost ", a count, "\n"
        size_t n = format::format_fixed(seconds, kSecondsDecimals, line);
        n += append(line + n, " #lost ");
        n += format::format_unsigned(log->lost_in_hold, line + n);
        line[n++] = '\n';
        written = write_bytes(log, line, n);
        if (written) {
            ++log->lines_written;
        }
    }
    log->hold_used = 0;
    log->held_lines = 0;
    log->lost_in_hold = 0;
    return written;
}

bool log_flush(Log* log) {
    if (log->failed) {
        return false;
    }
    if (log->lines_on_disk == log->lines_written) {
        return true;  // nothing new since the last write-out
    }
    const int error = platform::flush_to_device(log->file);
    if (error != 0) {
        fail(log, error);
        return false;
    }
    log->lines_on_disk = log->lines_written;
    return true;
}

}  // namespace gps
