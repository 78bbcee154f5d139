// Small helpers shared by the engine tests: scratch folders, files, samples, and
// a registry store of the test's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum::test {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

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
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeFile(const std::string& path, const std::string& text);

// The shared sample folder, or empty when it is not present.
std::string samplesDir();
// A sample file's bytes; empty when the folder or the file is missing.
std::vector<uint8_t> sample(const std::string& name);

// Runs a shell command, returning its exit status and (optionally) its stdout.
int runCommand(const std::string& command, std::string* output = nullptr);

}  // namespace kestrum::test
