// The registry: keys under HKEY_CURRENT_USER and HKEY_CLASSES_ROOT holding 32-bit integers
// (REG_DWORD) and texts (REG_SZ). Each root is a text hive (platform/HiveText.h),
// ConfigDir() + "HKEY_CURRENT_USER.reg" and so on, mode 0600.
//
// Nothing is cached: every call reads the hive again, and every change rewrites it through a
// temporary file renamed into place under an exclusive flock() on "<hive>.lock", so a second
// process loses nothing and a crash never leaves half a hive. The object remembers only which
// key is open.
//
// Key paths use backslashes. A leading backslash starts at the root; without one the path is
// relative to the open key, or to the root when none is open. Key and value names compare
// without regard to (ASCII) case and keep the spelling they were created with.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

enum class TRootKey { CurrentUser, ClassesRoot };  // HKEY_CURRENT_USER, HKEY_CLASSES_ROOT

// "Failed to get data for '%s'", "Invalid data type for '%s'", "Failed to set data for '%s'";
// and for a hive that cannot be read or is damaged, a text naming the file (and the line).
class ERegistryException : public std::runtime_error {
public:
    explicit ERegistryException(const std::string& Message, std::string Detail = {})
        : std::runtime_error(Message), Detail(std::move(Detail))
    {
    }
    // What the fixed text leaves out: the hive file and the system's reason, for a failed write.
    std::string Detail;
};

// The hive File cannot be read or is damaged; every access to it fails until it is mended or
// moved aside.
class EDamagedHive : public ERegistryException {
public:
    EDamagedHive(const std::string& Message, std::string File)
        : ERegistryException(Message), File(std::move(File))
    {
    }
    std::string File;
};

// Renames the hive File to File + ".damaged-YYYYMMDD-HHMMSS" (local time; "-2", "-3" ... added
// when that name is taken), under the hive's lock, so the next change starts a new hive and
// nothing of the old one is lost. Returns the new name; throws ERegistryException naming the
// file and the reason when it cannot.
std::string MoveHiveAside(const std::string& File);

class TRegistry {
public:
    explicit TRegistry(TRootKey Root = TRootKey::CurrentUser);

    // Changing it closes the open key (checked at the next call).
    TRootKey RootKey;

    // Opens Key, creating it and its parents when CanCreate. False when it is missing and not
    // created, its path is malformed, or the hive cannot be written; the open key then stays.
    bool OpenKey(const std::string& Key, bool CanCreate);
    void CloseKey();
    // False with no key open.
    bool ValueExists(const std::string& Name);

    int32_t ReadInteger(const std::string& Name);
    void WriteInteger(const std::string& Name, int32_t Value);
    // Any non-zero integer is true; written as 1 or 0.
    bool ReadBool(const std::string& Name);
    void WriteBool(const std::string& Name, bool Value);
    // A missing value reads as "". A text holding a line break or NUL cannot be stored.
    std::string ReadString(const std::string& Name);
    void WriteString(const std::string& Name, const std::string& Value);

    // Removes Key with everything below it; false when it is missing, is the root, or the hive
    // cannot be written.
    bool DeleteKey(const std::string& Key);

    // The hive file of Root.
    static std::string HivePath(TRootKey Root);

private:
    bool Resolve(const std::string& Key, std::vector<std::string>& Path);
    void ForgetKeyOfOtherRoot();

    bool KeyOpen = false;
    std::string OpenFailure;  // why the last OpenKey could not create its key: file and reason
    TRootKey OpenRoot;
    std::vector<std::string> OpenPath;  // below the root, as asked for
};
