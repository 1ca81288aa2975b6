#include "cli/Options.h"

#include <cctype>
#include <charconv>

#include "cli/DiskCommands.h"

const char* const UsageText =
    "Usage: marrowtide-img COMMAND [OPTIONS] FILES\n"
    "\n"
    "Stores raw floppy diskette dumps as compressed image files, and back.\n"
    "\n"
    "Commands:\n"
    "  pack [OPTIONS] RAW IMAGE        compress the raw dump RAW into the image IMAGE\n"
    "  pack [OPTIONS] RAW... -o DIR    compress several dumps at once into DIR; each image\n"
    "                                  is named after its dump, with the extension of its\n"
    "                                  diskette format (.288 .144 .120 .720 .360) or .mwi\n"
    "  unpack [-q] [-f] IMAGE RAW      decompress IMAGE into the raw dump RAW\n"
    "  unpack [-q] [-f] IMAGE... -o DIR\n"
    "                                  decompress several images at once into DIR as NAME.img\n"
    "  advise [--threshold N] RAW      tell which compression mode suits RAW\n"
    "  info IMAGE                      show an image's codec, sizes, ratio and diskette format\n"
    "  drive list                      show which file or device each drive letter stands for\n"
    "  drive LETTER PATH               let drive LETTER (A, B ...) stand for PATH: a floppy\n"
    "                                  device or a diskette image file (a virtual diskette)\n"
    "  drive LETTER --clear            remove LETTER from the drive table (A: and B: are then\n"
    "                                  the machine's floppy drives, when it has them)\n"
    "  format FORMAT FILE              create FILE as a blank virtual diskette; FORMAT is\n"
    "                                  2.88MB, 1.44MB, 1.2MB, 720KB or 360KB\n"
    "\n"
    "Options:\n"
    "  --mode good|fast|auto  good: LZH (the default); fast: LZRW1/KH; auto: as advise says\n"
    "  --threshold N          advise picks fast below N percent (0 to 100, default 40)\n"
    "  -o, --output DIR       write every output into DIR (made when missing)\n"
    "  -q, --quiet            print no summary after pack and unpack\n"
    "  -f, --force            let pack and unpack replace an existing output file (even a\n"
    "                         read-only one); without it such an output is refused\n"
    "  -h, --help             show this text\n"
    "\n"
    "\n"
    "Files are regular files or pipes (RAW may be /dev/stdin, IMAGE or RAW /dev/stdout);\n"
    "directories and devices are refused.\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.\n";

namespace {

TCommandKind CommandOf(const std::string& Word)
{
    if (Word == "pack")
        return TCommandKind::Pack;
    if (Word == "unpack")
        return TCommandKind::Unpack;
    if (Word == "advise")
        return TCommandKind::Advise;
    if (Word == "info")
        return TCommandKind::Info;
    if (Word == "drive")
        return TCommandKind::Drive;
    if (Word == "format")
        return TCommandKind::Format;
    if (Word == "help" || Word == "-h" || Word == "--help")
        return TCommandKind::Help;
    throw EUsage("unknown command '" + Word + "'");
}

TCompressMode ModeOf(const std::string& Text)
{
    if (Text == "good")
        return TCompressMode::Good;
    if (Text == "fast")
        return TCompressMode::Fast;
    if (Text == "auto")
        return TCompressMode::Auto;
    throw EUsage("--mode takes good, fast or auto, not '" + Text + "'");
}

int32_t ThresholdOf(const std::string& Text)
{
    int32_t Value = -1;
    const char* End = Text.data() + Text.size();
    auto [Ptr, Error] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Error != std::errc() || Ptr != End || Value < 0 || Value > 100)
        throw EUsage("--threshold takes a percentage from 0 to 100, not '" + Text + "'");
    return Value;
}

// Which options a command accepts, by their long names.
bool Accepts(TCommandKind Command, const std::string& Option)
{
    switch (Command) {
    case TCommandKind::Pack:
        return true;
    case TCommandKind::Unpack:
        return Option == "--quiet" || Option == "--output" || Option == "--force";
    case TCommandKind::Advise:
        return Option == "--threshold";
    default:
        return false;
    }
}

const char* NameOf(TCommandKind Command)
{
    switch (Command) {
    case TCommandKind::Pack: return "pack";
    case TCommandKind::Unpack: return "unpack";
    case TCommandKind::Advise: return "advise";
    case TCommandKind::Info: return "info";
    case TCommandKind::Drive: return "drive";
    case TCommandKind::Format: return "format";
    default: return "help";
    }
}

char LetterOf(const std::string& Text)
{
    std::string Letter = Text;
    if (Letter.size() == 2 && Letter[1] == ':')
        Letter.pop_back();
    if (Letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(Letter[0])))
        throw EUsage("drive takes a drive letter (A to Z), not '" + Text + "'");
    return static_cast<char>(std::toupper(static_cast<unsigned char>(Letter[0])));
}

// drive and format take positional words only.
TOptions ParseDiskCommand(TOptions Options, const std::vector<std::string>& Args)
{
    for (size_t i = 1; i < Args.size(); ++i)
        if (Args[i] == "-h" || Args[i] == "--help") {
            Options.Command = TCommandKind::Help;
            return Options;
        }
    if (Options.Command == TCommandKind::Drive) {
        if (Args.size() == 2 && Args[1] == "list") {
            Options.DriveListing = true;
            return Options;
        }
        if (Args.size() != 3)
            throw EUsage("drive takes 'list', 'LETTER PATH' or 'LETTER --clear'");
        Options.DriveLetter = LetterOf(Args[1]);
        if (Args[2] == "--clear")
            Options.DriveClear = true;
        else if (Args[2].empty() || Args[2][0] == '-')
            throw EUsage("drive " + std::string(1, Options.DriveLetter) +
                         " takes a PATH or --clear, not '" + Args[2] + "'");
        else
            Options.Output = Args[2];
        return Options;
    }
    if (Args.size() != 3)
        throw EUsage("format takes a FORMAT and a FILE");
    Options.FormatIndex = FormatIndexOfName(Args[1]);
    if (Options.FormatIndex < 0)
        throw EUsage("format takes 2.88MB, 1.44MB, 1.2MB, 720KB or 360KB, not '" + Args[1] + "'");
    Options.Output = Args[2];
    return Options;
}

}  // namespace

TOptions ParseArgs(const std::vector<std::string>& Args)
{
    if (Args.empty())
        throw EUsage("");
    TOptions Options;
    Options.Command = CommandOf(Args[0]);
    if (Options.Command == TCommandKind::Help)
        return Options;
    if (Options.Command == TCommandKind::Drive || Options.Command == TCommandKind::Format)
        return ParseDiskCommand(Options, Args);

    bool OptionsEnded = false;
    for (size_t i = 1; i < Args.size(); ++i) {
        const std::string& Arg = Args[i];
        if (OptionsEnded || Arg.size() < 2 || Arg[0] != '-') {
            Options.Inputs.push_back(Arg);
            continue;
        }
        if (Arg == "--") {
            OptionsEnded = true;
            continue;
        }
        if (Arg == "-h" || Arg == "--help") {
            Options.Command = TCommandKind::Help;
            return Options;
        }

        // Long options take their value as --name=value or as the next argument.
        std::string Name = Arg;
        std::string Value;
        bool HasValue = false;
        if (size_t Eq = Arg.find('='); Arg.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Name = Arg.substr(0, Eq);
            Value = Arg.substr(Eq + 1);
            HasValue = true;
        }
        if (Name == "-q")
            Name = "--quiet";
        else if (Name == "-f")
            Name = "--force";
        else if (Name == "-o")
            Name = "--output";

        const bool TakesValue = Name == "--mode" || Name == "--threshold" || Name == "--output";
        if (!TakesValue && Name != "--quiet" && Name != "--force")
            throw EUsage("unknown option '" + Arg + "'");
        if (!Accepts(Options.Command, Name))
            throw EUsage(std::string(NameOf(Options.Command)) + " takes no option " + Name);
        if (TakesValue && !HasValue) {
            if (i + 1 >= Args.size())
                throw EUsage(Name + " needs a value");
            Value = Args[++i];
        } else if (!TakesValue && HasValue) {
            throw EUsage(Name + " takes no value");
        }

        if (Name == "--mode") {
            Options.Mode = ModeOf(Value);
        } else if (Name == "--threshold") {
            Options.Threshold = ThresholdOf(Value);
        } else if (Name == "--quiet") {
            Options.Quiet = true;
        } else if (Name == "--force") {
            Options.Force = true;
        } else {
            if (Options.HasOutputDir)
                throw EUsage("-o is given twice");
            if (Value.empty())
                throw EUsage("-o needs a folder");
            Options.OutputDir = Value;
            Options.HasOutputDir = true;
        }
    }

    const size_t Count = Options.Inputs.size();
    const std::string Command = NameOf(Options.Command);
    if (Options.Command == TCommandKind::Advise || Options.Command == TCommandKind::Info) {
        if (Count != 1)
            throw EUsage(Command + " takes one file");
    } else if (Options.HasOutputDir) {
        if (Count == 0)
            throw EUsage(Command + " -o DIR needs at least one input");
    } else {
        if (Count != 2)
            throw EUsage(Command + " takes an input and an output file, or inputs and -o DIR");
        Options.Output = Options.Inputs[1];
        Options.Inputs.pop_back();
    }
    return Options;
}
