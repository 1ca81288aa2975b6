#include "platform/Registry.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileHandle.h"
#include "platform/Files.h"
#include "platform/HiveText.h"
#include "platform/UserDirs.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t MaxHiveSize = 16u << 20;  // far beyond any real hive; refuses runaway files

std::string RootName(TRootKey Root)
{
    return Root == TRootKey::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

bool Under(const std::vector<std::string>& Path, const std::vector<std::string>& Top)
{
    if (Path.size() < Top.size())
        return false;
    for (size_t I = 0; I < Top.size(); ++I)
        if (!SameName(Path[I], Top[I]))
            return false;
    return true;
}

// ---- the hive in memory ----

THiveKey* FindKey(THive& Hive, const std::vector<std::string>& Path)
{
    for (auto& Key : Hive.Keys)
        if (Key.Path.size() == Path.size() && Under(Key.Path, Path))
            return &Key;
    return nullptr;
}

// The root is always there.
bool HasKey(THive& Hive, const std::vector<std::string>& Path)
{
    return Path.empty() || FindKey(Hive, Path);
}

THiveLine* FindValue(THive& Hive, const std::vector<std::string>& Path, std::string_view Name)
{
    THiveKey* Key = FindKey(Hive, Path);
    if (!Key)
        return nullptr;
    for (auto& Line : Key->Lines)
        if (Line.IsValue() && SameName(Line.Name, Name))
            return &Line;
    return nullptr;
}

// ---- changes ----

enum class TChange { None, Made, Refused };

TChange CreateKey(THive& Hive, const std::vector<std::string>& Path)
{
    TChange Result = TChange::None;
    std::vector<std::string> Spelled;  // the path as the hive spells it
    for (const auto& Part : Path) {
        std::vector<std::string> Asked = Spelled;
        Asked.push_back(Part);
        if (THiveKey* Known = FindKey(Hive, Asked)) {
            Spelled = Known->Path;
            continue;
        }
        // Below the last key of the parent's subtree, so each subtree stays together.
        size_t At = Hive.Keys.size();
        if (!Spelled.empty()) {
            for (size_t I = 0; I < Hive.Keys.size(); ++I)
                if (Under(Hive.Keys[I].Path, Spelled))
                    At = I + 1;
        }
        Hive.Keys.insert(Hive.Keys.begin() + long(At), THiveKey{Asked, {}});
        Spelled = std::move(Asked);
        Result = TChange::Made;
    }
    return Result;
}

// Replaces the value of that name, whatever its type, keeping its spelling and place.
TChange SetValue(THive& Hive, const std::vector<std::string>& Path, const THiveLine& Value)
{
    THiveKey* Key = FindKey(Hive, Path);
    if (!Key && Path.empty()) {
        Hive.Keys.insert(Hive.Keys.begin(), THiveKey{});
        Key = &Hive.Keys.front();
    }
    if (!Key)
        return TChange::Refused;  // deleted since it was opened
    for (auto& Line : Key->Lines) {
        if (!Line.IsValue() || !SameName(Line.Name, Value.Name))
            continue;
        if (Line.Kind == Value.Kind && Line.Text == Value.Text && Line.Dword == Value.Dword)
            return TChange::None;
        Line = {Value.Kind, Line.Name, Value.Text, Value.Dword};
        return TChange::Made;
    }
    Key->Lines.push_back(Value);
    return TChange::Made;
}

TChange RemoveKey(THive& Hive, const std::vector<std::string>& Path)
{
    if (Path.empty() || !FindKey(Hive, Path))
        return TChange::Refused;
    std::erase_if(Hive.Keys, [&](const THiveKey& Key) { return Under(Key.Path, Path); });
    return TChange::Made;
}

// ---- the hive file ----

bool Lock(int Fd, int Operation)
{
    while (::flock(Fd, Operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

[[noreturn]] void CannotRead(const std::string& Path, const std::string& Why)
{
    throw EDamagedHive("Cannot read the registry file '" + Path + "': " + Why, Path);
}

// The file's text; "" when there is none.
std::string ReadHiveText(const std::string& Path)
{
    const TFileHandle File(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!File.Valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        CannotRead(Path, std::strerror(errno));
    }
    struct stat Info {};
    if (::fstat(File.Get(), &Info) != 0)
        CannotRead(Path, std::strerror(errno));
    if (!S_ISREG(Info.st_mode))
        CannotRead(Path, "not a regular file");
    std::string Text;
    const int64_t Total = ReadAll(File.Get(), MaxHiveSize,
                                  [&Text](const char* Bytes, size_t Count) { Text.append(Bytes, Count); });
    if (Total < 0)
        CannotRead(Path, std::strerror(errno));
    if (Total > int64_t(MaxHiveSize))
        CannotRead(Path, "larger than " + std::to_string(MaxHiveSize >> 20) + " MiB");
    return Text;
}

THive ParseHive(const std::string& Path, TRootKey Root)
{
    return ParseHiveText(ReadHiveText(Path), RootName(Root), Path);
}

// Written whole and put into place in one step (TAtomicFile), synced. A hive that is a symbolic
// link is replaced where the link points, so the link stays. 0, or the error number.
int ReplaceHive(const std::string& Path, const std::string& Text)
{
    std::string Target = Path;
    struct stat Info {};
    if (::lstat(Path.c_str(), &Info) == 0 && S_ISLNK(Info.st_mode)) {
        if (char* Real = ::realpath(Path.c_str(), nullptr)) {
            Target = Real;
            std::free(Real);
        }
    }
    return ReplaceFileWithText(Target, Text, 0600, true);
}

THive ReadHive(TRootKey Root)
{
    const std::string Path = TRegistry::HivePath(Root);
    const std::string LockPath = Path + ".lock";
    TFileHandle LockFile(::open(LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!LockFile.Valid())
        LockFile.Reset(::open(LockPath.c_str(), O_RDONLY | O_CLOEXEC));
    // Without a lock file (no folder yet, or a read-only one) the read is still whole: writers
    // only ever rename complete files into place.
    if (LockFile.Valid())
        Lock(LockFile.Get(), LOCK_SH);
    return ParseHive(Path, Root);
}

enum class TOutcome { Unchanged, Written, Refused, WriteFailed };

// The hive's lock file, held exclusively; invalid when it cannot be, with errno saying why.
TFileHandle LockExclusively(const std::string& Path)
{
    TFileHandle LockFile(::open((Path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (LockFile.Valid() && !Lock(LockFile.Get(), LOCK_EX))
        LockFile.Reset();
    return LockFile;
}

// Reads, changes and rewrites the hive under the exclusive lock. A hive that cannot be read
// or parsed throws and is never overwritten. A failed write leaves in Failure the file and
// the system's reason.
TOutcome ChangeHive(TRootKey Root, const std::function<TChange(THive&)>& Change,
                    std::string& Failure)
{
    std::string Path;
    try {
        Path = EnsureConfigDir(ConfigDir()) + RootName(Root) + ".reg";
    } catch (const EAPIException& Error) {
        Failure = Error.what();
        return TOutcome::WriteFailed;
    }
    const TFileHandle LockFile = LockExclusively(Path);
    if (!LockFile.Valid()) {
        Failure = Path + ".lock: " + std::strerror(errno);
        return TOutcome::WriteFailed;
    }
    THive Hive = ParseHive(Path, Root);
    switch (Change(Hive)) {
    case TChange::None: return TOutcome::Unchanged;
    case TChange::Refused: return TOutcome::Refused;
    case TChange::Made: break;
    }
    if (const int Error = ReplaceHive(Path, HiveText(Hive, RootName(Root)))) {
        Failure = Path + ": " + std::strerror(Error);
        return TOutcome::WriteFailed;
    }
    return TOutcome::Written;
}

TOutcome ChangeHive(TRootKey Root, const std::function<TChange(THive&)>& Change)
{
    std::string Failure;
    return ChangeHive(Root, Change, Failure);
}

ERegistryException GetFailed(const std::string& Name, const std::string& Failure = {})
{
    return ERegistryException("Failed to get data for '" + Name + "'", Failure);
}

ERegistryException InvalidType(const std::string& Name)
{
    return ERegistryException("Invalid data type for '" + Name + "'");
}

ERegistryException SetFailed(const std::string& Name, const std::string& Failure = {})
{
    return ERegistryException("Failed to set data for '" + Name + "'", Failure);
}

// The value Name of the key at Path when it is of Kind; none when it is missing.
std::optional<THiveLine> ReadValue(TRootKey Root, const std::vector<std::string>& Path,
                                   const std::string& Name, THiveLineKind Kind)
{
    THive Hive = ReadHive(Root);
    const THiveLine* Value = FindValue(Hive, Path, Name);
    if (!Value)
        return std::nullopt;
    if (Value->Kind != Kind)
        throw InvalidType(Name);
    return *Value;
}

} // namespace

TRegistry::TRegistry(TRootKey Root) : RootKey(Root), OpenRoot(Root) {}

std::string TRegistry::HivePath(TRootKey Root) { return ConfigDir() + RootName(Root) + ".reg"; }

void TRegistry::ForgetKeyOfOtherRoot()
{
    if (KeyOpen && OpenRoot != RootKey)
        CloseKey();
}

bool TRegistry::Resolve(const std::string& Key, std::vector<std::string>& Path)
{
    ForgetKeyOfOtherRoot();
    std::string_view Rest = Key;
    if (Rest.starts_with('\\')) {
        Path.clear();
        Rest.remove_prefix(1);
    } else {
        Path = KeyOpen ? OpenPath : std::vector<std::string>{};
    }
    while (Rest.ends_with('\\'))
        Rest.remove_suffix(1);
    while (!Rest.empty()) {
        const size_t Slash = Rest.find('\\');
        const std::string_view Part = Rest.substr(0, Slash);
        if (!ValidKeyName(Part))
            return false;
        Path.emplace_back(Part);
        Rest.remove_prefix(Slash == std::string_view::npos ? Rest.size() : Slash + 1);
    }
    return true;
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate)
{
    OpenFailure.clear();
    std::vector<std::string> Path;
    if (!Resolve(Key, Path))
        return false;
    THive Hive = ReadHive(RootKey);
    if (!HasKey(Hive, Path)) {
        if (!CanCreate)
            return false;
        const TOutcome Outcome = ChangeHive(
            RootKey, [&](THive& Latest) { return CreateKey(Latest, Path); }, OpenFailure);
        if (Outcome == TOutcome::WriteFailed)
            return false;
    }
    KeyOpen = true;
    OpenRoot = RootKey;
    OpenPath = std::move(Path);
    return true;
}

void TRegistry::CloseKey()
{
    OpenFailure.clear();
    KeyOpen = false;
    OpenPath.clear();
}

bool TRegistry::ValueExists(const std::string& Name)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen)
        return false;
    THive Hive = ReadHive(RootKey);
    return FindValue(Hive, OpenPath, Name) != nullptr;
}

int32_t TRegistry::ReadInteger(const std::string& Name)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen)
        throw GetFailed(Name, OpenFailure);
    const auto Value = ReadValue(RootKey, OpenPath, Name, THiveLineKind::Dword);
    if (!Value)
        throw GetFailed(Name);
    return std::bit_cast<int32_t>(Value->Dword);
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen || !FitsOnALine(Name))
        throw SetFailed(Name, OpenFailure);
    const THiveLine Entry{THiveLineKind::Dword, Name, "", std::bit_cast<uint32_t>(Value)};
    std::string Failure;
    const TOutcome Outcome = ChangeHive(
        RootKey, [&](THive& Hive) { return SetValue(Hive, OpenPath, Entry); }, Failure);
    if (Outcome == TOutcome::Refused || Outcome == TOutcome::WriteFailed)
        throw SetFailed(Name, Failure);
}

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }

void TRegistry::WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

std::string TRegistry::ReadString(const std::string& Name)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen)
        throw GetFailed(Name, OpenFailure);
    const auto Value = ReadValue(RootKey, OpenPath, Name, THiveLineKind::String);
    return Value ? Value->Text : "";
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen || !FitsOnALine(Name) || !FitsOnALine(Value))
        throw SetFailed(Name, OpenFailure);
    const THiveLine Entry{THiveLineKind::String, Name, Value, 0};
    std::string Failure;
    const TOutcome Outcome = ChangeHive(
        RootKey, [&](THive& Hive) { return SetValue(Hive, OpenPath, Entry); }, Failure);
    if (Outcome == TOutcome::Refused || Outcome == TOutcome::WriteFailed)
        throw SetFailed(Name, Failure);
}

bool TRegistry::DeleteKey(const std::string& Key)
{
    std::vector<std::string> Path;
    if (!Resolve(Key, Path) || Path.empty())
        return false;
    THive Hive = ReadHive(RootKey);
    if (!FindKey(Hive, Path))
        return false;
    return ChangeHive(RootKey, [&](THive& Latest) { return RemoveKey(Latest, Path); }) ==
           TOutcome::Written;
}

std::string MoveHiveAside(const std::string& File)
{
    const TFileHandle LockFile = LockExclusively(File);
    const std::time_t Now = std::time(nullptr);
    std::tm Local {};
    char Stamp[32] = "";
    if (::localtime_r(&Now, &Local))
        std::strftime(Stamp, sizeof Stamp, "%Y%m%d-%H%M%S", &Local);
    const std::string Base = File + ".damaged-" + Stamp;
    std::string Aside = Base;
    int Error = RenameWithoutReplacing(File, Aside);
    for (int Number = 2; Error == EEXIST && Number < 100; ++Number) {
        Aside = Base + "-" + std::to_string(Number);
        Error = RenameWithoutReplacing(File, Aside);
    }
    if (Error != 0)
        throw ERegistryException("Cannot move the registry file '" + File + "' aside",
                                 Aside + ": " + std::strerror(Error));
    return Aside;
}
