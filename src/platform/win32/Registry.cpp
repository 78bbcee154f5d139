// The registry store in the real registry, under the user's own hive: both roots
// of the store are keys below HKEY_CURRENT_USER\Software\Kestrum for Digital
// Media, so neither the program nor the probe needs an administrator to write
// them. The registry is atomic per call and serialises writers itself.
#include "platform/Registry.h"

#include <algorithm>

#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;
namespace {

const std::string kUserHive = "HKEY_CURRENT_USER\\";
const std::string kOwnKey = "HKEY_CURRENT_USER\\Software\\Kestrum for Digital Media";

std::string trimmedKey(const std::string& key) {
    std::string k = key;
    std::replace(k.begin(), k.end(), '/', '\\');
    while (!k.empty() && k.front() == '\\') k.erase(0, 1);
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k;
}

// The key below HKEY_CURRENT_USER that a store location names: a key path as
// given, or for any other text (a file path) a key of its own below ours, so
// that separate stores stay apart.
std::wstring baseKeyOf(const std::string& location) {
    if (location.rfind(kUserHive, 0) == 0) return widen(location.substr(kUserHive.size()));
    std::string name = location;
    for (char& c : name)
        if (c == '\\' || c == '/' || c == ':') c = '_';
    return widen(kOwnKey.substr(kUserHive.size()) + "\\Stores\\" + name);
}

std::wstring fullKey(const std::string& location, RegistryRoot root, const std::string& key) {
    std::wstring full =
        baseKeyOf(location) +
        (root == RegistryRoot::ClassesRoot ? L"\\HKEY_CLASSES_ROOT" : L"\\HKEY_LOCAL_MACHINE");
    const std::string k = trimmedKey(key);
    if (!k.empty()) full += L"\\" + widen(k);
    return full;
}

std::string why(LSTATUS status) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = text ? narrow(text, wcslen(text)) : "error " + std::to_string(status);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out;
}

// An open key, closed when it goes.
struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h) RegCloseKey(h);
    }
};

LSTATUS openKey(const std::wstring& path, REGSAM access, Key& key) {
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, &key.h);
}

}  // namespace

std::string Registry::defaultPath() {
    if (const char* p = std::getenv("KESTRUM_REGISTRY"); p && *p) return p;
    return kOwnKey;
}

Registry::Registry() : path_(defaultPath()) {}
Registry::Registry(std::string filePath) : path_(std::move(filePath)) {}

bool Registry::keyExists(RegistryRoot root, const std::string& key) const {
    Key k;
    return openKey(fullKey(path_, root, key), KEY_READ, k) == ERROR_SUCCESS;
}

bool Registry::createKey(RegistryRoot root, const std::string& key) {
    Key k;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, fullKey(path_, root, key).c_str(), 0,
                                           nullptr, 0, KEY_WRITE, nullptr, &k.h, nullptr);
    if (status == ERROR_SUCCESS) return true;
    lastError_ = "cannot create " + key + " in " + path_ + ": " + why(status);
    return false;
}

bool Registry::deleteKey(RegistryRoot root, const std::string& key) {
    if (trimmedKey(key).empty()) {
        lastError_ = "a root key cannot be deleted";
        return false;
    }
    const std::wstring full = fullKey(path_, root, key);
    if (!keyExists(root, key)) {
        lastError_ = "no key " + narrow(full);
        return false;
    }
    // With a sub-key name the tree goes with the key itself on Windows; some
    // implementations leave the emptied key, which goes next.
    LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, full.c_str());
    if (status == ERROR_SUCCESS) {
        const LSTATUS left = RegDeleteKeyW(HKEY_CURRENT_USER, full.c_str());
        if (left != ERROR_FILE_NOT_FOUND) status = left;
    }
    if (status == ERROR_SUCCESS) return true;
    lastError_ = "cannot delete " + narrow(full) + ": " + why(status);
    return false;
}

std::vector<std::string> Registry::subKeys(RegistryRoot root, const std::string& key) const {
    std::vector<std::string> out;
    Key k;
    if (openKey(fullKey(path_, root, key), KEY_READ, k) != ERROR_SUCCESS) return out;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(k.h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out.push_back(narrow(name, size));
    }
    // In the order the file store gives: by name, without regard to case.
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    });
    return out;
}

std::optional<std::string> Registry::readValue(RegistryRoot root, const std::string& key,
                                               const std::string& name) const {
    Key k;
    if (openKey(fullKey(path_, root, key), KEY_READ, k) != ERROR_SUCCESS) return std::nullopt;
    const std::wstring valueName = widen(name);
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(k.h, valueName.c_str(), nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(k.h, valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value.data()), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return narrow(value);
}

bool Registry::writeValue(RegistryRoot root, const std::string& key, const std::string& name,
                          const std::string& value) {
    Key k;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, fullKey(path_, root, key).c_str(), 0,
                                     nullptr, 0, KEY_WRITE, nullptr, &k.h, nullptr);
    if (status == ERROR_SUCCESS) {
        const std::wstring wide = widen(value);
        status = RegSetValueExW(k.h, widen(name).c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(wide.c_str()),
                                static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }
    if (status == ERROR_SUCCESS) return true;
    lastError_ = "cannot write " + name + " in " + path_ + ": " + why(status);
    return false;
}

bool Registry::deleteValue(RegistryRoot root, const std::string& key, const std::string& name) {
    Key k;
    LSTATUS status = openKey(fullKey(path_, root, key), KEY_WRITE, k);
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(k.h, widen(name).c_str());
    if (status == ERROR_SUCCESS) return true;
    lastError_ = status == ERROR_FILE_NOT_FOUND ? "no value " + name : why(status);
    return false;
}

std::vector<std::string> Registry::valueNames(RegistryRoot root, const std::string& key) const {
    std::vector<std::string> out;
    Key k;
    if (openKey(fullKey(path_, root, key), KEY_READ, k) != ERROR_SUCCESS) return out;
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD size = 16384;
        if (RegEnumValueW(k.h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out.push_back(narrow(name, size));
    }
    return out;
}

}  // namespace kestrum::platform
