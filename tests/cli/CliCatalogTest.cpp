// info --json, catalog and check on images of both codecs and raw dumps; the JSON and the DAT
// are read back by Python's own parsers.
#include <gtest/gtest.h>

#include "CliTestSupport.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

int Shell(const std::string& Command)
{
    return std::system(("MTOOLS_SKIP_CHECK=1 " + Command + " >/dev/null 2>&1").c_str());
}

// What a Python program prints when given File.
std::string PythonSays(const TTempDir& Dir, const std::string& Program, const std::string& File)
{
    const std::string Out = Dir / "python.txt";
    const int Status = std::system((std::string(PYTHON3) + " -c " + Quote(Program) + " " +
                                    Quote(File) + " >" + Quote(Out) + " 2>&1").c_str());
    const std::string Text = ReadText(Out);
    fs::remove(Out);
    EXPECT_EQ(Status, 0) << Text;
    return Text;
}

// The fields of each object of the JSON array, in this order, on one line; no others.
const char* const JsonFields = R"PY(import json, sys
keys = "file codec raw_size image_size ratio format label serial file_count crc32 md5 sha1 sha256 error".split()
for item in json.load(open(sys.argv[1])):
    assert set(item) <= set(keys), item
    print(" ".join(json.dumps(item.get(k)) for k in keys))
)PY";

// The header's name, then per entry its name and each rom's attributes.
const char* const DatLines = R"PY(import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "datafile"
print(ascii(root.find("header/name").text), root.find("header/author").text)
for game in root.findall("game"):
    print(ascii(game.get("name")), ascii(game.find("description").text))
    for rom in game.findall("rom"):
        print(" ", ascii(rom.get("name")), rom.get("size"), rom.get("crc"), rom.get("md5"),
              rom.get("sha1"))
)PY";

// Each volume's facts, then its tree, one entry a line, indented by depth.
const char* const TreeLines = R"PY(import json, sys
def walk(entries, depth):
    for e in entries:
        print("  " * depth + e["name"], e["short_name"], e["size"], e["modified"],
              e["attributes"], e["deleted"], e["problems"])
        walk(e.get("entries", []), depth + 1)
for v in json.load(open(sys.argv[1])):
    print(v.get("file"), v.get("codec"), v.get("format"), v.get("label"), v.get("serial"),
          v.get("fat_bits"), v.get("error"))
    walk(v.get("entries", []), 1)
)PY";

// A labelled 720KB diskette with four files, one in a folder, made by mkfs.fat and mtools; a
// dump that holds no FAT volume; LZH and LZRW1/KH images of the first.
class CliCatalog : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!*PYTHON3 || Shell("command -v mcopy") != 0)
            GTEST_SKIP() << "python3 or mtools is not installed";
        WriteText(Dir / "src/A.TXT", "a\n");
        WriteText(Dir / "src/Long name.txt", "long\n");
        WriteText(Dir / "src/B.BIN", std::string(3000, 'b'));
        WriteText(Dir / "src/SUB/C.TXT", "c\n");
        ASSERT_EQ(Shell("/usr/sbin/mkfs.fat -C -n SHELF7 -i 1234ABCD " + Quote(Fat) + " 720"), 0);
        ASSERT_EQ(Shell("find " + Quote(Dir / "src") + " -exec touch -d '1994-06-15 10:20:30' {} +"),
                  0);
        ASSERT_EQ(Shell("cd " + Quote(Dir / "src") + " && mcopy -s -m -i " + Quote(Fat) +
                        " ./* ::/"), 0);
        WriteBytes(Blank, MakeDump(377856, 4));
        for (const auto& [Image, Mode] : {std::pair{Lzh, "good"}, std::pair{Fast, "fast"}})
            ASSERT_EQ(RunTool(Dir, {"pack", "-q", "--mode", Mode, Fat, Image}).Code, 0);
    }

    std::string Sums(const std::string& File)
    {
        return DigestBy("md5sum", Dir, File) + " " + DigestBy("sha1sum", Dir, File);
    }

    TTempDir Dir;
    const std::string Fat = Dir / "shelf.img";
    const std::string Blank = Dir / "blank.bin";
    const std::string Lzh = Dir / "shelf.720";
    const std::string Fast = Dir / "fast.720";
};

TEST_F(CliCatalog, InfoJsonDescribesImagesOfBothCodecsAndRawDumps)
{
    const std::string Missing = Dir / "missing.144";
    const TRun Info = RunTool(Dir, {"info", "--json", "--hash", Lzh, Fast, Fat, Blank, Missing});
    EXPECT_EQ(Info.Code, 1);
    const std::string Refusal = "cannot open " + Missing + ": No such file or directory";
    EXPECT_EQ(Info.Err, "marrowtide-img: " + Refusal + "\n");
    WriteText(Dir / "info.json", Info.Out);

    const auto Hashes = [&](const std::string& Dump) {
        return " \"" + Crc32Of(ReadBytes(Dump)) + "\" \"" + DigestBy("md5sum", Dir, Dump) +
               "\" \"" + DigestBy("sha1sum", Dir, Dump) + "\" \"" +
               DigestBy("sha256sum", Dir, Dump) + "\" null\n";
    };
    const std::string Volume = " \"720KB\" \"SHELF7\" \"1234-ABCD\" 4" + Hashes(Fat);
    // The ratio as info prints it, without its percent sign.
    const auto Sizes = [&](const std::string& Image) {
        const std::string Text = RunTool(Dir, {"info", Image}).Out;
        const size_t Ratio = Text.find("ratio: ") + 7;
        return " 737280 " + std::to_string(fs::file_size(Image)) + " " +
               Text.substr(Ratio, Text.find('%', Ratio) - Ratio);
    };
    EXPECT_EQ(PythonSays(Dir, JsonFields, Dir / "info.json"),
              "\"" + Lzh + "\" \"LZH\"" + Sizes(Lzh) + Volume +
              "\"" + Fast + "\" \"LZRW1/KH\"" + Sizes(Fast) + Volume +
              "\"" + Fat + "\" null 737280 null null" + Volume +
              "\"" + Blank + "\" null 377856 null null \"360KB\" null null null" + Hashes(Blank) +
              "\"" + Missing + "\" null null null null null null null null null null null null \"" +
              Refusal + "\"\n");
    // Without --hash, no checksums.
    WriteText(Dir / "info.json", RunTool(Dir, {"info", "--json", Blank}).Out);
    EXPECT_EQ(PythonSays(Dir, JsonFields, Dir / "info.json"),
              "\"" + Blank + "\" null 377856 null null \"360KB\" null null null null null null "
              "null null\n");
}

TEST_F(CliCatalog, LsJsonNestsTheTree)
{
    const TRun Ls = RunTool(Dir, {"ls", "--json", Lzh, Blank});
    EXPECT_EQ(Ls.Code, 1);
    WriteText(Dir / "ls.json", Ls.Out);
    EXPECT_EQ(PythonSays(Dir, TreeLines, Dir / "ls.json"),
              Lzh + " LZH 720KB SHELF7 1234-ABCD 12 None\n"
              "  A.TXT A.TXT 2 1994-06-15 10:20:30 ----A False []\n"
              "  B.BIN B.BIN 3000 1994-06-15 10:20:30 ----A False []\n"
              "  Long name.txt LONGNA~1.TXT 5 1994-06-15 10:20:30 ----A False []\n"
              "  SUB SUB 0 1994-06-15 10:20:30 ---D- False []\n"
              "    C.TXT C.TXT 2 1994-06-15 10:20:30 ----A False []\n" +
              Blank + " None None None None None " + Ls.Err.substr(16, Ls.Err.size() - 17) +
              "\n");
}

TEST_F(CliCatalog, CatalogWritesADatThatCheckMatches)
{
    const std::string Dat = Dir / "box.dat";
    const TRun Made = RunTool(Dir, {"catalog", Lzh, Blank, "-o", Dat});
    ASSERT_EQ(Made.Code, 0) << Made.Err;
    EXPECT_EQ(Made.Out, Dat + ": 2 entries\n");
    EXPECT_EQ(PythonSays(Dir, DatLines, Dat),
              "'box' marrowtide-img\n'shelf' 'shelf'\n  'shelf.img' 737280 " +
                  Crc32Of(ReadBytes(Fat)) + " " + Sums(Fat) + "\n'blank' 'blank'\n  'blank.bin' "
                  "377856 " + Crc32Of(ReadBytes(Blank)) + " " + Sums(Blank) + "\n");

    // The same dumps match whatever holds them; another does not.
    const std::string Other = Dir / "other.img";
    WriteBytes(Other, MakeDump(377856, 5));
    const TRun Check = RunTool(Dir, {"check", "--dat", Dat, Fast, Fat, Blank, Other});
    EXPECT_EQ(Check.Code, 1);
    EXPECT_EQ(Check.Out, Fast + ": matches \"shelf\" (shelf.img) by SHA-1\n" + Fat +
                             ": matches \"shelf\" (shelf.img) by SHA-1\n" + Blank +
                             ": matches \"blank\" (blank.bin) by SHA-1\n" + Other +
                             ": matches no entry of " + Dat + "\n");
    EXPECT_EQ(RunTool(Dir, {"check", "--dat", Dat, Lzh}).Code, 0);

    // An existing DAT is replaced only with -f; a failing image leaves it as it was.
    const std::string Before = ReadText(Dat);
    EXPECT_EQ(RunTool(Dir, {"catalog", Fast, "-o", Dat}).Err,
              "marrowtide-img: " + Dat + ": already exists; use -f to overwrite\n");
    const TRun Failed = RunTool(Dir, {"catalog", "-f", Fast, Dir / "gone.144", "-o", Dat});
    EXPECT_EQ(Failed.Code, 1);
    EXPECT_TRUE(Contains(Failed.Err, Dat + ": not written")) << Failed.Err;
    EXPECT_EQ(ReadText(Dat), Before);
    EXPECT_EQ(RunTool(Dir, {"catalog", "-f", "-q", Fast, "-o", Dat}).Code, 0);
    EXPECT_TRUE(Contains(ReadText(Dat), "<rom name=\"fast.img\" size=\"737280\""));
    EXPECT_EQ(RunTool(Dir, {"catalog", "-f", Fast, "-o", Fast}).Code, 2);
    for (const std::vector<std::string>& Bad : std::vector<std::vector<std::string>>{
             {"catalog", Lzh}, {"catalog", "-o", Dat}, {"check", Lzh}, {"check", "--dat", Dat},
             {"check", "--json", "--dat", Dat, Lzh}})
        EXPECT_EQ(RunTool(Dir, Bad).Code, 2) << Bad[0] << " " << Bad[1];
    // Two images that would give one entry name.
    fs::create_directory(Dir / "again");
    fs::copy_file(Lzh, Dir / "again/shelf.720");
    EXPECT_EQ(RunTool(Dir, {"catalog", "-f", Lzh, Dir / "again/shelf.720", "-o", Dat}).Code, 1);
}

TEST_F(CliCatalog, CheckTrustsASha1OverAMatchingCrc)
{
    const std::string Crc = Crc32Of(ReadBytes(Fat));
    const std::string Dat = Dir / "known.dat";
    WriteText(Dat, "<datafile><game name='Wrong'><rom name='w.img' size='737280' crc='" + Crc +
                       "' sha1='0000000000000000000000000000000000000000'/></game>"
                       "<machine name='Old &amp;&#10;\xc2\x9b" "2Jodd'>"
                       "<rom name='o.img' size='737280' crc='" +
                       Crc + "'/></machine></datafile>");
    const TRun Check = RunTool(Dir, {"check", "--dat", Dat, Lzh});
    EXPECT_EQ(Check.Code, 0) << Check.Err;
    EXPECT_EQ(Check.Out, Lzh + ": matches \"Old &??2Jodd\" (o.img) by size and CRC32\n");

    WriteText(Dat, "<datafile><game>");
    const TRun Broken = RunTool(Dir, {"check", "--dat", Dat, Lzh});
    EXPECT_EQ(Broken.Code, 1);
    EXPECT_EQ(Broken.Err, "marrowtide-img: " + Dat +
                              ": not a DAT file: no element found at line 1, column 17\n");
}

TEST_F(CliCatalog, NamesThatXmlCannotHoldAreEscaped)
{
    const std::string Odd = Dir / "a&b<\"c'>\x01\xff.360";
    fs::copy_file(Blank, Dir / "plain.img");
    ASSERT_EQ(RunTool(Dir, {"pack", "-q", Dir / "plain.img", Odd}).Code, 0);
    const std::string Dat = Dir / "odd <&>.dat";
    ASSERT_EQ(RunTool(Dir, {"catalog", "-q", Odd, "-o", Dat}).Code, 0);
    EXPECT_EQ(PythonSays(Dir, DatLines, Dat),
              "'odd <&>' marrowtide-img\n'a&b<\"c\\'>\\ufffd\\ufffd' 'a&b<\"c\\'>\\ufffd\\ufffd'\n"
              "  'a&b<\"c\\'>\\ufffd\\ufffd.img' 377856 " + Crc32Of(ReadBytes(Blank)) + " " +
                  Sums(Blank) + "\n");
}

}  // namespace
