// The packet framer and its search for the boundary after lost or extra bytes.

#include "ahrs/framer.hpp"

#include <cstring>

namespace ahrs {
namespace {

// Drops the first count bytes.
void drop(Framer* f, uint32_t count) {
    std::memmove(f->bytes, f->bytes + count, f->size - count);
    f->size -= count;
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

// The search after a rejected packet at offset 0 (see framer_reject). Offsets are tried in
// order up to two packets ahead; the offset of the current alignment's next packet is the
// alignment itself, not a candidate.
Search search_boundary(Framer* f) {
    const uint32_t n = f->length;
    if (!have(f, 2 * n)) {
        return Search::kNeedMore;
    }
    if (packet_is_valid(f->mode, f->bytes + n, n)) {
        drop(f, n);  // the stream is aligned; the rejected packet was damaged in place
        return Search::kDone;
    }
    for (uint32_t k = 1; k < 2 * n; ++k) {
        if (k == n || f->bytes[k] != kHeaderByte) {
            continue;
        }
        if (!have(f, k + n)) {
            return Search::kNeedMore;
        }
        if (!packet_is_valid(f->mode, f->bytes + k, n)) {
            continue;
        }
        if (!have(f, k + 2 * n)) {
            return Search::kNeedMore;
        }
        if (packet_is_valid(f->mode, f->bytes + k + n, n)) {
            drop(f, k);
            ++f->realignments;
            return Search::kDone;
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
    framer->size = 0;
    framer->needed = framer->length;
}

uint8_t* framer_space(Framer* framer) {
    return framer->bytes + framer->size;
}

uint32_t framer_wanted(const Framer& framer) {
    if (framer.needed > framer.size) {
        return framer.needed - framer.size;
    }
    return framer.size < kFramerCapacity ? 1 : 0;
}

uint32_t framer_room(const Framer& framer) {
    return kFramerCapacity - framer.size;
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
        if (search_boundary(framer) == Search::kNeedMore) {
            return false;
        }
        framer->searching = false;
    }
    if (!have(framer, framer->length)) {
        return false;
    }
    *packet = framer->bytes;
    return true;
}

void framer_accept(Framer* framer) {
    drop(framer, framer->length);
    framer->needed = framer->length;
}

void framer_reject(Framer* framer) {
    framer->searching = true;
}

}  // namespace ahrs
