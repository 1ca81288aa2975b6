#include <gtest/gtest.h>

#include "platform/RescueMap.h"

using namespace std::string_literals;

namespace {

TEST(RescueMap, TextReadsBackAsTheSameBlocks)
{
    TRescueMap Map(1474560);
    for (int64_t S = 0; S < Map.SectorCount(); ++S)
        Map.Set(S, S < 40 ? MapFinished : S < 43 ? MapBad : MapUntried);
    const std::string Text = Map.Text("read A disk.144", MapUntried);
    EXPECT_NE(Text.find("0x00005000  0x00000600  -\n"), std::string::npos) << Text;
    const TRescueMap Again = TRescueMap::Parse(Text, 1474560);
    ASSERT_EQ(Again.Blocks().size(), 3u);
    EXPECT_EQ(Again.Count(MapBad), 3);
    EXPECT_EQ(Again.Missing(), Map.SectorCount() - 40);
}

TEST(RescueMap, AcceptsWhatDdrescueWrites)
{
    // Decimal numbers, a pass number, ddrescue's other states, blank lines and CR LF.
    const TRescueMap Map = TRescueMap::Parse("# Mapfile. Created by GNU ddrescue version 1.27\r\n"
                                             "\n0x00000400     ?               3\r\n"
                                             "#      pos        size  status\n"
                                             "0  1024  +\n1024  0x200  *\n0x600 512 /\n",
                                             2048);
    EXPECT_EQ(Map.Missing(), 2);
    EXPECT_EQ(Map.Status(2), '*');
}

TEST(RescueMap, RefusesDamagedMapsNamingTheLine)
{
    const struct {
        std::string Text;
        const char* Says;
    } Cases[] = {
        {""s, "no status line"},
        {"0 +\n", "no blocks"},
        {"0x0 X\n0 2048 +\n", "line 1: expected the status line"},
        {"0 + 1\n0 1024 +\n1024 1024 x\n", "line 3: unknown status 'x'"},
        {"0 +\n0 1024 +\n2048 0 -\n", "line 3: the block starts at 2048"},
        {"0 +\n0 1024 +\n1024 512 +\n", "cover 1536 bytes, the dump has 2048"},
        {"0 +\n0 1000 +\n", "not whole sectors"},
        {"0 +\n0 4096 +\n", "ends past the dump"},
        {"0 +\n0 0 +\n", "not whole sectors"},
        {"0 +\n0 0x1g +\n", "numbers of at most"},
        {"0 +\n0 99999999999999999999 +\n", "numbers of at most"},
        {"0 +\n0 2048 + extra\n", "expected a block"},
        {"0 +\n0 20\0\x34\x38 +\n"s, "binary data"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Text);
        try {
            TRescueMap::Parse(Case.Text, 2048);
            ADD_FAILURE() << "accepted";
        } catch (const EMapError& E) {
            EXPECT_NE(std::string(E.what()).find(Case.Says), std::string::npos) << E.what();
        }
    }
}

}  // namespace
