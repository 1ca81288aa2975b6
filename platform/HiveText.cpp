#include "platform/HiveText.h"

#include "platform/Registry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_set>

namespace {

const std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr size_t MaxKeyNameLength = 255;
// Every key holds its whole path, and its parents are keys too: the names in all keys' paths
// together are bounded, or a small file of very deep keys would take all memory and time. Far
// beyond any real hive.
constexpr size_t MaxPathNames = 1u << 16;

char Fold(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

std::string Folded(std::string_view S)
{
    std::string Out(S);
    std::transform(Out.begin(), Out.end(), Out.begin(), Fold);
    return Out;
}

std::string FoldedPath(const std::vector<std::string>& Path)
{
    std::string Out;
    for (const auto& Part : Path)
        Out += '\\' + Folded(Part);
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

// Reads a quoted text from S at At (on its opening quote); false when it is unterminated.
bool Unquoted(std::string_view S, size_t& At, std::string& Out)
{
    ++At;
    while (At < S.size()) {
        const char C = S[At++];
        if (C == '"')
            return true;
        if (C == '\\' && At < S.size() && (S[At] == '\\' || S[At] == '"'))
            Out += S[At++];
        else
            Out += C;
    }
    return false;
}

std::string Quoted(std::string_view S)
{
    std::string Out = "\"";
    for (char C : S) {
        if (C == '\\' || C == '"')
            Out += '\\';
        Out += C;
    }
    return Out + '"';
}

class THiveParser {
public:
    THiveParser(std::string_view Text, const std::string& Root, const std::string& File)
        : Text(Text), Root(Root), File(File)
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
        if (!NextLine(Line) || Trimmed(Line) != Header)
            Fail(1, "the first line is not \"" + std::string(Header) + "\"");
        while (NextLine(Line)) {
            const std::string_view T = Trimmed(Line);
            if (T.empty())
                continue;
            if (T.front() == '[')
                KeyLine(T);
            else if (T.front() == '"' || T.front() == '@')
                ValueLine(Line, T);
            else if (Hive.Keys.empty())
                Hive.Preamble.emplace_back(Line);
            else
                Hive.Keys.back().Lines.push_back({THiveLineKind::Kept, "", std::string(Line), 0});
        }
        AddImpliedParents();
        return std::move(Hive);
    }

private:
    [[noreturn]] void Fail(size_t Line, const std::string& What) const
    {
        throw EDamagedHive("Damaged registry file '" + File + "', line " + std::to_string(Line) +
                               ": " + What,
                           File);
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
        size_t Slash = Inner.find('\\');
        if (!SameName(Inner.substr(0, Slash), Root))
            Fail(LineNo, "the key is not under " + Root);
        std::vector<std::string> Path;
        while (Slash != std::string_view::npos) {
            Inner.remove_prefix(Slash + 1);
            Slash = Inner.find('\\');
            const std::string_view Part = Inner.substr(0, Slash);
            if (!ValidKeyName(Part))
                Fail(LineNo, "bad key name \"" + std::string(Part) + "\"");
            Path.emplace_back(Part);
        }
        CountPathNames(Path.size(), LineNo);
        const auto [Known, Fresh] = KeyLines.emplace(FoldedPath(Path), LineNo);
        if (!Fresh)
            Fail(LineNo, "the key appears a second time (first at line " +
                             std::to_string(Known->second) + ")");
        Hive.Keys.push_back({std::move(Path), {}});
        ValueNames.clear();
    }

    void ValueLine(std::string_view Line, std::string_view T)
    {
        const size_t First = LineNo;
        if (Hive.Keys.empty())
            Fail(First, "a value outside any key");
        THiveLine Value;
        size_t At = 0;
        if (T.front() == '@')
            At = 1;  // the key's default value, named ""
        else if (!Unquoted(T, At, Value.Name))
            Fail(First, "the value name has no closing quote");
        while (At < T.size() && IsBlank(T[At]))
            ++At;
        if (At >= T.size() || T[At] != '=')
            Fail(First, "no '=' after the value name");
        const std::string_view Data = Trimmed(T.substr(At + 1));
        if (Data.starts_with('"')) {
            size_t End = 0;
            if (!Unquoted(Data, End, Value.Text))
                Fail(First, "the text has no closing quote");
            if (End != Data.size())
                Fail(First, "text after the closing quote");
            Value.Kind = THiveLineKind::String;
        } else if (Data.size() >= 6 && SameName(Data.substr(0, 6), "dword:")) {
            const std::string_view Digits = Data.substr(6);
            if (Digits.empty() || Digits.size() > 8)
                Fail(First, "bad dword value");
            for (char C : Digits) {
                if (HexDigit(C) < 0)
                    Fail(First, "bad dword value");
                Value.Dword = Value.Dword << 4 | uint32_t(HexDigit(C));
            }
            Value.Kind = THiveLineKind::Dword;
        } else {
            // A type the registry does not store. A line ending in a backslash goes on in the
            // next; one left open at the end would take in the next line written after it.
            Value.Kind = THiveLineKind::OtherValue;
            Value.Text = Line;
            for (std::string_view Last = Line; Trimmed(Last).ends_with('\\');) {
                if (!NextLine(Last))
                    Fail(First, "the value's last line runs past the end of the file");
                (Value.Text += '\n') += Last;
            }
        }
        if (!ValueNames.insert(Folded(Value.Name)).second)
            Fail(First, "the value \"" + Value.Name + "\" appears a second time in its key");
        Hive.Keys.back().Lines.push_back(std::move(Value));
    }

    void CountPathNames(size_t Names, size_t Line)
    {
        PathNames += Names;
        if (PathNames > MaxPathNames)
            Fail(Line, "the keys are too many or lie too deep");
    }

    // A hand-written hive may name a key without its parents; give them entries of their own.
    void AddImpliedParents()
    {
        std::vector<THiveKey> All;
        std::unordered_set<std::string> Seen;
        for (const auto& Key : Hive.Keys)
            Seen.insert(FoldedPath(Key.Path));
        for (auto& Key : Hive.Keys) {
            for (size_t Depth = 1; Depth < Key.Path.size(); ++Depth) {
                std::vector<std::string> Parent(Key.Path.begin(), Key.Path.begin() + long(Depth));
                if (Seen.insert(FoldedPath(Parent)).second) {
                    CountPathNames(Depth, KeyLines[FoldedPath(Key.Path)]);
                    All.push_back({std::move(Parent), {}});
                }
            }
            All.push_back(std::move(Key));
        }
        Hive.Keys = std::move(All);
    }

    std::string_view Text;
    const std::string& Root;
    const std::string& File;
    size_t Pos = 0;
    size_t LineNo = 0;
    size_t PathNames = 0;  // of all keys, parents included
    THive Hive;
    std::map<std::string, size_t> KeyLines;      // folded path -> line
    std::unordered_set<std::string> ValueNames;  // folded, of the current key
};

std::string LineText(const THiveLine& Line)
{
    if (Line.Kind == THiveLineKind::Kept || Line.Kind == THiveLineKind::OtherValue)
        return Line.Text;
    const std::string Name = Line.Name.empty() ? "@" : Quoted(Line.Name);
    if (Line.Kind == THiveLineKind::String)
        return Name + "=" + Quoted(Line.Text);
    char Digits[16];
    std::snprintf(Digits, sizeof Digits, "%08x", unsigned(Line.Dword));
    return Name + "=dword:" + Digits;
}

} // namespace

bool SameName(std::string_view A, std::string_view B)
{
    return A.size() == B.size() &&
           std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) { return Fold(X) == Fold(Y); });
}

bool ValidKeyName(std::string_view Name)
{
    return !Name.empty() && Name.size() <= MaxKeyNameLength &&
           std::none_of(Name.begin(), Name.end(),
                        [](char C) { return static_cast<unsigned char>(C) < 0x20 || C == '\\'; });
}

bool FitsOnALine(std::string_view S)
{
    return S.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

THive ParseHiveText(std::string_view Text, const std::string& Root, const std::string& File)
{
    return THiveParser(Text, Root, File).Parse();
}

std::string HiveText(const THive& Hive, const std::string& Root)
{
    std::string Out = std::string(Header) + "\n\n";
    for (const auto& Line : Hive.Preamble)
        Out += Line + '\n';
    if (!Hive.Preamble.empty())
        Out += '\n';
    for (const auto& Key : Hive.Keys) {
        Out += '[' + Root;
        for (const auto& Part : Key.Path)
            Out += '\\' + Part;
        Out += "]\n";
        for (const auto& Line : Key.Lines)
            Out += LineText(Line) + '\n';
        Out += '\n';
    }
    return Out;
}
