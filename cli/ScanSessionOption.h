// `scan --session FILE`: the scan is recorded as it goes and continued from the
// record when the same command runs again.
#pragma once

#include <memory>
#include <string>

#include "Args.h"
#include "scan/ScanSession.h"

namespace kestrum::cli {

// The options this adds to the scan command.
inline const char* const kSessionValued[] = {"--session", "--save-every"};

// Opens the session that --session names for this source, range and the
// selection in types; null with a message when the record belongs to another
// scan or cannot be read, or when --save-every is given without --session.
// Without --session: null and no error.
std::unique_ptr<ScanSession> openScanSession(const ParsedArgs& parsed, const std::string& source,
                                             uint64_t sourceBytes, uint64_t start, uint64_t end,
                                             const TypeList& types, std::string& error);

}  // namespace kestrum::cli
