// The activity log and the recovery log: plain-text files, one line break and at
// most 200 bytes per append, restarted beyond 5 MiB.
#pragma once

#include <string>

namespace kestrum {

enum class LogKind { Activity = 0, Recovery = 1 };

// Built afresh for every call from the registry: the kind's folder value, else
// "FilePath", else the default log folder; empty when none of them can be used.
std::string logPath(LogKind kind);

// Appends 0D 0A and the text (cut at 200 bytes, on a character boundary).
// 1 when the text was written, else 0. Appends from several threads are
// serialised; none is dropped.
int appendLog(LogKind kind, const std::string& text);

// Opens the log in the text viewer, or tells the user it is missing.
void viewLog(LogKind kind);

// Deletes the log after the user confirms, or tells the user it is missing.
void clearLog(LogKind kind);

}  // namespace kestrum
