// The command line is read by CLI11; the texts and the checks of which files go together are
// the tool's own.
#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "cli/DiskCommands.h"
#include "cli/ImageName.h"

const char* const UsageText =
    "Usage: marrowtide-img COMMAND [OPTIONS] FILES\n"
    "\n"
    "Stores raw floppy diskette dumps as compressed image files, and back.\n"
    "\n"
    "Commands:\n"
    "  pack [OPTIONS] RAW IMAGE        compress the raw dump RAW into the image IMAGE; RAW may\n"
    "                                  also be an ImageDisk, TeleDisk or CopyQM file, whose\n"
    "                                  dump is packed\n"
    "  pack [OPTIONS] RAW... -o DIR    compress several dumps at once into DIR; each image\n"
    "                                  is named after its dump, with the extension of its\n"
    "                                  diskette format (.288 .144 .120 .720 .360 .168 .172\n"
    "                                  .320 .180 .160) or .mwi\n"
    "  unpack [-q] [-f] IMAGE RAW      decompress IMAGE into the raw dump RAW (the dump an\n"
    "                                  ImageDisk, TeleDisk or CopyQM file holds, for one)\n"
    "  unpack [-q] [-f] IMAGE... -o DIR\n"
    "                                  decompress several images at once into DIR as NAME.img\n"
    "                                  (a 360KB or 1.2MB dump at the size the diskette holds,\n"
    "                                  368640 or 1228800 bytes, unless --exact-size)\n"
    "  advise [--threshold N] RAW      tell which compression mode suits RAW\n"
    "  info [--hash] IMAGE...          show each image's codec, sizes, ratio and diskette\n"
    "                                  format (after its name when there are several)\n"
    "  info --json [--hash] IMAGE...   print what each image (or raw dump) holds as one JSON\n"
    "                                  array: codec, sizes, ratio, format, label, serial number\n"
    "                                  and file count\n"
    "  export [-f] IMAGE ARCHIVE       write IMAGE's dump into the LHA archive ARCHIVE (.lzh),\n"
    "                                  taking the image's LZH data as it is (method -lh1-);\n"
    "                                  an ARCHIVE named .imd gets an ImageDisk file instead\n"
    "  drive list                      show which file or device each drive letter stands for\n"
    "  drive LETTER PATH               let drive LETTER (A, B ...) stand for PATH: a floppy\n"
    "                                  device or a diskette image file (a virtual diskette)\n"
    "  drive LETTER --clear            remove LETTER from the drive table (A: and B: are then\n"
    "                                  the machine's floppy drives, when it has them)\n"
    "  format [-f] FORMAT FILE         create FILE (- for standard output) as a blank\n"
    "                                  virtual diskette; FORMAT is 2.88MB, 1.44MB, 1.2MB,\n"
    "                                  720KB, 360KB, 1.68MB (DMF), 1.72MB, 320KB, 180KB or\n"
    "                                  160KB\n"
    "  read [OPTIONS] DRIVE [IMAGE]    make an image of the diskette in DRIVE (A or B); IMAGE\n"
    "                                  defaults to disk.EXT, EXT being the extension of the\n"
    "                                  diskette's format, which an IMAGE without one also gets;\n"
    "                                  IMAGE - writes the image to standard output\n"
    "  read [OPTIONS] DRIVE [IMAGE] --rescue [--retries N] [--map FILE]\n"
    "                                  keep every sector that can be read; name the others\n"
    "  read [OPTIONS] DRIVE --each PATTERN [--log FILE]\n"
    "                                  image a whole box, one diskette after another\n"
    "  read [OPTIONS] DRIVE --format FORMAT [IMAGE]\n"
    "                                  read the diskette as FORMAT, whatever its boot sector\n"
    "                                  says\n"
    "  write [-y] [--convert] IMAGE DRIVE\n"
    "                                  write IMAGE onto the diskette in DRIVE; IMAGE may also\n"
    "                                  be a raw dump of a diskette size or an ImageDisk,\n"
    "                                  TeleDisk or CopyQM file (as for verify and info)\n"
    "  verify [-y] IMAGE DRIVE         compare the diskette in DRIVE with IMAGE, sector by\n"
    "                                  sector, and name the sectors that differ\n"
    "  ls [--deleted] [--json] IMAGE...\n"
    "                                  list the files on each image's diskette: the tree with\n"
    "                                  sizes, dates, attributes and long names; the label,\n"
    "                                  serial number, format and free space\n"
    "  extract [-f] [-q] IMAGE [-o DIR] [PATTERN...]\n"
    "                                  write the image's files (all, or those a DOS-style or\n"
    "                                  shell-style PATTERN matches) into DIR (default: here)\n"
    "  mount [-q] IMAGE DIR            show the image's files read-only in the folder DIR\n"
    "                                  until 'fusermount3 -u DIR' or Ctrl-C\n"
    "  catalog [-f] [-q] IMAGE... -o DAT\n"
    "                                  write a Logiqx-style XML DAT of the images' dumps: one\n"
    "                                  entry each with the dump's name, size, CRC32, MD5, SHA-1\n"
    "  check --dat DAT IMAGE...        tell which entry of DAT each image's dump matches (by\n"
    "                                  SHA-1, else size and CRC32); exit 1 if any matches none\n"
    "\n"
    "Options:\n"
    "  --mode good|fast|auto  good: LZH (the default); fast: LZRW1/KH; auto: as advise says\n"
    "  --threshold N          advise picks fast below N percent (0 to 100, default 40)\n"
    "  -o, --output DIR       write every output into DIR (made when missing); catalog:\n"
    "                         the DAT file to write\n"
    "  -c, --stdout           pack, unpack and export write to standard output (one input)\n"
    "  -q, --quiet            print no summary after pack and unpack, no messages but\n"
    "                         problems from read, write and verify\n"
    "  -f, --force            let pack, unpack, export, read, extract, catalog and format\n"
    "                         replace an existing output file (even a read-only one);\n"
    "                         without it such an output is refused\n"
    "  -y, --yes              the diskette is in the drive: read, write and verify do not\n"
    "                         ask for it (without a terminal they stop unless given -y)\n"
    "  --convert              write onto a diskette of another format: convert it to the\n"
    "                         image's format first (else stop, the diskette untouched)\n"
    "  --each PATTERN         read a box: after each diskette, wait for the next one (the\n"
    "                         drive's diskette changed, or Enter; q or end of input stops)\n"
    "                         and name its image PATTERN with {n} counting up from 1 ({n:03}\n"
    "                         for 001), {label} the diskette's volume label and {ext} the\n"
    "                         extension of its format (720 for a 720KB diskette), which a\n"
    "                         PATTERN without an extension gets; existing files are never\n"
    "                         replaced\n"
    "  --format FORMAT        read: the diskette's format, named by hand, for a diskette\n"
    "                         whose boot sector is damaged, blank or not DOS: 2.88MB,\n"
    "                         1.44MB, 1.2MB, 720KB, 360KB, 1.68MB, 1.72MB, 320KB, 180KB or\n"
    "                         160KB\n"
    "  --log FILE             read --each: add one CSV line per diskette to FILE: file,\n"
    "                         format, sizes, ratio, CRC32, MD5, SHA-1, seconds, result\n"
    "  --exact-size           unpack: keep a 360KB or 1.2MB dump at the length the image\n"
    "                         records (377856 or 1231872 bytes, zeros at the end)\n"
    "  --rescue               read: keep every sector that can be read, zeros for the\n"
    "                         others, and a map of them (exit status 3); given again with\n"
    "                         the image and its map, reads only what is still missing\n"
    "  --retries N            read --rescue: read a failing sector N more times (0 to 99,\n"
    "                         default 5)\n"
    "  --map FILE             read --rescue: the map's name (default: IMAGE.map)\n"
    "  --hash                 info also prints the CRC32, MD5, SHA-1 and SHA-256 of the\n"
    "                         raw dump the image holds\n"
    "  --deleted              ls also lists deleted entries, marked, with how much of each\n"
    "                         is still intact\n"
    "  --json                 info and ls: print JSON instead of lines of text\n"
    "  --dat DAT              check: the DAT of the known dumps to compare with\n"
    "  -h, --help             show this text\n"
    "  --version              show the program's version\n"
    "\n"
    "Where an IMAGE is read, a raw dump of a diskette size and an ImageDisk, TeleDisk or\n"
    "CopyQM file do as well (unpack refuses a raw dump: it holds nothing to unpack).\n"
    "Files are regular files or pipes; - is standard input for a file that is read (once\n"
    "a run) and standard output for one that is written (as are /dev/stdin and\n"
    "/dev/stdout); folders, maps, logs and the images of a box or a rescue are files.\n"
    "Directories and devices are refused.\n"
    "Exit status: 0 done, 1 failed or given up, 2 bad usage, 130 interrupted (Ctrl-C).\n";

const char* const VersionText = "marrowtide-img " MARROWTIDE_VERSION "\n";

namespace {

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

char LetterOf(const std::string& Text, const std::string& Command = "drive")
{
    std::string Letter = Text;
    if (Letter.size() == 2 && Letter[1] == ':')
        Letter.pop_back();
    if (Letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(Letter[0])))
        throw EUsage(Command + " takes a drive letter (" +
                     (Command == "drive" ? "A to Z" : "A or B") + "), not '" + Text + "'");
    return static_cast<char>(std::toupper(static_cast<unsigned char>(Letter[0])));
}

// An option left without its value, or a flag given one.
[[noreturn]] void RefuseValue(const CLI::App& Command, std::string Name)
{
    if (!Name.starts_with('-'))
        Name = "--" + Name;
    const CLI::Option* Option = Command.get_option_no_throw(Name);
    if (!Option)
        throw EUsage("unknown option '" + Name + "'");
    throw EUsage(Option->get_name() +
                 (Option->get_expected_max() == 0 ? " takes no value" : " needs a value"));
}

// CLI11 leaves the options a command does not know; another command may know them.
void RefuseLeftovers(const CLI::App& Command, const std::vector<CLI::App*>& Commands)
{
    for (const std::string& Arg : Command.remaining()) {
        const std::string Name = Arg.substr(0, Arg.find('='));
        const CLI::Option* Known = nullptr;
        for (const CLI::App* Other : Commands)
            if (!Known)
                Known = Other->get_option_no_throw(Name);
        if (!Known)
            throw EUsage("unknown option '" + Arg + "'");
        throw EUsage(Command.get_name() + " takes no option " + Known->get_name());
    }
}

int RetriesOf(const std::string& Text)
{
    if (Text.empty() || Text.size() > 2 || Text.find_first_not_of("0123456789") != std::string::npos)
        throw EUsage("--retries takes a number from 0 to 99, not '" + Text + "'");
    return std::stoi(Text);
}

void ReadDriveWords(TOptions& Options, const std::vector<std::string>& Words)
{
    if (Words.size() == 1 && Words[0] == "list" && !Options.DriveClear) {
        Options.DriveListing = true;
        return;
    }
    if (Words.size() != (Options.DriveClear ? 1u : 2u))
        throw EUsage("drive takes 'list', 'LETTER PATH' or 'LETTER --clear'");
    Options.DriveLetter = LetterOf(Words[0]);
    if (Options.DriveClear)
        return;
    if (Words[1].empty() || Words[1][0] == '-')
        throw EUsage("drive " + std::string(1, Options.DriveLetter) +
                     " takes a PATH or --clear, not '" + Words[1] + "'");
    Options.Output = Words[1];
}

void ReadFormatWords(TOptions& Options, const std::vector<std::string>& Words)
{
    if (Words.size() != 2)
        throw EUsage("format takes a FORMAT and a FILE");
    Options.FormatIndex = FormatIndexOfName(Words[0]);
    if (Options.FormatIndex < 0)
        throw EUsage("format takes " + FormatNameList() + ", not '" + Words[0] + "'");
    Options.Output = Words[1] == "-" ? "/dev/stdout" : Words[1];
}

// read DRIVE [IMAGE]; write and verify IMAGE DRIVE.
void ReadDisketteWords(TOptions& Options, const std::string& Command,
                       const std::vector<std::string>& Words)
{
    if (Options.Command == TCommandKind::Read) {
        if (Words.empty() || Words.size() > (Options.Each.empty() ? 2u : 1u))
            throw EUsage(Options.Each.empty() ? "read takes a DRIVE and at most one IMAGE"
                                              : "read --each takes a DRIVE and no IMAGE");
        Options.DriveLetter = LetterOf(Words[0], Command);
        if (Options.Each == "-")
            throw EUsage("read --each writes each diskette's image to a file of its own, not "
                         "to standard output");
        for (const std::string& File : {Options.LogFile, Options.MapFile})
            if (File == "-")
                throw EUsage(std::string(File == Options.LogFile ? "--log" : "--map") +
                             " names a file; standard output (-) is not one");
        if (Words.size() == 2)
            Options.Output = Words[1] == "-" ? "/dev/stdout" : Words[1];
        if (Options.Rescue && Options.Output == "/dev/stdout")
            throw EUsage("read --rescue keeps the image and its map to go on from later: give "
                         "it a file, not standard output (-)");
        if (!Options.LogFile.empty() && Options.Each.empty())
            throw EUsage("--log goes with --each");
        // A pattern that cannot be expanded is told before a diskette is read.
        CheckImagePattern(Options.Each);
        if ((Options.RescueRetries >= 0 || !Options.MapFile.empty()) && !Options.Rescue)
            throw EUsage(std::string(Options.MapFile.empty() ? "--retries" : "--map") +
                         " goes with --rescue");
        if (!Options.MapFile.empty() && !Options.Each.empty())
            throw EUsage("--map names one map: with --each every image gets its own IMAGE.map");
        if (Options.RescueRetries < 0)
            Options.RescueRetries = DefaultRescueRetries;
        return;
    }
    if (Words.size() != 2)
        throw EUsage(Command + " takes an IMAGE and a DRIVE");
    Options.Inputs = {Words[0] == "-" ? "/dev/stdin" : Words[0]};
    Options.DriveLetter = LetterOf(Words[1], Command);
}

void ReadOutputDir(TOptions& Options, const std::vector<std::string>& OutputDirs)
{
    if (OutputDirs.size() > 1)
        throw EUsage("-o is given twice");
    if (OutputDirs.size() == 1) {
        if (OutputDirs[0].empty() || OutputDirs[0] == "-")
            throw EUsage("-o needs a folder" +
                         std::string(OutputDirs[0].empty() ? "" : "; standard output (-) is none"));
        Options.OutputDir = OutputDirs[0];
        Options.HasOutputDir = true;
    }
}

// ls IMAGE...; extract IMAGE [PATTERN...]; mount IMAGE DIR. An image may be standard input
// ("-"); a pattern "-" stays one.
void ReadFileCommandWords(TOptions& Options, std::vector<std::string> Words,
                          const std::vector<std::string>& OutputDirs)
{
    ReadOutputDir(Options, OutputDirs);
    const auto Image = [](const std::string& Word) { return Word == "-" ? "/dev/stdin" : Word; };
    if (Options.Command == TCommandKind::Ls) {
        if (Words.empty())
            throw EUsage("ls takes at least one image");
        std::transform(Words.begin(), Words.end(), Words.begin(), Image);
        Options.Inputs = std::move(Words);
    } else if (Options.Command == TCommandKind::Extract) {
        if (Words.empty())
            throw EUsage("extract takes an image and, if need be, patterns of files");
        Options.Inputs = {Image(Words[0])};
        Options.Patterns.assign(Words.begin() + 1, Words.end());
    } else {
        if (Words.size() != 2)
            throw EUsage("mount takes an image and a folder");
        if (Words[1] == "-")
            throw EUsage("mount takes a folder; standard output (-) is none");
        Options.Inputs = {Image(Words[0])};
        Options.Output = Words[1];
    }
}

// pack and unpack take an input and an output, or inputs and -o DIR; advise one file; info,
// catalog and check one or more; export an image and an archive.
void ReadFiles(TOptions& Options, const std::string& Command, std::vector<std::string> Files,
               const std::vector<std::string>& OutputDirs)
{
    ReadOutputDir(Options, OutputDirs);
    // "-" is standard input where a file is read, standard output where one is written.
    for (std::string& File : Files)
        if (File == "-")
            File = "/dev/stdin";
    Options.Inputs = std::move(Files);
    const size_t Count = Options.Inputs.size();
    if (Options.ToStdout) {
        if (Options.HasOutputDir)
            throw EUsage("-c and -o do not go together");
        if (Count != 1)
            throw EUsage(Command + " -c takes one input");
        Options.Output = "/dev/stdout";
        return;
    }
    if (Options.Command == TCommandKind::Catalog || Options.Command == TCommandKind::Check ||
        Options.Command == TCommandKind::Info) {
        if (Count == 0)
            throw EUsage(Command + " takes at least one image");
    } else if (Options.Command == TCommandKind::Advise) {
        if (Count != 1)
            throw EUsage(Command + " takes one file");
    } else if (Options.Command == TCommandKind::Export) {
        if (Count != 2)
            throw EUsage("export takes an image and an archive file");
        Options.Output = Options.Inputs[1] == "/dev/stdin" ? "/dev/stdout" : Options.Inputs[1];
        Options.Inputs.pop_back();
    } else if (Options.HasOutputDir) {
        if (Count == 0)
            throw EUsage(Command + " -o DIR needs at least one input");
    } else {
        if (Count != 2)
            throw EUsage(Command + " takes an input and an output file, or inputs and -o DIR");
        Options.Output = Options.Inputs[1] == "/dev/stdin" ? "/dev/stdout" : Options.Inputs[1];
        Options.Inputs.pop_back();
    }
}

std::vector<std::string> LinesOf(const std::string& Text)
{
    std::vector<std::string> Lines;
    for (size_t Start = 0; Start < Text.size();) {
        const size_t End = std::min(Text.find('\n', Start), Text.size());
        Lines.push_back(Text.substr(Start, End - Start));
        Start = End + 1;
    }
    return Lines;
}

// The names an option line of the usage starts with: "-o, --output DIR   ..." gives -o, --output.
std::vector<std::string> OptionNamesOf(const std::string& Line)
{
    std::vector<std::string> Names;
    const std::string Head = Line.substr(2, Line.find("  ", 2) - 2);
    for (size_t Start = 0; Start < Head.size();) {
        size_t End = Head.find(", ", Start);
        End = End == std::string::npos ? Head.size() : End;
        const std::string Name = Head.substr(Start, End - Start);
        Names.push_back(Name.substr(0, Name.find(' ')));
        Start = End + 2;
    }
    return Names;
}

// One command's part of the usage: its entries under "Commands:", the entries under "Options:"
// that it takes, and the closing notes. Taken from the whole usage, so the texts live in one
// place.
std::string CommandUsage(const CLI::App& Command)
{
    const std::string Name = Command.get_name();
    std::string Usage = "Usage of marrowtide-img " + Name + ":\n", Options, Notes;
    enum { Head, Commands, OptionList, Tail } Section = Head;
    bool Keep = false;
    for (const std::string& Line : LinesOf(UsageText)) {
        if (Line == "Commands:" || Line == "Options:") {
            Section = Line == "Commands:" ? Commands : OptionList;
            continue;
        }
        if (Section == OptionList && Line.empty())
            Section = Tail;
        const bool Entry = Line.size() > 2 && Line.starts_with("  ") && Line[2] != ' ';
        if (Section == Commands && Entry)
            Keep = Line.substr(2, Name.size() + 1) == Name + " ";
        if (Section == OptionList && Entry) {
            Keep = false;
            for (const std::string& Option : OptionNamesOf(Line))
                Keep = Keep || Option == "-h" || Command.get_option_no_throw(Option) != nullptr;
        }
        if (Section == Commands && Keep && !Line.empty())
            Usage += Line + "\n";
        else if (Section == OptionList && Keep)
            Options += Line + "\n";
        else if (Section == Tail)
            Notes += Line + "\n";
    }
    return Usage + "\nOptions:\n" + Options + Notes;
}

}  // namespace

TOptions ParseArgs(const std::vector<std::string>& Args)
{
    if (Args.empty())
        throw EUsage("");
    TOptions Options;
    if (Args[0] == "help")
        return Options;

    CLI::App App("", "marrowtide-img");
    App.set_version_flag("--version", VersionText);
    App.option_defaults()->disable_flag_override();
    App.require_subcommand(0, 1);  // the name of another command after the first is a file

    // Every command takes its words (files, a format, a drive letter ...) in one list.
    std::vector<std::string> Words;
    CLI::App* Command = &App;
    const auto AddCommand = [&](const char* Name, TCommandKind Kind) {
        CLI::App* Sub = App.add_subcommand(Name)->allow_extras();
        Sub->add_option("WORDS", Words);
        if (Args[0] == Name) {
            Command = Sub;
            Options.Command = Kind;
        }
        return Sub;
    };
    CLI::App* Pack = AddCommand("pack", TCommandKind::Pack);
    CLI::App* Unpack = AddCommand("unpack", TCommandKind::Unpack);
    CLI::App* Advise = AddCommand("advise", TCommandKind::Advise);
    CLI::App* Info = AddCommand("info", TCommandKind::Info);
    CLI::App* Drive = AddCommand("drive", TCommandKind::Drive);
    CLI::App* Format = AddCommand("format", TCommandKind::Format);
    CLI::App* Export = AddCommand("export", TCommandKind::Export);
    CLI::App* Read = AddCommand("read", TCommandKind::Read);
    CLI::App* Write = AddCommand("write", TCommandKind::Write);
    CLI::App* Verify = AddCommand("verify", TCommandKind::Verify);
    CLI::App* Ls = AddCommand("ls", TCommandKind::Ls);
    CLI::App* Extract = AddCommand("extract", TCommandKind::Extract);
    CLI::App* Mount = AddCommand("mount", TCommandKind::Mount);
    CLI::App* Catalog = AddCommand("catalog", TCommandKind::Catalog);
    CLI::App* Check = AddCommand("check", TCommandKind::Check);
    if (Command == &App && !App.get_option_no_throw(Args[0]))
        throw EUsage("unknown command '" + Args[0] + "'");

    std::vector<std::string> OutputDirs;
    for (CLI::App* Sub : {Pack, Unpack, Extract}) {
        Sub->add_flag("-q,--quiet", Options.Quiet);
        Sub->add_flag("-f,--force", Options.Force);
        Sub->add_option("-o,--output", OutputDirs)->allow_extra_args(false);
    }
    for (CLI::App* Sub : {Pack, Unpack, Export})
        Sub->add_flag("-c,--stdout", Options.ToStdout);
    for (CLI::App* Sub : {Export, Format})
        Sub->add_flag("-f,--force", Options.Force);
    Unpack->add_flag("--exact-size", Options.ExactSize);
    for (CLI::App* Sub : {Read, Write, Verify}) {
        Sub->add_flag("-q,--quiet", Options.Quiet);
        Sub->add_flag("-y,--yes", Options.Yes);
    }
    Read->add_flag("-f,--force", Options.Force);
    Read->add_option("--each", Options.Each)->take_last();
    Read->add_option("--log", Options.LogFile)->take_last();
    Read->add_flag("--rescue", Options.Rescue);
    Read->add_option("--map", Options.MapFile)->take_last();
    Read->add_option_function<std::string>("--retries", [&Options](const std::string& Text) {
        Options.RescueRetries = RetriesOf(Text);
    })->take_last();
    std::string NamedFormat;
    Read->add_option("--format", NamedFormat)->take_last();
    Write->add_flag("--convert", Options.Convert);
    const auto SetMode = [&Options](const std::string& Text) { Options.Mode = ModeOf(Text); };
    const auto SetThreshold = [&Options](const std::string& Text) {
        Options.Threshold = ThresholdOf(Text);
    };
    // Given twice, the last --mode or --threshold counts.
    for (CLI::App* Sub : {Pack, Read})
        Sub->add_option_function<std::string>("--mode", SetMode)->take_last();
    for (CLI::App* Sub : {Pack, Advise})
        Sub->add_option_function<std::string>("--threshold", SetThreshold)->take_last();
    Drive->add_flag("--clear", Options.DriveClear);
    Info->add_flag("--hash", Options.Hash);
    Ls->add_flag("--deleted", Options.Deleted);
    Ls->add_flag("--json", Options.Json);
    Mount->add_flag("-q,--quiet", Options.Quiet);
    Info->add_flag("--json", Options.Json);
    std::vector<std::string> CatalogFiles;
    Catalog->add_option("-o,--output", CatalogFiles)->allow_extra_args(false);
    Catalog->add_flag("-f,--force", Options.Force);
    Catalog->add_flag("-q,--quiet", Options.Quiet);
    Check->add_option("--dat", Options.DatFile)->take_last();

    // Words after "--" are files whatever they look like; CLI11 gets the ones before.
    const auto OptionsEnd = std::find(Args.begin(), Args.end(), "--");
    // CLI11 would take the next argument as the value of "--name=".
    for (auto Arg = Args.begin(); Arg != OptionsEnd; ++Arg)
        if (Arg->starts_with("--") && Arg->ends_with('=')) {
            const std::string Name = Arg->substr(0, Arg->size() - 1);
            if (Command->get_option_no_throw(Name))
                RefuseValue(*Command, Name);
        }

    try {
        App.parse(std::vector<std::string>(std::make_reverse_iterator(OptionsEnd), Args.rend()));
    } catch (const CLI::CallForHelp&) {
        TOptions Help;
        if (Command != &App)
            Help.HelpText = CommandUsage(*Command);
        return Help;
    } catch (const CLI::CallForVersion&) {
        TOptions Version;
        Version.Command = TCommandKind::Version;
        return Version;
    } catch (const CLI::ArgumentMismatch& E) {
        // CLI11 begins this text with the name of the option.
        RefuseValue(*Command, std::string(E.what(), std::strcspn(E.what(), ": ")));
    } catch (const CLI::ParseError& E) {
        throw EUsage(E.what());
    }
    RefuseLeftovers(*Command, {Pack, Info, Read, Write, Ls, Catalog, Check});
    if (OptionsEnd != Args.end())
        Words.insert(Words.end(), OptionsEnd + 1, Args.end());

    if (!NamedFormat.empty()) {
        Options.FormatIndex = FormatIndexOfName(NamedFormat);
        if (Options.FormatIndex < 0)
            throw EUsage("--format takes " + FormatNameList() + ", not '" + NamedFormat + "'");
    }
    if (Options.Command == TCommandKind::Drive)
        ReadDriveWords(Options, Words);
    else if (Options.Command == TCommandKind::Format)
        ReadFormatWords(Options, Words);
    else if (Options.Command == TCommandKind::Read || Options.Command == TCommandKind::Write ||
             Options.Command == TCommandKind::Verify)
        ReadDisketteWords(Options, Command->get_name(), Words);
    else if (Options.Command == TCommandKind::Ls || Options.Command == TCommandKind::Extract ||
             Options.Command == TCommandKind::Mount)
        ReadFileCommandWords(Options, std::move(Words), OutputDirs);
    else
        ReadFiles(Options, Command->get_name(), std::move(Words), OutputDirs);
    if (Options.Command == TCommandKind::Catalog) {
        if (CatalogFiles.size() != 1 || CatalogFiles[0].empty())
            throw EUsage(CatalogFiles.size() > 1 ? "-o is given twice" : "catalog needs -o DAT");
        Options.Output = CatalogFiles[0] == "-" ? "/dev/stdout" : CatalogFiles[0];
    }
    if (Options.Command == TCommandKind::Check && Options.DatFile.empty())
        throw EUsage("check needs --dat DAT");
    if (Options.DatFile == "-")
        Options.DatFile = "/dev/stdin";
    // What one reading took from a pipe is not there for the next.
    if (std::count(Options.Inputs.begin(), Options.Inputs.end(), "/dev/stdin") +
            (Options.DatFile == "/dev/stdin") > 1)
        throw EUsage("standard input (-) can be read only once");
    return Options;
}
