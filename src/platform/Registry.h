// The registry store: keys with sub-keys and string values under two roots, kept
// in one text file. Every call re-reads the file under an advisory lock, and every
// change is written atomically (temporary file and rename), because the probe
// program writes the store while the desktop application waits for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrum::platform {

enum class RegistryRoot { ClassesRoot, LocalMachine };  // HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE

class Registry {
public:
    // The store at $KESTRUM_REGISTRY, else ${XDG_CONFIG_HOME:-~/.config}/kestrum/registry.
    Registry();
    explicit Registry(std::string filePath);
    static std::string defaultPath();
    const std::string& filePath() const { return path_; }

    // Key paths use backslashes ("Orv Windows\Disk0\Model") and, as on the
    // original platform, compare without regard to case.
    bool keyExists(RegistryRoot root, const std::string& key) const;
    bool createKey(RegistryRoot root, const std::string& key);  // with missing parents
    bool deleteKey(RegistryRoot root, const std::string& key);  // with all its sub-keys
    std::vector<std::string> subKeys(RegistryRoot root, const std::string& key) const;

    std::optional<std::string> readValue(RegistryRoot root, const std::string& key,
                                         const std::string& name) const;
    // Creates the key when missing.
    bool writeValue(RegistryRoot root, const std::string& key, const std::string& name,
                    const std::string& value);
    bool deleteValue(RegistryRoot root, const std::string& key, const std::string& name);
    std::vector<std::string> valueNames(RegistryRoot root, const std::string& key) const;

    // The reason of the last failed call ("cannot write ...: No space left on device").
    std::string lastError() const { return lastError_; }

private:
    std::string path_;
    mutable std::string lastError_;
};

}  // namespace kestrum::platform
