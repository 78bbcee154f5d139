// The folder a command writes into (--save, --out): made when missing, never on
// the source being read.
#pragma once

#include <string>

namespace kestrum::cli {

// Makes folder with its missing parents unless it would lie on the session's
// source. False with the reason in error; a folder that is there already is left
// to the command's own checks.
bool prepareOutputFolder(const std::string& folder, std::string& error);

}  // namespace kestrum::cli
