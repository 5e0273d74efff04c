// The packet framer and its search for the boundary after lost or extra bytes.

#include "ahrs/framer.hpp"

#include <cstring>

namespace ahrs {
namespace {

// Drops the first count bytes held.
void drop(Framer* f, uint32_t count) {
    f->start += count;
    f->size -= count;
}

const uint8_t* held(const Framer* f) {
    return f->bytes + f->start;
}

// Waits for `count` bytes in all: false (with needed set) while they have not all arrived.
bool have(Framer* f, uint32_t count) {
    if (f->size >= count) {
        return true;
    }
    f->needed = count;
    return false;
}

enum class Search { kNeedMore, kDone };

// Takes the candidate boundary at offset k: the bytes before it are dropped.
Search realign(Framer* f, uint32_t k) {
    drop(f, k);
    ++f->realignments;
    return Search::kDone;
}

// The search after a rejected packet at offset 0 (see framer_reject). Offsets are tried in
// order up to two packets ahead; the offset of the current alignment's next packet is the
// alignment itself, not a candidate. A candidate is taken only when the packet after it confirms
// it: with the 8-bit checksum, one window in 256 of damaged bytes passes on its own. With
// line_quiet (no more bytes are coming for now) the search ends with what is held: the first
// candidate that lacks bytes ends it, as every later one lacks more bytes still.
Search search_boundary(Framer* f, bool line_quiet) {
    const uint32_t n = f->length;
    if (!have(f, 2 * n)) {
        return Search::kNeedMore;
    }
    const uint8_t* bytes = held(f);
    if (packet_is_valid(f->mode, bytes + n, n)) {
        drop(f, n);  // the stream is aligned; the rejected packet was damaged in place
        return Search::kDone;
    }
    for (uint32_t k = 1; k < 2 * n; ++k) {
        if (k == n || bytes[k] != kHeaderByte) {
            continue;
        }
        const bool whole = have(f, k + n);
        if (whole && !packet_is_valid(f->mode, bytes + k, n)) {
            continue;
        }
        if (!whole || !have(f, k + 2 * n)) {
            if (line_quiet) {
                break;
            }
            return Search::kNeedMore;
        }
        if (packet_is_valid(f->mode, bytes + k + n, n)) {
            return realign(f, k);
        }
    }
    drop(f, n);
    return Search::kDone;
}

}  // namespace

void framer_reset(Framer* framer, char mode, uint32_t length) {
    framer->mode = mode;
    framer->length = length <= kMaxPacketLength ? length : 0;
    framer->searching = false;
    framer->start = 0;
    framer->size = 0;
    framer->needed = framer->length;
}

uint8_t* framer_space(Framer* framer) {
    if (framer->start != 0) {
        std::memmove(framer->bytes, framer->bytes + framer->start, framer->size);
        framer->start = 0;
    }
    return framer->bytes + framer->size;
}

uint32_t framer_wanted(const Framer& framer) {
    if (framer.needed > framer.size) {
        return framer.needed - framer.size;
    }
    return framer.size < kFramerCapacity ? 1 : 0;
}

uint32_t framer_room(const Framer& framer) {
    return kFramerCapacity - framer.size;  // once framer_space has moved the bytes to the front
}

void framer_received(Framer* framer, uint32_t count) {
    framer->size += count;
}

bool framer_next(Framer* framer, const uint8_t** packet) {
    if (framer->length == 0) {
        framer->needed = 1;
        return false;
    }
    if (framer->searching) {
        if (search_boundary(framer, false) == Search::kNeedMore) {
            return false;
        }
        framer->searching = false;
    }
    if (!have(framer, framer->length)) {
        return false;
    }
    *packet = held(framer);
    return true;
}

void framer_accept(Framer* framer) {
    drop(framer, framer->length);
    framer->needed = framer->length;
}

void framer_reject(Framer* framer) {
    framer->searching = true;
}

bool framer_packet_waiting(const Framer& framer) {
    return framer.searching && framer.length != 0 && framer.size >= 2 * framer.length;
}

bool framer_line_quiet(Framer* framer) {
    if (!framer_packet_waiting(*framer)) {
        return false;
    }
    (void)search_boundary(framer, true);
    framer->searching = false;
    return true;
}

}  // namespace ahrs
