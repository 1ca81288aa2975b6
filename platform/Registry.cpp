#include "platform/Registry.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/UserDirs.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

const std::string_view ExportHeader = "Windows Registry Editor Version 5.00";
constexpr size_t MaxHiveSize = 16u << 20;  // far beyond any real hive; refuses runaway files
constexpr size_t MaxKeyNameLength = 255;
// Every key holds its whole path, and its parents are keys too: the names in all keys' paths
// together are bounded, or a small file of very deep keys would take all memory and time. Far
// beyond any real hive.
constexpr size_t MaxPathNames = 1u << 16;

std::string RootName(TRootKey Root)
{
    return Root == TRootKey::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

char Fold(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

bool SameName(std::string_view A, std::string_view B)
{
    if (A.size() != B.size())
        return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (Fold(A[I]) != Fold(B[I]))
            return false;
    return true;
}

std::string Folded(std::string_view S)
{
    std::string Out(S);
    for (char& C : Out)
        C = Fold(C);
    return Out;
}

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

std::string_view Trimmed(std::string_view S)
{
    while (!S.empty() && IsBlank(S.front()))
        S.remove_prefix(1);
    while (!S.empty() && IsBlank(S.back()))
        S.remove_suffix(1);
    return S;
}

int HexDigit(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    C = Fold(C);
    return C >= 'a' && C <= 'f' ? C - 'a' + 10 : -1;
}

// A key name cannot hold a backslash (the separator) nor anything that would break its line.
bool ValidKeyName(std::string_view Name)
{
    if (Name.empty() || Name.size() > MaxKeyNameLength)
        return false;
    for (char C : Name)
        if (static_cast<unsigned char>(C) < 0x20 || C == '\\')
            return false;
    return true;
}

// Texts and value names are written on one quoted line.
bool FitsOnALine(std::string_view S)
{
    return S.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
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

std::string FoldedPath(const std::vector<std::string>& Path)
{
    std::string Out;
    for (const auto& Part : Path)
        Out += '\\' + Folded(Part);
    return Out;
}

// ---- the hive in memory ----

enum class TKind { Other, Dword, String, Raw };

struct TEntry {
    TKind Kind = TKind::Other;
    std::string Name;    // values only
    std::string Text;    // String: the text; Raw and Other: the lines as found, kept verbatim
    uint32_t Dword = 0;
};

struct TSection {
    std::vector<std::string> Path;  // below the root
    std::vector<TEntry> Entries;
};

// Every key has its own section (parents included), in file order. The root is always there;
// it has a section only when it holds values.
struct THive {
    std::vector<std::string> Preamble;  // comments before the first key
    std::vector<TSection> Sections;
};

TSection* FindSection(THive& Hive, const std::vector<std::string>& Path)
{
    for (auto& Section : Hive.Sections)
        if (Section.Path.size() == Path.size() && Under(Section.Path, Path))
            return &Section;
    return nullptr;
}

bool HasKey(THive& Hive, const std::vector<std::string>& Path)
{
    return Path.empty() || FindSection(Hive, Path);
}

TEntry* FindValue(THive& Hive, const std::vector<std::string>& Path, std::string_view Name)
{
    TSection* Section = FindSection(Hive, Path);
    if (!Section)
        return nullptr;
    for (auto& Entry : Section->Entries)
        if (Entry.Kind != TKind::Other && SameName(Entry.Name, Name))
            return &Entry;
    return nullptr;
}

// ---- reading the export format ----

class THiveParser {
public:
    THiveParser(std::string_view Text, const std::string& File, const std::string& Root)
        : Text(Text), File(File), Root(Root)
    {
    }

    THive Parse()
    {
        if (Text.empty())
            return {};  // as a missing file: nothing stored yet
        if (Text.starts_with("\xEF\xBB\xBF"))
            Text.remove_prefix(3);
        if (Text.starts_with("\xFF\xFE") || Text.starts_with("\xFE\xFF"))
            Fail(1, "the file is UTF-16 text; it must be UTF-8");
        if (const size_t Nul = Text.find('\0'); Nul != std::string_view::npos)
            Fail(1 + size_t(std::count(Text.begin(), Text.begin() + long(Nul), '\n')),
                 "the line holds a NUL byte");
        std::string_view Line;
        if (!NextLine(Line) || Trimmed(Line) != ExportHeader)
            Fail(1, "the first line is not \"" + std::string(ExportHeader) + "\"");
        while (NextLine(Line)) {
            const std::string_view T = Trimmed(Line);
            if (T.empty())
                continue;
            if (T.front() == ';') {
                if (Hive.Sections.empty())
                    Hive.Preamble.emplace_back(Line);
                else
                    Hive.Sections.back().Entries.push_back({TKind::Other, "", std::string(Line), 0});
            } else if (T.front() == '[') {
                KeyLine(T);
            } else if (T.front() == '"' || T.front() == '@') {
                ValueLine(Line, T);
            } else {
                Fail(LineNo, "the line is not understood");
            }
        }
        AddImpliedParents();
        return std::move(Hive);
    }

private:
    [[noreturn]] void Fail(size_t Line, const std::string& What) const
    {
        throw ERegistryException("Damaged registry file '" + File + "', line " +
                                 std::to_string(Line) + ": " + What);
    }

    bool NextLine(std::string_view& Line)
    {
        if (Pos >= Text.size())
            return false;
        const size_t End = Text.find('\n', Pos);
        const size_t Stop = End == std::string_view::npos ? Text.size() : End;
        Line = Text.substr(Pos, Stop - Pos);
        // A line end converted twice by a text-mode copy ("\r\r\n") is still one line end; a
        // carriage return kept in a line would be lost at the next write, changing the hive.
        while (!Line.empty() && Line.back() == '\r')
            Line.remove_suffix(1);
        Pos = Stop == Text.size() ? Stop : Stop + 1;
        ++LineNo;
        return true;
    }

    void KeyLine(std::string_view T)
    {
        const size_t Close = T.rfind(']');
        if (Close == std::string_view::npos)
            Fail(LineNo, "the key line has no closing bracket");
        if (Close + 1 != T.size())
            Fail(LineNo, "text after the key's closing bracket");
        std::string_view Inner = T.substr(1, Close - 1);
        if (Inner.starts_with('-'))
            Fail(LineNo, "a key deletion does not belong in a stored hive");
        std::vector<std::string> Path;
        size_t At = 0;
        bool First = true;
        while (true) {
            const size_t Slash = Inner.find('\\', At);
            const std::string_view Part =
                Inner.substr(At, Slash == std::string_view::npos ? std::string_view::npos : Slash - At);
            if (First) {
                if (!SameName(Part, Root))
                    Fail(LineNo, "the key is not under " + Root);
                First = false;
            } else {
                if (!ValidKeyName(Part))
                    Fail(LineNo, "bad key name \"" + std::string(Part) + "\"");
                Path.emplace_back(Part);
            }
            if (Slash == std::string_view::npos)
                break;
            At = Slash + 1;
        }
        CountPathNames(Path.size(), LineNo);
        const auto [Known, Fresh] = KeyLines.emplace(FoldedPath(Path), LineNo);
        if (!Fresh)
            Fail(LineNo, "the key appears a second time (first at line " +
                             std::to_string(Known->second) + ")");
        Hive.Sections.push_back({std::move(Path), {}});
        ValueNames.clear();
    }

    // Reads a quoted text from S at At (on its opening quote); false when it is unterminated.
    // Only \\ and \" are escapes; any other backslash stands for itself.
    static bool Quoted(std::string_view S, size_t& At, std::string& Out)
    {
        ++At;
        while (At < S.size()) {
            const char C = S[At++];
            if (C == '"')
                return true;
            if (C == '\\' && At < S.size() && (S[At] == '\\' || S[At] == '"')) {
                Out += S[At++];
                continue;
            }
            Out += C;
        }
        return false;
    }

    static bool ValidHexBytes(std::string_view Data)
    {
        std::string Packed;
        for (char C : Data)
            if (!IsBlank(C))
                Packed += C;
        size_t At = 0;
        while (At < Packed.size()) {
            if (At + 2 > Packed.size() || HexDigit(Packed[At]) < 0 || HexDigit(Packed[At + 1]) < 0)
                return false;
            At += 2;
            if (At == Packed.size())
                break;
            if (Packed[At++] != ',')
                return false;
        }
        return true;
    }

    // After "hex:" or "hex(N):"; npos when Data is neither.
    static size_t HexDataStart(std::string_view Data)
    {
        if (Data.size() < 4 || !SameName(Data.substr(0, 3), "hex"))
            return std::string_view::npos;
        if (Data[3] == ':')
            return 4;
        if (Data[3] != '(')
            return std::string_view::npos;
        size_t At = 4;
        while (At < Data.size() && At < 12 && HexDigit(Data[At]) >= 0)
            ++At;
        if (At == 4 || At + 1 >= Data.size() || Data[At] != ')' || Data[At + 1] != ':')
            return std::string_view::npos;
        return At + 2;
    }

    void ValueLine(std::string_view Line, std::string_view T)
    {
        const size_t First = LineNo;
        if (Hive.Sections.empty())
            Fail(First, "a value outside any key");
        TEntry Entry;
        size_t At = 0;
        if (T.front() == '@')
            At = 1;  // the key's default value, named ""
        else if (!Quoted(T, At, Entry.Name))
            Fail(First, "the value name has no closing quote");
        while (At < T.size() && IsBlank(T[At]))
            ++At;
        if (At >= T.size() || T[At] != '=')
            Fail(First, "no '=' after the value name");
        const std::string_view Data = Trimmed(T.substr(At + 1));
        if (Data.starts_with('"')) {
            size_t End = 0;
            if (!Quoted(Data, End, Entry.Text))
                Fail(First, "the text has no closing quote");
            if (End != Data.size())
                Fail(First, "text after the closing quote");
            Entry.Kind = TKind::String;
        } else if (Data.size() >= 6 && SameName(Data.substr(0, 6), "dword:")) {
            const std::string_view Digits = Data.substr(6);
            if (Digits.empty() || Digits.size() > 8)
                Fail(First, "bad dword value");
            for (char C : Digits) {
                if (HexDigit(C) < 0)
                    Fail(First, "bad dword value");
                Entry.Dword = Entry.Dword << 4 | uint32_t(HexDigit(C));
            }
            Entry.Kind = TKind::Dword;
        } else if (const size_t Start = HexDataStart(Data); Start != std::string_view::npos) {
            std::string Bytes(Data.substr(Start));
            Entry.Text = Line;
            while (!Bytes.empty() && Bytes.back() == '\\') {
                Bytes.pop_back();
                std::string_view Next;
                if (!NextLine(Next))
                    Fail(First, "the hex data runs past the end of the file");
                Entry.Text += '\n';
                Entry.Text += Next;
                Bytes += Trimmed(Next);
            }
            if (!ValidHexBytes(Bytes))
                Fail(First, "bad hex data");
            Entry.Kind = TKind::Raw;
        } else if (Data == "-") {
            Fail(First, "a value deletion does not belong in a stored hive");
        } else {
            Fail(First, "a value of unknown type");
        }
        if (!ValueNames.insert(Folded(Entry.Name)).second)
            Fail(First, "the value \"" + Entry.Name + "\" appears a second time in its key");
        Hive.Sections.back().Entries.push_back(std::move(Entry));
    }

    void CountPathNames(size_t Names, size_t Line)
    {
        PathNames += Names;
        if (PathNames > MaxPathNames)
            Fail(Line, "the keys are too many or lie too deep");
    }

    // A hand-written hive may name a key without its parents; give them sections of their own.
    void AddImpliedParents()
    {
        std::vector<TSection> All;
        std::unordered_set<std::string> Seen;
        for (const auto& Section : Hive.Sections)
            Seen.insert(FoldedPath(Section.Path));
        for (auto& Section : Hive.Sections) {
            for (size_t Depth = 1; Depth < Section.Path.size(); ++Depth) {
                std::vector<std::string> Parent(Section.Path.begin(), Section.Path.begin() + long(Depth));
                if (Seen.insert(FoldedPath(Parent)).second) {
                    CountPathNames(Depth, KeyLines[FoldedPath(Section.Path)]);
                    All.push_back({std::move(Parent), {}});
                }
            }
            All.push_back(std::move(Section));
        }
        Hive.Sections = std::move(All);
    }

    std::string_view Text;
    const std::string& File;
    const std::string& Root;
    size_t Pos = 0;
    size_t LineNo = 0;
    size_t PathNames = 0;  // of all keys, parents included
    THive Hive;
    std::map<std::string, size_t> KeyLines;  // folded path -> line
    std::unordered_set<std::string> ValueNames;  // folded, of the current key
};

// ---- writing it ----

std::string QuotedText(std::string_view S)
{
    std::string Out = "\"";
    for (char C : S) {
        if (C == '\\' || C == '"')
            Out += '\\';
        Out += C;
    }
    return Out + '"';
}

std::string ValueLineOf(const TEntry& Entry)
{
    std::string Line = Entry.Name.empty() ? "@" : QuotedText(Entry.Name);
    if (Entry.Kind == TKind::String)
        return Line + "=" + QuotedText(Entry.Text);
    char Digits[16];
    std::snprintf(Digits, sizeof Digits, "%08x", unsigned(Entry.Dword));
    return Line + "=dword:" + Digits;
}

std::string Serialize(const THive& Hive, const std::string& Root)
{
    std::string Out = std::string(ExportHeader) + "\n\n";
    for (const auto& Line : Hive.Preamble)
        Out += Line + '\n';
    if (!Hive.Preamble.empty())
        Out += '\n';
    for (const auto& Section : Hive.Sections) {
        Out += '[' + Root;
        for (const auto& Part : Section.Path)
            Out += '\\' + Part;
        Out += "]\n";
        for (const auto& Entry : Section.Entries)
            Out += (Entry.Kind == TKind::Other || Entry.Kind == TKind::Raw ? Entry.Text
                                                                           : ValueLineOf(Entry)) + '\n';
        Out += '\n';
    }
    return Out;
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
        if (TSection* Known = FindSection(Hive, Asked)) {
            Spelled = Known->Path;
            continue;
        }
        // Below the last key of the parent's subtree, so each subtree stays together.
        size_t At = Hive.Sections.size();
        if (!Spelled.empty()) {
            for (size_t I = 0; I < Hive.Sections.size(); ++I)
                if (Under(Hive.Sections[I].Path, Spelled))
                    At = I + 1;
        }
        Hive.Sections.insert(Hive.Sections.begin() + long(At), TSection{Asked, {}});
        Spelled = std::move(Asked);
        Result = TChange::Made;
    }
    return Result;
}

TChange SetValue(THive& Hive, const std::vector<std::string>& Path, const TEntry& Value)
{
    TSection* Section = FindSection(Hive, Path);
    if (!Section && Path.empty()) {
        Hive.Sections.insert(Hive.Sections.begin(), TSection{});
        Section = &Hive.Sections.front();
    }
    if (!Section)
        return TChange::Refused;  // deleted since it was opened
    for (auto& Entry : Section->Entries) {
        if (Entry.Kind == TKind::Other || !SameName(Entry.Name, Value.Name))
            continue;
        if (Entry.Kind == Value.Kind && Entry.Text == Value.Text && Entry.Dword == Value.Dword)
            return TChange::None;
        Entry.Kind = Value.Kind;
        Entry.Text = Value.Text;
        Entry.Dword = Value.Dword;
        return TChange::Made;
    }
    Section->Entries.push_back(Value);
    return TChange::Made;
}

TChange RemoveKey(THive& Hive, const std::vector<std::string>& Path)
{
    if (Path.empty() || !FindSection(Hive, Path))
        return TChange::Refused;
    std::erase_if(Hive.Sections, [&](const TSection& Section) { return Under(Section.Path, Path); });
    return TChange::Made;
}

// ---- the hive file ----

class TFd {
public:
    explicit TFd(int Fd = -1) : Fd(Fd) {}
    ~TFd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Fd;
};

bool Lock(int Fd, int Operation)
{
    while (::flock(Fd, Operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

[[noreturn]] void CannotRead(const std::string& Path, const std::string& Why)
{
    throw ERegistryException("Cannot read the registry file '" + Path + "': " + Why);
}

// The file's text; "" when there is none.
std::string ReadHiveText(const std::string& Path)
{
    TFd File(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (File.Fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        CannotRead(Path, std::strerror(errno));
    }
    struct stat Info {};
    if (::fstat(File.Fd, &Info) != 0)
        CannotRead(Path, std::strerror(errno));
    if (!S_ISREG(Info.st_mode))
        CannotRead(Path, "not a regular file");
    std::string Text;
    char Buffer[65536];
    while (true) {
        const ssize_t Got = ::read(File.Fd, Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            CannotRead(Path, std::strerror(errno));
        if (Got == 0)
            return Text;
        if (Text.size() + size_t(Got) > MaxHiveSize)
            CannotRead(Path, "larger than " + std::to_string(MaxHiveSize >> 20) + " MiB");
        Text.append(Buffer, size_t(Got));
    }
}

THive ParseHive(const std::string& Text, const std::string& Path, TRootKey Root)
{
    const std::string Name = RootName(Root);
    return THiveParser(Text, Path, Name).Parse();
}

// Written whole and put into place in one step (TAtomicFile), synced. A hive that is a symbolic
// link is replaced where the link points, so the link stays.
bool ReplaceHive(const std::string& Path, const std::string& Text)
{
    std::string Target = Path;
    struct stat Info {};
    if (::lstat(Path.c_str(), &Info) == 0 && S_ISLNK(Info.st_mode)) {
        if (char* Real = ::realpath(Path.c_str(), nullptr)) {
            Target = Real;
            std::free(Real);
        }
    }
    return ReplaceFileWithText(Target, Text, 0600, true) == 0;
}

THive ReadHive(TRootKey Root)
{
    const std::string Path = TRegistry::HivePath(Root);
    const std::string LockPath = Path + ".lock";
    TFd LockFile(::open(LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (LockFile.Fd < 0)
        LockFile.Fd = ::open(LockPath.c_str(), O_RDONLY | O_CLOEXEC);
    // Without a lock file (no folder yet, or a read-only one) the read is still whole: writers
    // only ever rename complete files into place.
    if (LockFile.Fd >= 0)
        Lock(LockFile.Fd, LOCK_SH);
    return ParseHive(ReadHiveText(Path), Path, Root);
}

enum class TOutcome { Unchanged, Written, Refused, WriteFailed };

// Reads, changes and rewrites the hive under the exclusive lock. A hive that cannot be read
// or parsed throws and is never overwritten.
TOutcome ChangeHive(TRootKey Root, const std::function<TChange(THive&)>& Change)
{
    std::string Path;
    try {
        Path = EnsureConfigDir("cannot create the registry folder") + RootName(Root) + ".reg";
    } catch (const EAPIException&) {
        return TOutcome::WriteFailed;
    }
    TFd LockFile(::open((Path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (LockFile.Fd < 0 || !Lock(LockFile.Fd, LOCK_EX))
        return TOutcome::WriteFailed;
    THive Hive = ParseHive(ReadHiveText(Path), Path, Root);
    switch (Change(Hive)) {
    case TChange::None: return TOutcome::Unchanged;
    case TChange::Refused: return TOutcome::Refused;
    case TChange::Made: break;
    }
    return ReplaceHive(Path, Serialize(Hive, RootName(Root))) ? TOutcome::Written
                                                               : TOutcome::WriteFailed;
}

ERegistryException GetFailed(const std::string& Name)
{
    return ERegistryException("Failed to get data for '" + Name + "'");
}

ERegistryException InvalidType(const std::string& Name)
{
    return ERegistryException("Invalid data type for '" + Name + "'");
}

ERegistryException SetFailed(const std::string& Name)
{
    return ERegistryException("Failed to set data for '" + Name + "'");
}

} // namespace

std::string RewrittenHiveText(const std::string& Text, TRootKey Root, const std::string& File)
{
    return Serialize(ParseHive(Text, File, Root), RootName(Root));
}

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
    std::vector<std::string> Path;
    if (!Resolve(Key, Path))
        return false;
    THive Hive = ReadHive(RootKey);
    if (!HasKey(Hive, Path)) {
        if (!CanCreate)
            return false;
        const TOutcome Outcome =
            ChangeHive(RootKey, [&](THive& Latest) { return CreateKey(Latest, Path); });
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
    KeyOpen = false;
    OpenPath.clear();
}

bool TRegistry::KeyExists(const std::string& Key)
{
    std::vector<std::string> Path;
    if (!Resolve(Key, Path))
        return false;
    THive Hive = ReadHive(RootKey);
    return HasKey(Hive, Path);
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
        throw GetFailed(Name);
    THive Hive = ReadHive(RootKey);
    const TEntry* Value = FindValue(Hive, OpenPath, Name);
    if (!Value)
        throw GetFailed(Name);
    if (Value->Kind != TKind::Dword)
        throw InvalidType(Name);
    return std::bit_cast<int32_t>(Value->Dword);
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen || !FitsOnALine(Name))
        throw SetFailed(Name);
    const TEntry Entry{TKind::Dword, Name, "", std::bit_cast<uint32_t>(Value)};
    const TOutcome Outcome =
        ChangeHive(RootKey, [&](THive& Hive) { return SetValue(Hive, OpenPath, Entry); });
    if (Outcome == TOutcome::Refused || Outcome == TOutcome::WriteFailed)
        throw SetFailed(Name);
}

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }

void TRegistry::WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

std::string TRegistry::ReadString(const std::string& Name)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen)
        throw GetFailed(Name);
    THive Hive = ReadHive(RootKey);
    const TEntry* Value = FindValue(Hive, OpenPath, Name);
    if (!Value)
        return "";
    if (Value->Kind != TKind::String)
        throw InvalidType(Name);
    return Value->Text;
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value)
{
    ForgetKeyOfOtherRoot();
    if (!KeyOpen || !FitsOnALine(Name) || !FitsOnALine(Value))
        throw SetFailed(Name);
    const TEntry Entry{TKind::String, Name, Value, 0};
    const TOutcome Outcome =
        ChangeHive(RootKey, [&](THive& Hive) { return SetValue(Hive, OpenPath, Entry); });
    if (Outcome == TOutcome::Refused || Outcome == TOutcome::WriteFailed)
        throw SetFailed(Name);
}

bool TRegistry::DeleteKey(const std::string& Key)
{
    std::vector<std::string> Path;
    if (!Resolve(Key, Path) || Path.empty())
        return false;
    THive Hive = ReadHive(RootKey);
    if (!FindSection(Hive, Path))
        return false;
    return ChangeHive(RootKey, [&](THive& Latest) { return RemoveKey(Latest, Path); }) ==
           TOutcome::Written;
}
