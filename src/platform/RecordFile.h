// Reading the small text records the tool keeps of its own work (rescue maps,
// scan sessions) from a path the user names: a FIFO, a device or a huge file
// there must not hang the tool or fill its memory.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum::platform {

enum class RecordRead { Read, Missing, Refused };

// Reads the regular file at path whole when it is at most maxBytes long. what
// names the record in the message ("The map x.map"); *error says why on Refused.
RecordRead readRecordFile(const std::string& path, uint64_t maxBytes, const std::string& what,
                          std::string& text, std::string& error);

}  // namespace kestrum::platform
