// MPEG transport stream carver: packets of 188 bytes (broadcast recorders) or of
// 192 with a 4-byte timecode in front (AVCHD's MTS, Blu-ray's M2TS). Every packet
// must show its sync byte at the stride, and each stream's continuity counter
// must step on; the file ends where either fails.
#include "carve/TransportStreamCarver.h"

#include <array>
#include <vector>

namespace kestrum::carve {
namespace {

constexpr std::array<std::string_view, 1> kTypes{"MTS"};
constexpr uint8_t kSync = 0x47;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr size_t kPacketsPerRead = 512;
constexpr uint64_t kMaxPackets = uint64_t{1} << 32;

// A stream's first packet: the program tables or service information (PIDs
// below 0x20) starting a section, with no transport error.
bool firstPacket(const uint8_t* p) {
    const uint16_t pid = (p[1] & 0x1F) << 8 | p[2];
    return p[0] == kSync && (p[1] & 0xC0) == 0x40 && pid < 0x20 && (p[3] & 0x30) != 0;
}

int strideOf(const uint8_t* s) {
    if (s[0] == kSync && s[188] == kSync && s[376] == kSync && firstPacket(s)) return 188;
    if (s[4] == kSync && s[196] == kSync && s[388] == kSync && firstPacket(s + 4)) return 192;
    return 0;
}

bool quick(const uint8_t* s) {
    return strideOf(s) != 0;
}

std::optional<Carved> carve(ByteReader& r) {
    uint8_t s[512];
    if (!r.readExact(0, s, sizeof s)) return std::nullopt;
    const int stride = strideOf(s);
    if (stride == 0) return std::nullopt;
    const size_t lead = static_cast<size_t>(stride - 188);  // the timecode's bytes

    std::vector<int8_t> counters(8192, -1);  // the last continuity counter per PID
    std::vector<uint8_t> buf(kPacketsPerRead * static_cast<size_t>(stride));
    uint64_t off = 0, packets = 0;
    bool partial = false, broken = false;
    while (!broken && packets < kMaxPackets) {
        const size_t got = r.read(off, buf.data(), buf.size());
        const size_t whole = got / static_cast<size_t>(stride);
        for (size_t i = 0; i < whole; ++i) {
            const uint8_t* p = buf.data() + i * static_cast<size_t>(stride) + lead;
            const uint16_t pid = (p[1] & 0x1F) << 8 | p[2];
            const uint8_t control = (p[3] >> 4) & 3;
            if (p[0] != kSync || control == 0) {
                broken = true;
                break;
            }
            if (pid != kNullPid && (control & 1)) {
                const int8_t cc = static_cast<int8_t>(p[3] & 15);
                const int8_t last = counters[pid];
                // A repeated packet keeps its counter; a flagged discontinuity may jump.
                const bool discontinuity = (control & 2) && p[4] > 0 && (p[5] & 0x80);
                if (last >= 0 && cc != ((last + 1) & 15) && cc != last && !discontinuity) {
                    broken = true;
                    break;
                }
                counters[pid] = cc;
            }
            off += static_cast<uint64_t>(stride);
            ++packets;
        }
        if (whole < kPacketsPerRead) {
            // The limit cuts a packet: the stream goes on past what may be read.
            partial = !broken && got % static_cast<size_t>(stride) != 0;
            break;
        }
    }
    if (packets < 3) return std::nullopt;
    return Carved{"MTS", off, partial || packets >= kMaxPackets};
}

}  // namespace

const CarverEntry& transportStreamCarver() {
    static const CarverEntry kEntry{"MPEG transport stream", kTypes, quick, carve};
    return kEntry;
}

}  // namespace kestrum::carve
