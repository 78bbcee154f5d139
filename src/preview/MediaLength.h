// How much of a carved media file its own container claims. A copy made of whole
// sectors carries the slack of its last sector (and, cut by the scan, maybe more)
// after the file's end; GStreamer's WAV and MIDI parsers read on into those bytes
// and then play nothing, so the player is given only the part the header names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrum {

// The length the file's container states, when the file is a RIFF WAVE or a
// standard MIDI file and is longer than that, and for an AIFF always (no more than
// the file holds); otherwise none (play it whole).
std::optional<uint64_t> declaredMediaLength(const std::string& path);

}  // namespace kestrum
