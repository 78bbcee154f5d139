// Small helpers shared by the engine tests: scratch folders, files, samples, and
// a registry store of the test's own.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
// The POSIX environment calls the tests use, on the C runtime's own (an empty
// value removes a variable there).
inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    return ::_putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return ::_putenv_s(name, "");
}
#endif

// Skips the running test on Windows, naming the Linux facility it needs there
// (fork, FUSE, loop devices, setuid, /sys, UDisks2, a POSIX shell...), so that the
// Windows run says what it left out and why.
#ifdef _WIN32
#define KESTRUM_LINUX_ONLY(facility) GTEST_SKIP() << "Linux-only: needs " << (facility)
#else
#define KESTRUM_LINUX_ONLY(facility) static_cast<void>(0)
#endif

namespace kestrum::test {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // A path inside, joined with the system's own separator as its programs do.
    std::string file(const std::string& name) const { return path_ + kSeparator + name; }

private:
    std::string path_;
};

// Points $KESTRUM_REGISTRY at a store inside a temporary folder for the object's
// lifetime, and restores the previous value afterwards.
class ScopedRegistry {
public:
    ScopedRegistry();
    ~ScopedRegistry();
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

std::vector<uint8_t> readFile(const std::string& path);
// A path as the file system compares it: on Windows without case, where a name
// found may come back in the spelling it was sought in.
inline std::string caseFolded(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
    return path;
}

// Sets the size of an existing file; growing leaves a hole that reads as zeros
// (beyond 4 GiB too, which the C runtime of Windows cannot).
void resizeFile(const std::string& path, uint64_t bytes);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeFile(const std::string& path, const std::string& text);

// The shared sample folder, or empty when it is not present.
std::string samplesDir();
// A sample file's bytes; empty when the folder or the file is missing.
std::vector<uint8_t> sample(const std::string& name);

// Runs a shell command, returning its exit status and (optionally) its stdout.
int runCommand(const std::string& command, std::string* output = nullptr);

}  // namespace kestrum::test
