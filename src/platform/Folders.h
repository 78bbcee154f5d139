// Where the installation and the user's private files live.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrum::platform {

// The installation prefix: the folder above the running program's bin/ folder,
// or $KESTRUM_PREFIX when set.
std::string installPrefix();
// The folder of the running program (holds GeomProbe and the help file).
std::string programFolder();
// Stands in for the Windows folder: <prefix>/share.
std::string windowsFolder();
// A private per-user temporary folder (mode 0700, created if missing) under
// $XDG_RUNTIME_DIR or $TMPDIR (else /tmp). Ends without a separator. When the
// usual name is taken by a link or by another user, a fresh folder is made
// instead; empty when no private folder can be made at all.
std::string privateTempFolder();

// Where the logs go when the install step named no folder:
// ${XDG_DATA_HOME:-~/.local/share}/kestrum/logs, created (mode 0700) if missing.
// Empty when it cannot be made.
std::string defaultLogFolder();

// Joins a folder and a name with exactly one separator; a name written with a
// leading backslash ("\gui2.bmp") names the file gui2.bmp in the folder.
std::string joinPath(const std::string& folder, const std::string& name);

// Finds name in folder without regard to case (image0.img = Image0.img).
std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name);
// Every entry of folder whose name equals name without regard to case (all its
// case variants, links included; folders left out).
std::vector<std::string> findAllNoCase(const std::string& folder, const std::string& name);

bool fileExists(const std::string& path);
bool directoryExists(const std::string& path);

}  // namespace kestrum::platform
