#include "TestSupport.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#include <atomic>
#include <chrono>
#include "platform/Registry.h"
#else
#include <sys/wait.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrum::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp: a fresh name is tried until one is made.
    for (unsigned n = 0; path_.empty(); ++n) {
        if (n == 1000) throw std::runtime_error("cannot make a temporary folder");
        // Unique across runs too: a registry store named after it outlives the folder.
        static std::atomic<unsigned> made{0};
        const fs::path candidate =
            fs::temp_directory_path() /
            ("kestrum-test-" + std::to_string(::_getpid()) + "-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
             std::to_string(made++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
#else
    std::string pattern = (fs::temp_directory_path() / "kestrum-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

ScopedRegistry::ScopedRegistry() : path_(dir_.file("registry")) {
    if (const char* p = std::getenv("KESTRUM_REGISTRY")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    setenv("KESTRUM_REGISTRY", path_.c_str(), 1);
}

ScopedRegistry::~ScopedRegistry() {
#ifdef _WIN32
    // The store lives in the registry, not in the folder: it goes with the test.
    platform::Registry store(path_);
    for (const auto root :
         {platform::RegistryRoot::ClassesRoot, platform::RegistryRoot::LocalMachine})
        for (const std::string& key : store.subKeys(root, "")) store.deleteKey(root, key);
#endif
    if (hadPrevious_)
        setenv("KESTRUM_REGISTRY", previous_.c_str(), 1);
    else
        unsetenv("KESTRUM_REGISTRY");
}

void resizeFile(const std::string& path, uint64_t bytes) {
#ifdef _WIN32
    const HANDLE h =
        CreateFileW(fs::u8path(path).wstring().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    const bool done = h != INVALID_HANDLE_VALUE &&
                      SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!done) throw std::runtime_error("cannot resize " + path);
#else
    fs::resize_file(path, bytes);
#endif
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string samplesDir() {
    const std::string dir = KESTRUM_SAMPLES_DIR;
    return fs::is_directory(dir) ? dir : std::string();
}

std::vector<uint8_t> sample(const std::string& name) {
    const std::string dir = samplesDir();
    return dir.empty() ? std::vector<uint8_t>{} : readFile(dir + "/" + name);
}

int runCommand(const std::string& command, std::string* output) {
#ifdef _WIN32
    FILE* p = ::_popen(command.c_str(), "rb");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (output) output->append(buf, n);
    return ::_pclose(p);
#else
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (output) output->append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace kestrum::test
