// The console tool's parts that need no engine run: arguments, output names, the format
// table, ratios, the progress line and the job pool.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "cli/Commands.h"
#include "cli/ImageName.h"
#include "cli/DisketteCommands.h"
#include "cli/ImageInfo.h"
#include "cli/Jobs.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "core/FormatTable.h"

namespace {

TEST(CliArgs, PackTwoFilesWithOptionsInAnyPlace)
{
    TOptions O = ParseArgs({"pack", "raw.img", "--mode=fast", "out.144", "--threshold", "55", "-q"});
    EXPECT_EQ(O.Command, TCommandKind::Pack);
    EXPECT_EQ(O.Mode, TCompressMode::Fast);
    EXPECT_EQ(O.Threshold, 55);
    EXPECT_TRUE(O.Quiet);
    EXPECT_FALSE(O.HasOutputDir);
    EXPECT_EQ(O.Inputs, std::vector<std::string>{"raw.img"});
    EXPECT_EQ(O.Output, "out.144");

    TOptions D = ParseArgs({"pack", "a", "b"});
    EXPECT_EQ(D.Mode, TCompressMode::Good);
    EXPECT_EQ(D.Threshold, 40);
    EXPECT_FALSE(D.Quiet);
    EXPECT_EQ(ParseArgs({"pack", "--mode", "auto", "a", "b"}).Mode, TCompressMode::Auto);
}

TEST(CliArgs, OutputFolderTakesAnyNumberOfInputs)
{
    TOptions O = ParseArgs({"unpack", "-o", "dir", "a.144", "b.720", "c.360"});
    EXPECT_EQ(O.Command, TCommandKind::Unpack);
    EXPECT_TRUE(O.HasOutputDir);
    EXPECT_EQ(O.OutputDir, "dir");
    EXPECT_EQ(O.Inputs, (std::vector<std::string>{"a.144", "b.720", "c.360"}));
    EXPECT_EQ(ParseArgs({"pack", "one.img", "--output=out"}).Inputs.size(), 1u);
}

TEST(CliArgs, DoubleDashEndsOptions)
{
    TOptions O = ParseArgs({"info", "--", "-q"});
    EXPECT_EQ(O.Inputs, std::vector<std::string>{"-q"});
    EXPECT_FALSE(O.Quiet);
}

TEST(CliArgs, HelpWinsAnywhere)
{
    EXPECT_EQ(ParseArgs({"--help"}).Command, TCommandKind::Help);
    EXPECT_EQ(ParseArgs({"-h"}).Command, TCommandKind::Help);
    EXPECT_EQ(ParseArgs({"pack", "a", "--help"}).Command, TCommandKind::Help);
}

TEST(CliArgs, BadUsageIsRefused)
{
    const std::vector<std::vector<std::string>> Bad = {
        {},
        {"frobnicate", "a"},
        {"pack", "only-one"},
        {"pack", "a", "b", "c"},
        {"pack", "--mode", "slow", "a", "b"},
        {"pack", "a", "b", "--mode"},
        {"pack", "--threshold", "101", "a", "b"},
        {"pack", "--threshold", "-1", "a", "b"},
        {"pack", "--threshold", "4x", "a", "b"},
        {"pack", "--threshold=", "a", "b"},
        {"pack", "--quiet=yes", "a", "b"},
        {"pack", "--frob", "a", "b"},
        {"pack", "-x", "a", "b"},
        {"pack", "-o", "d", "-o", "e", "a"},
        {"pack", "-o", "d"},
        {"pack", "-o", "", "a"},
        {"unpack", "--mode", "fast", "a", "b"},
        {"advise", "-q", "a"},
        {"advise", "a", "b"},
        {"info"},
        {"info", "-o", "d", "a"},
    };
    for (const auto& Args : Bad) {
        std::string Joined;
        for (const auto& A : Args)
            Joined += A + " ";
        EXPECT_THROW(ParseArgs(Args), EUsage) << Joined;
    }
}

TEST(CliArgs, VersionRepeatsAndTheToolsOwnTexts)
{
    EXPECT_EQ(ParseArgs({"--version"}).Command, TCommandKind::Version);
    const std::vector<std::string> Twice = {"pack", "--mode", "fast", "--mode", "good", "a", "b"};
    EXPECT_EQ(ParseArgs(Twice).Mode, TCompressMode::Good);
    EXPECT_EQ(ParseArgs({"pack", "info", "unpack"}).Output, "unpack");
    EXPECT_EQ(ParseArgs({"format", "720KB", "--", "-x"}).Output, "-x");

    const std::pair<std::vector<std::string>, std::string> Refused[] = {
        {{"frob"}, "unknown command 'frob'"},
        {{"pack", "--frob", "a", "b"}, "unknown option '--frob'"},
        {{"advise", "-q", "a"}, "advise takes no option --quiet"},
        {{"pack", "a", "b", "--mode"}, "--mode needs a value"},
        {{"pack", "--output=", "a"}, "--output needs a value"},
        {{"pack", "--quiet=yes", "a", "b"}, "--quiet takes no value"},
        {{"pack", "-o", "d", "-o", "e", "a"}, "-o is given twice"},
    };
    for (const auto& [Args, Text] : Refused) {
        try {
            ParseArgs(Args);
            ADD_FAILURE() << Text;
        } catch (const EUsage& E) {
            EXPECT_EQ(E.what(), Text);
        }
    }
}

TEST(CliArgs, DisketteCommandsTakeADriveAndAnImage)
{
    TOptions R = ParseArgs({"read", "a:", "--mode", "fast", "-y", "-f"});
    EXPECT_EQ(R.Command, TCommandKind::Read);
    EXPECT_EQ(R.DriveLetter, 'A');
    EXPECT_EQ(R.Output, "");
    EXPECT_TRUE(R.Yes && R.Force);
    EXPECT_EQ(R.Mode, TCompressMode::Fast);
    TOptions Box = ParseArgs({"read", "B", "--each", "box-{n}.144", "--log", "box.csv"});
    EXPECT_EQ(Box.Each, "box-{n}.144");
    EXPECT_EQ(Box.LogFile, "box.csv");
    TOptions W = ParseArgs({"write", "--convert", "x.720", "b"});
    EXPECT_EQ(W.Inputs, std::vector<std::string>{"x.720"});
    EXPECT_EQ(W.DriveLetter, 'B');
    EXPECT_TRUE(W.Convert);
    for (const std::vector<std::string>& Bad :
         {std::vector<std::string>{"read"}, {"read", "AB"}, {"read", "A", "x", "y"},
          {"read", "A", "x", "--each", "p"}, {"read", "A", "--log", "l.csv"},
          {"write", "x.144"}, {"verify", "x.144", "A", "--convert"}, {"write", "x", "A", "-f"}})
        EXPECT_THROW(ParseArgs(Bad), EUsage) << Bad.back();
}

TEST(CliNames, BoxNamesCountAndCarryTheLabel)
{
    EXPECT_EQ(ExpandImageName("box3-{n:03}.144", 7, ""), "box3-007.144");
    EXPECT_EQ(ExpandImageName("box3-{n:03}.{ext}", 7, "", "720"), "box3-007.720");
    EXPECT_EQ(ExpandImageName("{label}-{n}", 12, "GAMES 1/2"), "GAMES_1_2-12");
    EXPECT_EQ(ExpandImageName("{n:x}{nope}", 1, ""), "{n:x}{nope}");
    EXPECT_EQ(ExpandImageName("box-{n.144", 1, ""), "box-{n.144");
    // A label never steps out of the folder the pattern names, nor collapses it.
    for (const std::string Label : {"..", ".", ""})
        EXPECT_EQ(ExpandImageName("L/{label}/x{n}.144", 1, Label), "L/NO_LABEL/x1.144") << Label;
    EXPECT_EQ(ExpandImageName("{label}", 1, "../.."), ".._..");
    for (const std::string Pattern : {"box-{n.144", "a{n:0}", "a{n:13}", "{lab}-{n}"})
        EXPECT_THROW(ParseArgs({"read", "A", "--each", Pattern}), EUsage) << Pattern;
    EXPECT_EQ(ParseArgs({"read", "A", "--each", "{label}/{n:12}"}).Each, "{label}/{n:12}");
    EXPECT_EQ(WithFormatExtension("disk", 3), "disk.720");
    EXPECT_EQ(WithFormatExtension("dir.v2/disk", 0), "dir.v2/disk.288");
    EXPECT_EQ(WithFormatExtension("disk.img", 1), "disk.img");
}

TEST(CliNames, PackedNameFollowsTheDumpSize)
{
    EXPECT_EQ(PackedName("disk.img", 2949120), "disk.288");
    EXPECT_EQ(PackedName("disk.img", 1474560), "disk.144");
    EXPECT_EQ(PackedName("disk.img", 1231872), "disk.120");
    EXPECT_EQ(PackedName("disk.img", 737280), "disk.720");
    EXPECT_EQ(PackedName("disk.img", 377856), "disk.360");
    // What the medium holds, as other tools dump it, and the added formats.
    EXPECT_EQ(PackedName("disk.img", 1228800), "disk.120");
    EXPECT_EQ(PackedName("disk.img", 368640), "disk.360");
    EXPECT_EQ(PackedName("disk.img", 1720320), "disk.168");
    EXPECT_EQ(PackedName("disk.img", 1763328), "disk.172");
    EXPECT_EQ(PackedName("disk.img", 327680), "disk.320");
    EXPECT_EQ(PackedName("disk.img", 184320), "disk.180");
    EXPECT_EQ(PackedName("disk.img", 163840), "disk.160");
    EXPECT_EQ(PackedName("disk.img", 1228801), "disk.mwi");
    EXPECT_EQ(PackedName("disk.img", -1), "disk.mwi");
    EXPECT_EQ(PackedName("some/dir/backup.2024.raw", 737280), "backup.2024.720");
    EXPECT_EQ(UnpackedName("some/dir/disk.144"), "disk.img");
    EXPECT_EQ(UnpackedName("noext"), "noext.img");
}

TEST(CliNames, PlanRefusesOutputsThatClash)
{
    TOptions Batch = ParseArgs({"unpack", "-o", "/tmp/out", "a/x.144", "b/x.720"});
    EXPECT_THROW(PlanTasks(Batch), EUsage);
    TOptions Self = ParseArgs({"pack", "/tmp/same.img", "/tmp/../tmp/same.img"});
    EXPECT_THROW(PlanTasks(Self), EUsage);

    TOptions Fine = ParseArgs({"unpack", "-o", "/tmp/out", "a/x.144", "b/y.144"});
    const auto Tasks = PlanTasks(Fine);
    ASSERT_EQ(Tasks.size(), 2u);
    EXPECT_EQ(Tasks[0].Output, "/tmp/out/x.img");
    EXPECT_EQ(Tasks[1].Output, "/tmp/out/y.img");
}

TEST(FormatTable, DumpSizesGiveTheirFormat)
{
    for (uint8_t i = 0; i < KnownFormatCount; ++i) {
        const int32_t Size = FormatTable[i].TotalBytes;
        EXPECT_EQ(FormatIndexOfDumpSize(Size), i);
        EXPECT_EQ(FormatIndexOfDumpSize(Size - 1), UnknownFormatIndex);
        EXPECT_EQ(FormatIndexOfDumpSize(Size + 1), UnknownFormatIndex);
    }
    EXPECT_EQ(FormatIndexOfDumpSize(0), UnknownFormatIndex);
    EXPECT_EQ(FormatOfIndex(9).FormatName, "Unknown Format");
    EXPECT_EQ(FormatOfIndex(9).TracksText, "0");
    EXPECT_EQ(FormatOfIndex(4).SectorsText, "09");
    EXPECT_EQ(FormatOfIndex(3).Tracks * FormatOfIndex(3).SectorsPerTrack, 720);

    // The window keeps to its five; the medium's own size of 360KB and 1.2MB is theirs too.
    EXPECT_EQ(FormatIndexOfDumpSize(368640), 4);
    EXPECT_EQ(FormatIndexOfDumpSize(1228800), 2);
    EXPECT_EQ(FormatIndexOfDumpSize(1720320), UnknownFormatIndex);
    EXPECT_EQ(FormatOfIndex(6).FormatName, "Unknown Format");
    for (const TFormatRow& Row : FormatTable) {
        if (!IsKnownFormat(Row.FormatIndex, true))
            continue;
        SCOPED_TRACE(Row.FormatName);
        // The helper's tracks cover the medium; only 1.2MB and 360KB dumps run past it.
        EXPECT_EQ(int64_t(Row.Tracks) * 2 * Row.SectorsPerTrack * 512, Row.MediumBytes());
        EXPECT_EQ(FormatIndexOfDumpSize(Row.MediumBytes(), true), Row.FormatIndex);
        EXPECT_EQ(FormatIndexOfHelperTracks(Row.Tracks, Row.SectorsPerTrack), Row.FormatIndex);
        EXPECT_EQ(FormatIndexOfLayout(Row.MediumSectors(), Row.Sides, Row.Sectors, true),
                  Row.FormatIndex);
        EXPECT_EQ(std::to_string(Row.Tracks), Row.TracksText);
        EXPECT_EQ(std::stoi(std::string(Row.SectorsText)), Row.SectorsPerTrack);
    }
    EXPECT_EQ(FormatIndexOfLayout(640, 2, 8), UnknownFormatIndex);
    EXPECT_EQ(FormatIndexOfHelperTracks(80, 9), 3);
}

TEST(CliText, RatiosHaveOneRoundedDecimal)
{
    EXPECT_EQ(RatioText(1, 3), "33.3%");
    EXPECT_EQ(RatioText(2, 3), "66.7%");
    EXPECT_EQ(RatioText(0, 5), "0.0%");
    EXPECT_EQ(RatioText(3, 2), "150.0%");
    EXPECT_EQ(RatioText(5, 0), "-");
    EXPECT_EQ(DiskFormatText(1231872), "1.2MB");
    EXPECT_EQ(DiskFormatText(1000), "not a diskette size");
}

TEST(CliProgress, LineFitsTheTerminal)
{
    const std::string Half = RenderProgressLine(50, 100, "disk.img", 80);
    EXPECT_EQ(Half, "[###############...............]  50%  disk.img");
    EXPECT_EQ(RenderProgressLine(7, 0, "", 80), "[" + std::string(30, '.') + "]   0%");
    EXPECT_NE(RenderProgressLine(500, 100, "", 80).find("100%"), std::string::npos);
    EXPECT_EQ(RenderProgressLine(1, 2, "a-long-file-name.img", 20).size(), 19u);
}

TEST(CliProgress, BoardDrawsOnlyWhenOnAndClearsAtTheEnd)
{
    char* Buffer = nullptr;
    size_t Length = 0;
    std::FILE* Out = open_memstream(&Buffer, &Length);
    {
        TProgressBoard Board({100, 300}, "", Out, true);
        Board.Update(0, 50);
        Board.Update(0, 50);  // same line: not drawn again
        Board.JobDone(1);
        Board.Finish();
        Board.Update(0, 100);  // after the end: nothing
    }
    std::fclose(Out);
    const std::string Drawn(Buffer, Length);
    std::free(Buffer);
    EXPECT_EQ(Drawn, "\r[###" + std::string(27, '.') + "]  12%  0/2 files\033[K" +
                     "\r[" + std::string(26, '#') + "....]  87%  1/2 files\033[K" + "\r\033[K");

    Buffer = nullptr;
    Out = open_memstream(&Buffer, &Length);
    {
        TProgressBoard Quiet({100}, "x", Out, false);
        Quiet.Update(0, 50);
        Quiet.JobDone(0);
    }
    std::fclose(Out);
    EXPECT_EQ(Length, 0u);
    std::free(Buffer);
}

TEST(CliJobs, EveryJobRunsOnceAndFailuresStayWithTheirJob)
{
    std::vector<std::atomic<int>> Runs(100);
    const auto Errors = RunJobs(100, 4, [&](size_t i) {
        ++Runs[i];
        if (i == 7 || i == 42)
            throw std::runtime_error("job " + std::to_string(i));
    });
    ASSERT_EQ(Errors.size(), 100u);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(Runs[i], 1) << i;
        EXPECT_EQ(bool(Errors[i]), i == 7 || i == 42) << i;
    }
    try {
        std::rethrow_exception(Errors[42]);
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "job 42");
    }
    EXPECT_TRUE(RunJobs(0, 4, [](size_t) {}).empty());
}

TEST(CliJobs, TwoWorkersRunAtTheSameTime)
{
    // Each job waits for the other: with one worker at a time both would time out.
    std::mutex Lock;
    std::condition_variable Arrived;
    int Waiting = 0;
    std::atomic<int> Met{0};
    RunJobs(2, 2, [&](size_t) {
        std::unique_lock Guard(Lock);
        ++Waiting;
        Arrived.notify_all();
        if (Arrived.wait_for(Guard, std::chrono::seconds(10), [&] { return Waiting == 2; }))
            ++Met;
    });
    EXPECT_EQ(Met, 2);
}

}  // namespace
