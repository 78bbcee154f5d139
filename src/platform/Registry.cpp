// The registry store, kept in one text file in the shape of a .reg export.
#include "platform/Registry.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kestrum::platform {
namespace {

// The file holds one section per key, in the familiar .reg shape:
//   [HKEY_CLASSES_ROOT\Orv Windows\Disk0]
//   "Model"="QEMU HARDDISK"
// Keys and value names compare without regard to case, as on the original
// platform; their first spelling is kept.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return ::strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};
using Values = std::map<std::string, std::string, NoCaseLess>;
using Tree = std::map<std::string, Values, NoCaseLess>;

std::string rootName(RegistryRoot root) {
    return root == RegistryRoot::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
}

std::string normalisedKey(const std::string& key) {
    std::string k;
    for (char c : key) {
        if (c == '/') c = '\\';
        if (c == '\\' && (k.empty() || k.back() == '\\')) continue;
        k += c;
    }
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k;
}

std::string fullKey(RegistryRoot root, const std::string& key) {
    const std::string k = normalisedKey(key);
    return k.empty() ? rootName(root) : rootName(root) + "\\" + k;
}

bool isBelow(const std::string& key, const std::string& parent) {
    return key.size() > parent.size() + 1 && key[parent.size()] == '\\' &&
           ::strncasecmp(key.c_str(), parent.c_str(), parent.size()) == 0;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// Reads a quoted string starting at pos (at the opening quote); pos ends after it.
bool unquote(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size()) {
            c = line[++pos];
            if (c == 'n') c = '\n';
        }
        out += c;
    }
    return false;
}

Tree parse(std::istream& in) {
    Tree tree;
    std::string line;
    Values* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &tree[line.substr(1, line.size() - 2)];
        } else if (current && !line.empty() && line.front() == '"') {
            size_t pos = 0;
            std::string name, value;
            if (!unquote(line, pos, name) || pos >= line.size() || line[pos] != '=') continue;
            ++pos;
            if (unquote(line, pos, value)) (*current)[name] = value;
        }
    }
    return tree;
}

// Holds the advisory lock on "<store>.lock" for the lifetime of the object.
class StoreLock {
public:
    StoreLock(const std::string& path, bool exclusive) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = "cannot lock " + path + ": " + std::strerror(errno);
            return;
        }
        int rc;
        while ((rc = ::flock(fd_, exclusive ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {
        }
        if (rc != 0) error_ = "cannot lock " + path + ": " + std::strerror(errno);
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool held() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// A missing store is an empty one; a store that exists but cannot be read is an
// error, so that a change never replaces it with a tree holding only the change.
bool load(const std::string& path, Tree& tree, std::string& error) {
    tree.clear();
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) return true;
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    tree = parse(in);
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

Tree load(const std::string& path) {
    Tree tree;
    std::string ignored;
    load(path, tree, ignored);
    return tree;
}

// Writers share this opening: the lock, a key that the file format can hold, and
// the current tree.
bool beginChange(const StoreLock& lock, const std::string& path, const std::string& key, Tree& tree,
                 std::string& error) {
    if (!lock.held()) {
        error = lock.error();
        return false;
    }
    if (key.find('\n') != std::string::npos) {
        error = "a key name cannot hold a line break";
        return false;
    }
    return load(path, tree, error);
}

bool save(const std::string& path, const Tree& tree, std::string& error) {
    std::ostringstream out;
    out << "; Kestrum registry store\n";
    for (const auto& [key, values] : tree) {
        out << '[' << key << "]\n";
        for (const auto& [name, value] : values) out << quote(name) << '=' << quote(value) << '\n';
    }
    const std::string data = out.str();
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string Registry::defaultPath() {
    if (const char* p = std::getenv("KESTRUM_REGISTRY"); p && *p) return p;
    std::string config;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        config = x;
    else
        config = std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.config";
    return config + "/kestrum/registry";
}

Registry::Registry() : path_(defaultPath()) {}
Registry::Registry(std::string filePath) : path_(std::move(filePath)) {}

bool Registry::keyExists(RegistryRoot root, const std::string& key) const {
    StoreLock lock(path_, false);
    const Tree tree = load(path_);
    const std::string k = fullKey(root, key);
    if (tree.count(k)) return true;
    for (const auto& entry : tree)
        if (isBelow(entry.first, k)) return true;
    return false;
}

bool Registry::createKey(RegistryRoot root, const std::string& key) {
    StoreLock lock(path_, true);
    Tree tree;
    if (!beginChange(lock, path_, key, tree, lastError_)) return false;
    tree[fullKey(root, key)];
    return save(path_, tree, lastError_);
}

bool Registry::deleteKey(RegistryRoot root, const std::string& key) {
    if (normalisedKey(key).empty()) {
        lastError_ = "a root key cannot be deleted";
        return false;
    }
    StoreLock lock(path_, true);
    Tree tree;
    if (!beginChange(lock, path_, key, tree, lastError_)) return false;
    const std::string k = fullKey(root, key);
    bool found = false;
    for (auto it = tree.begin(); it != tree.end();) {
        if (::strcasecmp(it->first.c_str(), k.c_str()) == 0 || isBelow(it->first, k)) {
            it = tree.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    if (!found) {
        lastError_ = "no key " + k;
        return false;
    }
    return save(path_, tree, lastError_);
}

std::vector<std::string> Registry::subKeys(RegistryRoot root, const std::string& key) const {
    StoreLock lock(path_, false);
    const Tree tree = load(path_);
    const std::string k = fullKey(root, key);
    std::map<std::string, bool, NoCaseLess> names;
    for (const auto& entry : tree) {
        if (!isBelow(entry.first, k)) continue;
        const std::string rest = entry.first.substr(k.size() + 1);
        names[rest.substr(0, rest.find('\\'))] = true;
    }
    std::vector<std::string> out;
    for (const auto& n : names) out.push_back(n.first);
    return out;
}

std::optional<std::string> Registry::readValue(RegistryRoot root, const std::string& key,
                                               const std::string& name) const {
    StoreLock lock(path_, false);
    const Tree tree = load(path_);
    const auto it = tree.find(fullKey(root, key));
    if (it == tree.end()) return std::nullopt;
    const auto v = it->second.find(name);
    if (v == it->second.end()) return std::nullopt;
    return v->second;
}

bool Registry::writeValue(RegistryRoot root, const std::string& key, const std::string& name,
                          const std::string& value) {
    StoreLock lock(path_, true);
    Tree tree;
    if (!beginChange(lock, path_, key, tree, lastError_)) return false;
    auto& values = tree[fullKey(root, key)];
    // Keep the first spelling of a name, as the original platform does.
    if (auto it = values.find(name); it != values.end())
        it->second = value;
    else
        values.emplace(name, value);
    return save(path_, tree, lastError_);
}

bool Registry::deleteValue(RegistryRoot root, const std::string& key, const std::string& name) {
    StoreLock lock(path_, true);
    Tree tree;
    if (!beginChange(lock, path_, key, tree, lastError_)) return false;
    const auto it = tree.find(fullKey(root, key));
    if (it == tree.end() || it->second.erase(name) == 0) {
        lastError_ = "no value " + name;
        return false;
    }
    return save(path_, tree, lastError_);
}

std::vector<std::string> Registry::valueNames(RegistryRoot root, const std::string& key) const {
    StoreLock lock(path_, false);
    const Tree tree = load(path_);
    std::vector<std::string> out;
    if (const auto it = tree.find(fullKey(root, key)); it != tree.end())
        for (const auto& v : it->second) out.push_back(v.first);
    return out;
}

}  // namespace kestrum::platform
