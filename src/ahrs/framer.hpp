#pragma once
// The packet framer: cuts the received byte stream into packets of the link's length and, after
// an invalid packet, looks for the packet boundary again when bytes were lost or added on the
// line. Fed any number of bytes at a time; it never reads the port itself.

#include <cstdint>

#include "ahrs/packet.hpp"

namespace ahrs {

// Bytes the framer may hold: the search after an invalid packet looks up to four packets ahead.
constexpr uint32_t kFramerCapacity = 4 * kMaxPacketLength;

struct Framer {
    char mode = kAngleMode;
    uint32_t length = 0;        // packet length the link start-up learned; 0 frames nothing
    bool searching = false;     // the packet at the front was rejected: find the boundary first
    uint32_t start = 0;         // where the bytes held begin in `bytes`
    uint32_t size = 0;          // bytes held, from `start` on
    uint32_t needed = 0;        // bytes the next decision waits for
    uint32_t realignments = 0;  // boundaries found again after lost or extra bytes
    uint8_t bytes[kFramerCapacity];
};

// Empties the framer for a link that now sends packets of `length` bytes in `mode` (after a link
// start-up, whose drain discarded whatever was on its way).
void framer_reset(Framer* framer, char mode, uint32_t length);

// Where received bytes go (the bytes held move to the front first, so the room is all there is),
// and how many the framer wants before it can decide anything more: at least 1, never more than
// there is room for (so a read for that many never takes bytes beyond what the next packets
// need).
uint8_t* framer_space(Framer* framer);
uint32_t framer_wanted(const Framer& framer);
// The bytes there is room for at framer_space(): at least framer_wanted().
uint32_t framer_room(const Framer& framer);

// Counts `count` bytes written at framer_space() as received.
void framer_received(Framer* framer, uint32_t count);

// Points *packet at the next `length` bytes to treat as a packet and returns true, or returns
// false when more bytes are needed first. The packet stays at the front until framer_accept or
// framer_reject.
bool framer_next(Framer* framer, const uint8_t** packet);

// The packet at the front was valid: it is dropped and framing goes on after it.
void framer_accept(Framer* framer);

// The packet at the front was invalid. Before the next packet is framed, the framer looks for a
// boundary among the bytes that follow its start: an offset where the header byte starts a valid
// packet of the mode's length that the packet after it confirms, while the packet at the current
// alignment is not valid. Found, the bytes before it are dropped; otherwise the rejected packet
// is dropped and the alignment stays. A corrupted packet in an aligned stream therefore keeps the
// alignment, and a stray header byte with a lucky checksum does not move it.
void framer_reject(Framer* framer);

// True when a whole packet follows a rejected one while the search for the boundary waits for
// more bytes: a line that falls silent now would leave that packet unjudged.
bool framer_packet_waiting(const Framer& framer);

// The line brought nothing (a read that waited found no byte). When a packet is waiting
// (framer_packet_waiting), the search decides with the bytes held: a boundary the packet after it
// confirms is taken as ever, otherwise the rejected packet is dropped and the packet at the
// current alignment is framed next, to be judged as it stands. A boundary still unconfirmed is
// never taken (its packet is found again, confirmed, once the line brings more), so a lucky
// checksum among damaged bytes is never recorded. A unit that sends bad packets and then pauses
// gets every packet it sent counted, and the restart rule applied, before it sends again.
// Returns true when it decided (framer_next then frames a packet), false when there was nothing
// to decide.
bool framer_line_quiet(Framer* framer);

}  // namespace ahrs
