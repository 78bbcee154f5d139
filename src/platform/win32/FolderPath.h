// The path of a folder held open by a descriptor (FolderHandle), for the calls
// that take a name inside it. The held handle does not let the folder be renamed
// or removed, so the path stays the folder's while it is open.
#pragma once

#include <string>

namespace kestrum::platform::win32 {

// Empty when folderFd holds no folder.
std::string folderPathOf(int folderFd);

}  // namespace kestrum::platform::win32
