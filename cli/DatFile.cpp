#include "cli/DatFile.h"

#include <expat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Lower-case hex of MaxDigits digits, shorter values padded with zeros when Pad; "" when Text
// is no such hex number.
std::string NormalHex(std::string_view Text, size_t MaxDigits, bool Pad)
{
    if (Text.empty() || Text.size() > MaxDigits || (!Pad && Text.size() != MaxDigits))
        return "";
    std::string Hex(MaxDigits - Text.size(), '0');
    for (const char C : Text) {
        if (C >= '0' && C <= '9')
            Hex += C;
        else if ((C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F'))
            Hex += char(C | 0x20);
        else
            return "";
    }
    return Hex;
}

std::optional<uint64_t> DecimalSize(std::string_view Text)
{
    uint64_t Value = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Error] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Error != std::errc() || Ptr != End)
        return std::nullopt;
    return Value;
}

TDatRom RomOf(const XML_Char** Attributes)
{
    TDatRom Rom;
    for (size_t i = 0; Attributes[i] && Attributes[i + 1]; i += 2) {
        const std::string_view Key = Attributes[i], Value = Attributes[i + 1];
        if (Key == "name")
            Rom.Name = Value;
        else if (Key == "size")
            Rom.Size = DecimalSize(Value);
        else if (Key == "crc")
            Rom.Crc32 = NormalHex(Value, 8, true);
        else if (Key == "md5")
            Rom.Md5 = NormalHex(Value, 32, false);
        else if (Key == "sha1")
            Rom.Sha1 = NormalHex(Value, 40, false);
    }
    return Rom;
}

std::string AttributeOf(const XML_Char** Attributes, std::string_view Wanted)
{
    for (size_t i = 0; Attributes[i] && Attributes[i + 1]; i += 2)
        if (Attributes[i] == Wanted)
            return Attributes[i + 1];
    return "";
}

// The code point of the UTF-8 sequence at Text[At] and its length; length 0 for a byte that
// starts no valid sequence (overlong forms and surrogates included).
std::pair<char32_t, size_t> DecodeUtf8(std::string_view Text, size_t At)
{
    const auto Lead = uint8_t(Text[At]);
    if (Lead < 0x80)
        return {Lead, 1};
    const size_t Length = Lead >= 0xF0 ? 4 : Lead >= 0xE0 ? 3 : Lead >= 0xC0 ? 2 : 0;
    if (Length == 0 || Lead > 0xF4 || At + Length > Text.size())
        return {0, 0};
    char32_t Code = Lead & (0x7F >> Length);
    for (size_t i = 1; i < Length; ++i) {
        const auto Next = uint8_t(Text[At + i]);
        if ((Next & 0xC0) != 0x80)
            return {0, 0};
        Code = (Code << 6) | (Next & 0x3F);
    }
    static const char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (Code < Least[Length] || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return {0, 0};
    return {Code, Length};
}

bool XmlAllows(char32_t Code)
{
    return Code == 0x9 || Code == 0xA || Code == 0xD || (Code >= 0x20 && Code <= 0xD7FF) ||
           (Code >= 0xE000 && Code <= 0xFFFD) || Code >= 0x10000;
}

void AddElement(std::string& Xml, const char* Indent, const char* Name, const std::string& Text)
{
    Xml += std::string(Indent) + "<" + Name + ">" + XmlEscaped(Text) + "</" + Name + ">\n";
}

}  // namespace

struct TDatReader::TState {
    XML_Parser Parser = XML_ParserCreate("UTF-8");
    std::string Source;
    TDat Dat;
    std::vector<std::string> Open;  // the elements around the parser's place, outermost first
    std::string* Text = nullptr;    // where the character data of the open element goes
    size_t TextDepth = 0;
    std::string Refusal;  // why a handler stopped the parser

    ~TState() { XML_ParserFree(Parser); }

    void Start(const std::string& Name, const XML_Char** Attributes)
    {
        const size_t Depth = Open.size();
        const std::string Parent = Depth ? Open.back() : "";
        if (Depth == 0 && Name != "datafile") {
            Refusal = Source + ": not a Logiqx-style DAT file: its root element is <" + Name +
                      ">, not <datafile>";
            XML_StopParser(Parser, XML_FALSE);
        } else if (Depth == 1 && (Name == "game" || Name == "machine")) {
            Dat.Entries.push_back({AttributeOf(Attributes, "name"), "", {}});
        } else if (Depth == 2 && Parent == "header") {
            std::string* Fields[] = {&Dat.Name, &Dat.Description, &Dat.Version, &Dat.Date,
                                     &Dat.Author};
            const char* Names[] = {"name", "description", "version", "date", "author"};
            for (size_t i = 0; i < std::size(Names); ++i)
                if (Name == Names[i])
                    Collect(*Fields[i], Depth + 1);
        } else if (Depth == 2 && (Parent == "game" || Parent == "machine")) {
            if (Name == "description")
                Collect(Dat.Entries.back().Description, Depth + 1);
            else if (Name == "rom")
                Dat.Entries.back().Roms.push_back(RomOf(Attributes));
        }
        Open.push_back(Name);
    }

    void Collect(std::string& Field, size_t Depth)
    {
        Field.clear();  // of two such elements, the last counts
        Text = &Field;
        TextDepth = Depth;
    }

    void End()
    {
        if (Open.size() == TextDepth)
            Text = nullptr;
        Open.pop_back();
    }

    void Characters(const XML_Char* Bytes, int Count)
    {
        if (Text && Open.size() == TextDepth)
            Text->append(Bytes, size_t(Count));
    }
};

TDatReader::TDatReader(std::string Source) : State(std::make_unique<TState>())
{
    if (!State->Parser)
        throw std::bad_alloc();
    State->Source = std::move(Source);
    XML_SetUserData(State->Parser, State.get());
    XML_SetElementHandler(
        State->Parser,
        [](void* Data, const XML_Char* Name, const XML_Char** Attributes) {
            static_cast<TState*>(Data)->Start(Name, Attributes);
        },
        [](void* Data, const XML_Char*) { static_cast<TState*>(Data)->End(); });
    XML_SetCharacterDataHandler(State->Parser, [](void* Data, const XML_Char* Bytes, int Count) {
        static_cast<TState*>(Data)->Characters(Bytes, Count);
    });
}

TDatReader::~TDatReader() = default;

void TDatReader::Feed(std::string_view Bytes, bool Last)
{
    // expat takes at most INT_MAX bytes at a time.
    constexpr size_t Piece = 1 << 20;
    do {
        const size_t Count = std::min(Bytes.size(), Piece);
        const bool Final = Last && Count == Bytes.size();
        if (XML_Parse(State->Parser, Bytes.data(), int(Count), Final) != XML_STATUS_OK) {
            if (!State->Refusal.empty())
                throw EDatError(State->Refusal);
            throw EDatError(State->Source + ": not a DAT file: " +
                            XML_ErrorString(XML_GetErrorCode(State->Parser)) + " at line " +
                            std::to_string(XML_GetCurrentLineNumber(State->Parser)) +
                            ", column " +
                            std::to_string(XML_GetCurrentColumnNumber(State->Parser) + 1));
        }
        Bytes.remove_prefix(Count);
    } while (!Bytes.empty());
}

TDat TDatReader::Take()
{
    return std::move(State->Dat);
}

TDat ParseDat(std::string_view Xml, const std::string& Source)
{
    TDatReader Reader(Source);
    Reader.Feed(Xml, true);
    return Reader.Take();
}

TDat ReadDatFile(const std::string& Path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(Path.c_str(), "rb"),
                                                        &std::fclose);
    if (!File)
        throw EDatError("cannot open " + Path + ": " + std::strerror(errno));
    TDatReader Reader(Path);
    std::vector<char> Buffer(1 << 16);
    for (;;) {
        const size_t Got = std::fread(Buffer.data(), 1, Buffer.size(), File.get());
        if (std::ferror(File.get()))
            throw EDatError("cannot read " + Path + ": " + std::strerror(errno));
        const bool Last = std::feof(File.get());
        Reader.Feed(std::string_view(Buffer.data(), Got), Last);
        if (Last)
            return Reader.Take();
    }
}

std::string XmlEscaped(std::string_view Text)
{
    std::string Xml;
    Xml.reserve(Text.size());
    for (size_t At = 0; At < Text.size();) {
        const auto [Code, Length] = DecodeUtf8(Text, At);
        if (Length == 0 || !XmlAllows(Code)) {
            Xml += "\xEF\xBF\xBD";
            At += Length ? Length : 1;
            continue;
        }
        switch (Code) {
        case '&': Xml += "&amp;"; break;
        case '<': Xml += "&lt;"; break;
        case '>': Xml += "&gt;"; break;
        case '"': Xml += "&quot;"; break;
        // Parsers turn these into blanks in attributes, and a CR LF into LF everywhere.
        case '\t': Xml += "&#9;"; break;
        case '\n': Xml += "&#10;"; break;
        case '\r': Xml += "&#13;"; break;
        default: Xml.append(Text.substr(At, Length));
        }
        At += Length;
    }
    return Xml;
}

std::string DatText(const TDat& Dat)
{
    std::string Xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
        "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
        "<datafile>\n\t<header>\n";
    AddElement(Xml, "\t\t", "name", Dat.Name);
    AddElement(Xml, "\t\t", "description", Dat.Description);
    AddElement(Xml, "\t\t", "version", Dat.Version);
    AddElement(Xml, "\t\t", "date", Dat.Date);
    AddElement(Xml, "\t\t", "author", Dat.Author);
    Xml += "\t</header>\n";
    for (const TDatEntry& Entry : Dat.Entries) {
        Xml += "\t<game name=\"" + XmlEscaped(Entry.Name) + "\">\n";
        AddElement(Xml, "\t\t", "description", Entry.Description);
        for (const TDatRom& Rom : Entry.Roms) {
            Xml += "\t\t<rom name=\"" + XmlEscaped(Rom.Name) + "\"";
            if (Rom.Size)
                Xml += " size=\"" + std::to_string(*Rom.Size) + "\"";
            // The digests are hex already: nothing in them needs escaping.
            const std::pair<const char*, const std::string*> Digests[] = {
                {"crc", &Rom.Crc32}, {"md5", &Rom.Md5}, {"sha1", &Rom.Sha1}};
            for (const auto& [Key, Value] : Digests)
                if (!Value->empty())
                    Xml += std::string(" ") + Key + "=\"" + *Value + "\"";
            Xml += "/>\n";
        }
        Xml += "\t</game>\n";
    }
    return Xml + "</datafile>\n";
}
