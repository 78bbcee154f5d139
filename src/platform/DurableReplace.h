// Replaces a small file so that after a crash or power cut either the old or the
// new contents are there in full: the rescue map and the scan session record.
#pragma once

#include <string>

namespace kestrum::platform {

// Writes contents to a temporary file beside path, flushes it, renames it over
// path and flushes the folder. False with the reason in *error.
bool replaceDurably(const std::string& path, const std::string& contents,
                    std::string* error = nullptr);

// The whole text of a file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& contents);

}  // namespace kestrum::platform
