// A folder the engines write files into, held open so that nothing below it is
// reached through a link: sub-folders and files are opened by name relative to it,
// never following a link, so a link planted at DIR/JPEG cannot send a saved file
// onto another disk (the source being read, for one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/OutputFile.h"

namespace kestrum::platform {

class FolderHandle {
public:
    // Opens the folder path itself (a link the user named is followed: it was their
    // choice). Null on failure, with the errno in *error.
    static std::unique_ptr<FolderHandle> open(const std::string& path, int* error = nullptr);

    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // The folder name inside this one, made (0755) when missing. A link or a file
    // in its place is refused (ELOOP, ENOTDIR), never followed.
    std::unique_ptr<FolderHandle> subfolder(const std::string& name, int* error = nullptr) const;

    // True when any entry called name is here (a link is not followed).
    bool has(const std::string& name) const;
    // Creates name as a new empty file, first removing any file or link of that
    // name (never what a link points to). Null on failure, errno in *error.
    std::unique_ptr<OutputFile> create(const std::string& name, int* error = nullptr) const;
    // Gives the entry from the name to, in one step. With replace, an entry at to
    // is replaced; without, the move fails with EEXIST and nothing changes.
    bool rename(const std::string& from, const std::string& to, bool replace,
                int* error = nullptr) const;
    // Removes the file or link name; true when nothing is left there.
    bool remove(const std::string& name) const;
    // True when a and b are both plain files holding the same bytes.
    bool sameContents(const std::string& a, const std::string& b) const;
    // Whether a file can be made here: 0, or the errno of the failed trial.
    int writeProblem() const;

private:
    explicit FolderHandle(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace kestrum::platform
