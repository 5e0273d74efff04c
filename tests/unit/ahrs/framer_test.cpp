// The framer: packets cut from a byte stream fed in any splits, and the boundary found again
// after lost or extra bytes without moving an aligned stream.

#include "ahrs/framer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "packet_builder.hpp"
#include "stream_split.hpp"

namespace {

using ahrs_test::make_packet;
using Bytes = std::vector<uint8_t>;
using testsupport::StreamSplit;

// Angle-mode packet number n: its TAIL_WORD is n, and its other fields vary with n.
Bytes packet(uint16_t n) {
    using namespace ahrs_test::angle;
    return make_packet('a', {{kRoll, static_cast<uint16_t>(n * 977)},
                             {kGyroX, static_cast<uint16_t>(0xFF00 | n)},
                             {kTemp, 1500},
                             {kTail, n}});
}

// Packets first..last in a row, with `edit` applied to the stream.
Bytes stream(uint16_t count, void (*edit)(Bytes*) = nullptr) {
    Bytes bytes;
    for (uint16_t n = 1; n <= count; ++n) {
        const Bytes p = packet(n);
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    if (edit != nullptr) {
        edit(&bytes);
    }
    return bytes;
}

struct Framed {
    std::vector<uint16_t> tails;  // the valid packets, in order
    unsigned rejected = 0;
    unsigned realignments = 0;
};

// Feeds the bytes in the pieces of split, as reads deliver them, never more than the framer asks
// for. With quiet_at_end the line then falls silent.
Framed frame(const Bytes& bytes, const StreamSplit& split, bool quiet_at_end = false) {
    ahrs::Framer framer;
    ahrs::framer_reset(&framer, 'a', ahrs::kAnglePacketLength);
    Framed out;
    const auto judge_packets = [&] {
        const uint8_t* p = nullptr;
        while (ahrs::framer_next(&framer, &p)) {
            if (ahrs::packet_is_valid('a', p, framer.length)) {
                out.tails.push_back(ahrs::get_u16(p, ahrs_test::angle::kTail));
                ahrs::framer_accept(&framer);
            } else {
                ++out.rejected;
                ahrs::framer_reject(&framer);
            }
        }
    };
    testsupport::feed(bytes.data(), bytes.size(), split, [&](const uint8_t* piece, size_t count) {
        count = std::min(count, size_t{ahrs::framer_wanted(framer)});
        std::copy_n(piece, count, ahrs::framer_space(&framer));
        ahrs::framer_received(&framer, static_cast<uint32_t>(count));
        judge_packets();
        return count;
    });
    while (quiet_at_end && ahrs::framer_line_quiet(&framer)) {
        judge_packets();
    }
    out.realignments = framer.realignments;
    return out;
}

std::vector<uint16_t> tails_except(uint16_t count, std::initializer_list<uint16_t> lost) {
    std::vector<uint16_t> tails;
    for (uint16_t n = 1; n <= count; ++n) {
        if (std::find(lost.begin(), lost.end(), n) == lost.end()) {
            tails.push_back(n);
        }
    }
    return tails;
}

constexpr uint16_t kPackets = 12;
constexpr long kL = ahrs::kAnglePacketLength;

TEST(Framer, FindsTheBoundaryAgainAndKeepsAnAlignedStream) {
    struct Case {
        const char* legend;
        void (*edit)(Bytes*) = nullptr;
        std::vector<uint16_t> tails;
        unsigned rejected = 0;
        unsigned realignments = 0;
    };
    const Case cases[] = {
        {.legend = "clean stream: every packet", .tails = tails_except(kPackets, {})},
        {.legend = "a byte lost in packet 4: only packet 4 is lost",
         .edit = [](Bytes* b) { b->erase(b->begin() + 3 * kL + 10); },
         .tails = tails_except(kPackets, {4}),
         .rejected = 1,
         .realignments = 1},
        {.legend = "the header of packet 4 lost",
         .edit = [](Bytes* b) { b->erase(b->begin() + 3 * kL); },
         .tails = tails_except(kPackets, {4}),
         .rejected = 1,
         .realignments = 1},
        {.legend = "a byte added in packet 4: only packet 4 is lost",
         .edit = [](Bytes* b) { b->insert(b->begin() + 3 * kL + 7, 0x55); },
         .tails = tails_except(kPackets, {4}),
         .rejected = 1,
         .realignments = 1},
        {.legend = "a stray header byte added between packets 4 and 5",
         .edit = [](Bytes* b) { b->insert(b->begin() + 4 * kL, 0xFF); },
         .tails = tails_except(kPackets, {}),
         .rejected = 1,
         .realignments = 1},
        {.legend = "a bit flipped in packet 4: packet 4 is rejected, the alignment stays",
         .edit = [](Bytes* b) { (*b)[3 * kL + 12] ^= 0x10; },
         .tails = tails_except(kPackets, {4}),
         .rejected = 1},
        {.legend = "packets 4 to 6 with wrong checksums: three rejected, the alignment stays",
         .edit =
             [](Bytes* b) {
                 for (long n = 4; n <= 6; ++n) {
                     ++(*b)[n * kL - 1];
                 }
             },
         .tails = tails_except(kPackets, {4, 5, 6}),
         .rejected = 3},
        // A header byte inside a damaged packet that starts a packet with a right checksum is not
        // taken unless the packet after it confirms it.
        {.legend = "a stray header in packet 4 whose 30 bytes sum right: the alignment stays",
         .edit =
             [](Bytes* b) {
                 const long at = 3 * kL + 10;
                 (*b)[static_cast<size_t>(at)] = 0xFF;
                 unsigned sum = 0;
                 for (long i = at + 1; i < at + kL - 1; ++i) {
                     sum += (*b)[static_cast<size_t>(i)];
                 }
                 (*b)[static_cast<size_t>(at + kL - 1)] = static_cast<uint8_t>(sum);  // in packet 5
             },
         .tails = tails_except(kPackets, {4, 5}),
         .rejected = 2},
    };
    for (const Case& c : cases) {
        for (const StreamSplit& split : testsupport::every_split()) {
            SCOPED_TRACE(std::string(c.legend) + ", " + split.describe());
            const Framed framed = frame(stream(kPackets, c.edit), split);
            EXPECT_EQ(framed.tails, c.tails);
            EXPECT_EQ(framed.rejected, c.rejected);
            EXPECT_EQ(framed.realignments, c.realignments);
        }
    }
}

// Each packet holds a header byte in its GYROX field, so a search after a rejected packet always
// waits for bytes beyond the packet behind it. When the line falls silent, that packet is judged
// with what is held.
TEST(Framer, AQuietLineDecidesTheSearchWithTheBytesHeld) {
    struct Case {
        const char* legend;
        uint16_t packets;
        void (*edit)(Bytes*);
        std::vector<uint16_t> tails;
        unsigned rejected = 0;       // once the line is quiet
        unsigned rejected_busy = 0;  // while it might still bring the bytes the search waits for
        unsigned realignments = 0;
    };
    const Case cases[] = {
        {.legend = "bad checksums on the last two packets: the last is judged at the alignment",
         .packets = 6,
         .edit = [](Bytes* b) { ++(*b)[5 * kL - 1], ++(*b)[6 * kL - 1]; },
         .tails = tails_except(6, {5, 6}),
         .rejected = 2,
         .rejected_busy = 1},
        {.legend = "a byte added in packet 4 of 5: packet 5, unconfirmed, waits for the next",
         .packets = 5,
         .edit = [](Bytes* b) { b->insert(b->begin() + 3 * kL + 7, 0x55); },
         .tails = tails_except(5, {4, 5}),
         .rejected = 2,
         .rejected_busy = 1},
        // One window in 256 of damaged bytes has a right checksum: unconfirmed, it is not taken.
        {.legend = "bad packets 5 and 6, a window from packet 5's GYROX summing right",
         .packets = 6,
         .edit =
             [](Bytes* b) {
                 uint8_t* p5 = b->data() + 4 * kL;
                 uint8_t* p6 = p5 + kL;
                 p5[kL - 1] = static_cast<uint8_t>(ahrs::packet_checksum(p5, kL) + 1);
                 uint8_t* window = std::find(p5 + 1, p5 + kL, ahrs::kHeaderByte);
                 window[kL - 1] = ahrs::packet_checksum(window, kL);  // in packet 6
                 p6[kL - 1] = static_cast<uint8_t>(ahrs::packet_checksum(p6, kL) + 1);
             },
         .tails = tails_except(6, {5, 6}),
         .rejected = 2,
         .rejected_busy = 1},
        {.legend = "a byte lost in the last packet: no whole packet behind it, nothing to judge",
         .packets = 5,
         .edit = [](Bytes* b) { b->erase(b->begin() + 4 * kL + 3); },
         .tails = tails_except(5, {5})},
    };
    for (const Case& c : cases) {
        for (const StreamSplit& split : testsupport::every_split()) {
            SCOPED_TRACE(std::string(c.legend) + ", " + split.describe());
            const Bytes bytes = stream(c.packets, c.edit);
            EXPECT_EQ(frame(bytes, split).rejected, c.rejected_busy);
            const Framed framed = frame(bytes, split, true);
            EXPECT_EQ(framed.tails, c.tails);
            EXPECT_EQ(framed.rejected, c.rejected);
            EXPECT_EQ(framed.realignments, c.realignments);
        }
    }
}

}  // namespace
