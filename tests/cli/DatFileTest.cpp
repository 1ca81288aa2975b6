// The DAT reader on published-style DATs and on broken or hostile ones.
#include <gtest/gtest.h>

#include "cli/DatFile.h"
#include "tests/support/TestFiles.h"
#include "tests/support/PrivateProfile.h"

namespace {

TEST(DatFile, ReadsEntriesAndNormalisesTheirChecksums)
{
    const TDat Dat = ParseDat(R"DAT(<?xml version="1.0"?>
<!DOCTYPE datafile PUBLIC "-//Logiqx//DTD ROM Management Datafile//EN" "http://www.logiqx.com/Dats/datafile.dtd">
<datafile>
  <header><name>Box &amp; more</name><description>Two</description><version>3</version>
    <date>2024-03-09</date><author>someone</author><homepage>x</homepage></header>
  <game name="Disk 1 (1991)" cloneof="x">
    <description>First <b>bold</b> disk</description>
    <rom name="disk1.img" size="1474560" crc="0A1B2C3D" md5="0123456789ABCDEF0123456789abcdef"
         sha1="0123456789abcdef0123456789ABCDEF01234567"/>
  </game>
  <machine name="Disk 2">
    <rom name="disk2.img" size="-5" crc="1f" md5="12" sha1="zz23456789abcdef0123456789abcdef01234567"/>
    <rom name="readme.txt"/>
  </machine>
  <rom name="stray.img"/>
</datafile>)DAT",
                              "known.dat");
    EXPECT_EQ(Dat.Name, "Box & more");
    EXPECT_EQ(Dat.Date, "2024-03-09");
    EXPECT_EQ(Dat.Author, "someone");
    ASSERT_EQ(Dat.Entries.size(), 2u);
    EXPECT_EQ(Dat.Entries[0].Name, "Disk 1 (1991)");
    EXPECT_EQ(Dat.Entries[0].Description, "First  disk");
    EXPECT_EQ(Dat.Entries[0].Roms[0],
              (TDatRom{"disk1.img", 1474560, "0a1b2c3d", "0123456789abcdef0123456789abcdef",
                       "0123456789abcdef0123456789abcdef01234567"}));
    // What is not a checksum of the right length is no checksum; a short CRC lost its zeros.
    EXPECT_EQ(Dat.Entries[1].Roms[0], (TDatRom{"disk2.img", std::nullopt, "0000001f", "", ""}));
    EXPECT_EQ(Dat.Entries[1].Roms[1], (TDatRom{"readme.txt", std::nullopt, "", "", ""}));

    // The writer's DAT reads back the same.
    EXPECT_EQ(ParseDat(DatText(Dat), "written.dat"), Dat);
}

TEST(DatFile, RefusalsNameTheFile)
{
    const auto Refusal = [](const std::string& Xml) {
        try {
            ParseDat(Xml, "known.dat");
        } catch (const EDatError& E) {
            return std::string(E.what());
        }
        return std::string("read");
    };
    EXPECT_EQ(Refusal("<datafile>\n<game name='a'>\n</datafile>"),
              "known.dat: not a DAT file: mismatched tag at line 3, column 3");
    EXPECT_EQ(Refusal(""), "known.dat: not a DAT file: no element found at line 1, column 1");
    EXPECT_EQ(Refusal("<softwarelist><game/></softwarelist>"),
              "known.dat: not a Logiqx-style DAT file: its root element is <softwarelist>, not "
              "<datafile>");
    // A DAT is outside data: entities that multiply themselves are stopped.
    std::string Laughs = "<?xml version='1.0'?><!DOCTYPE datafile [<!ENTITY a0 'lol'>";
    for (int i = 1; i < 10; ++i) {
        const std::string Previous = "&a" + std::to_string(i - 1) + ";";
        std::string Tenfold;
        for (int k = 0; k < 10; ++k)
            Tenfold += Previous;
        Laughs += "<!ENTITY a" + std::to_string(i) + " '" + Tenfold + "'>";
    }
    Laughs += "]><datafile><header><name>&a9;</name></header></datafile>";
    EXPECT_TRUE(Refusal(Laughs).starts_with("known.dat: not a DAT file: ")) << Refusal(Laughs);

    TTestFolder Dir;
    try {
        ReadDatFile(Dir / "missing.dat");
        ADD_FAILURE() << "a missing DAT was read";
    } catch (const EDatError& E) {
        EXPECT_EQ(std::string(E.what()), "cannot open " + (Dir / "missing.dat") +
                                             ": No such file or directory");
    }
}

TEST(DatFile, NeverReadsOtherFilesItNames)
{
    TTestFolder Dir;
    WriteText(Dir / "secret.txt", "SECRET");
    const std::string Dat = Dir / "known.dat";
    WriteText(Dat, "<?xml version='1.0'?><!DOCTYPE datafile [<!ENTITY s SYSTEM 'file://" +
                       (Dir / "secret.txt") + "'>]><datafile><game name='a'><description>[&s;]"
                       "</description></game></datafile>");
    const TDat Read = ReadDatFile(Dat);
    ASSERT_EQ(Read.Entries.size(), 1u);
    EXPECT_EQ(Read.Entries[0].Description, "[]");
}

TEST(DatFile, EscapesWhatXmlCannotHoldAsItIs)
{
    EXPECT_EQ(XmlEscaped("a&b<c>\"d'\t\r\n"), "a&amp;b&lt;c&gt;&quot;d'&#9;&#13;&#10;");
    // Control bytes, bytes that are no UTF-8, overlong forms and surrogates become U+FFFD.
    EXPECT_EQ(XmlEscaped("\x01x\xff\xc0\xaf\xed\xa0\x80\xc3\xa9"),
              "\uFFFDx\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u00e9");
}

}  // namespace
