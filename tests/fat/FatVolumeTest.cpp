// The reader on volumes built byte by byte: names, labels, deleted entries, and the damaged
// and hostile cases, each of which must leave the rest of the listing readable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fat/FatVolume.h"

namespace {

// A blank 720KB diskette (clusters of 1024 bytes) with entries and chains written into it.
struct TDisk {
    const TBootParameters& P = StandardBootParameters(3);
    std::vector<uint8_t> Bytes = MakeBlankDiskette(3, 0x1234ABCD);

    void SetFat(uint32_t Cluster, uint32_t Value, unsigned Copy = 0)
    {
        uint8_t* At = &Bytes[(P.ReservedSectors + Copy * P.SectorsPerFat) * 512 + Cluster * 3 / 2];
        if (Cluster & 1) {
            At[0] = uint8_t((At[0] & 0x0F) | (Value << 4 & 0xF0));
            At[1] = uint8_t(Value >> 4);
        } else {
            At[0] = uint8_t(Value);
            At[1] = uint8_t((At[1] & 0xF0) | (Value >> 8 & 0x0F));
        }
    }
    void Chain(std::initializer_list<uint32_t> Clusters, uint32_t End = 0xFFF)
    {
        const uint32_t* C = Clusters.begin();
        for (size_t i = 0; i < Clusters.size(); ++i)
            for (unsigned Copy = 0; Copy < 2; ++Copy)
                SetFat(C[i], i + 1 < Clusters.size() ? C[i + 1] : End, Copy);
    }
    uint8_t* Cluster(uint32_t N) { return &Bytes[(P.FirstDataSector() + (N - 2) * 2) * 512]; }
    uint8_t* Root(int Index) { return &Bytes[P.FirstRootSector() * 512 + Index * 32]; }
    static void Entry(uint8_t* At, const char* Name11, uint8_t Attributes, uint16_t First,
                      uint32_t Size)
    {
        std::memcpy(At, Name11, 11);
        At[11] = Attributes;
        At[22] = 0x20, At[23] = 0x6A;  // 13:17:00
        At[24] = 0x69, At[25] = 0x58;  // 2024-03-09
        At[26] = uint8_t(First), At[27] = uint8_t(First >> 8);
        for (int i = 0; i < 4; ++i)
            At[28 + i] = uint8_t(Size >> (8 * i));
    }
    // A long-name piece for a name of at most 13 ASCII characters.
    static void LongPiece(uint8_t* At, const std::string& Name, uint8_t Sequence, uint8_t Sum)
    {
        static constexpr int Offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        std::memset(At, 0xFF, 32);
        At[0] = Sequence;
        At[11] = 0x0F, At[12] = 0, At[13] = Sum, At[26] = 0, At[27] = 0;
        for (size_t i = 0; i < 13; ++i) {
            const uint16_t Unit = i < Name.size() ? uint8_t(Name[i]) : i == Name.size() ? 0 : 0xFFFF;
            At[Offsets[i]] = uint8_t(Unit), At[Offsets[i] + 1] = uint8_t(Unit >> 8);
        }
    }
    // A file of Size bytes filled with Fill in the clusters given.
    void File(uint8_t* At, const char* Name11, std::initializer_list<uint32_t> Clusters,
              uint32_t Size, uint8_t Fill)
    {
        Entry(At, Name11, 0x20, uint16_t(*Clusters.begin()), Size);
        Chain(Clusters);
        for (const uint32_t C : Clusters)
            std::memset(Cluster(C), Fill, 1024);
    }
};

uint8_t Checksum(const char* Name11)
{
    uint8_t Sum = 0;
    for (int i = 0; i < 11; ++i)
        Sum = uint8_t(((Sum & 1) << 7) + (Sum >> 1) + uint8_t(Name11[i]));
    return Sum;
}

const TFatEntry* Find(const TFatVolume& Volume, const std::string& Path)
{
    for (const TFatEntry& Entry : Volume.Entries())
        if (Entry.Path == Path)
            return &Entry;
    return nullptr;
}

std::string Problems(const TFatEntry* Entry)
{
    std::string Text;
    for (const std::string& Problem : Entry ? Entry->Problems : std::vector<std::string>{"missing"})
        Text += Problem + "|";
    return Text;
}

}  // namespace

TEST(FatVolume, BootFieldsLabelAndFreeSpace)
{
    TDisk Disk;
    TFatVolume Blank(Disk.Bytes);
    EXPECT_EQ(Blank.FatBits(), 12);
    EXPECT_EQ(Blank.Label(), "");  // "NO NAME"
    EXPECT_EQ(Blank.SerialText(), "1234-ABCD");
    EXPECT_EQ(Blank.OemName(), "MRWTIDE1");
    EXPECT_EQ(Blank.FreeBytes(), 713u * 1024);
    EXPECT_TRUE(Blank.Entries().empty() && Blank.Problems().empty());

    std::memcpy(&Disk.Bytes[43], "BOOTLABEL  ", 11);
    EXPECT_EQ(TFatVolume(Disk.Bytes).Label(), "BOOTLABEL");
    // A long-name piece and a deleted label come first and are passed over.
    std::memcpy(Disk.Root(0), "AXXXXXXXXXX\x0F", 12);
    std::memcpy(Disk.Root(1), "\xE5LDLABEL   \x08", 12);
    std::memcpy(Disk.Root(2), "GAMES \x81    \x08", 12);
    Disk.File(Disk.Root(3), "A       TXT", {2, 3}, 1500, 'a');
    EXPECT_EQ(TFatVolume(Disk.Bytes).Label(), "GAMES \xC3\xBC");
    EXPECT_EQ(TFatVolume(Disk.Bytes).FreeBytes(), 711u * 1024);
    // A dump cut short of the label entry falls back to the boot sector.
    const size_t Cut = Disk.P.FirstRootSector() * 512 + 64;
    EXPECT_EQ(FatVolumeLabel(std::span(Disk.Bytes).first(Cut)), "BOOTLABEL");
    EXPECT_EQ(FatVolumeLabel(std::span(Disk.Bytes).first(511)), "");
}

TEST(FatVolume, NamesTimesAndContents)
{
    TDisk Disk;
    // A long name in two pieces, the last first, before its short entry.
    const char* Short = "README~1TXT";
    TDisk::LongPiece(Disk.Root(0), "xt", 0x42, Checksum(Short));
    TDisk::LongPiece(Disk.Root(1), "Read Me Now.t", 0x01, Checksum(Short));
    Disk.File(Disk.Root(2), Short, {2, 3}, 1500, 'r');
    // Pieces whose checksum is not the short entry's are someone else's: the 8.3 name counts.
    TDisk::LongPiece(Disk.Root(3), "Wrong", 0x41, 0x00);
    Disk.File(Disk.Root(4), "LOWER   TXT", {4}, 10, 'l');
    Disk.Root(4)[12] = 0x18;   // base and extension in lower case
    Disk.File(Disk.Root(5), "\x05" "BC\x99    DAT", {5}, 1, 'x');
    TDisk::Entry(Disk.Root(6), "DOCS       ", 0x10, 6, 0);
    Disk.Chain({6});
    std::memset(Disk.Cluster(6), 0, 1024);
    TDisk::Entry(Disk.Cluster(6), ".          ", 0x10, 6, 0);
    TDisk::Entry(Disk.Cluster(6) + 32, "..         ", 0x10, 0, 0);
    Disk.File(Disk.Cluster(6) + 64, "INNER   BIN", {7, 9, 8}, 2100, 'i');

    TFatVolume Volume(Disk.Bytes);
    std::vector<std::string> Paths;
    for (const TFatEntry& Entry : Volume.Entries()) {
        Paths.push_back(Entry.Path);
        EXPECT_TRUE(Entry.Problems.empty()) << Entry.Path << ": " << Problems(&Entry);
    }
    EXPECT_EQ(Paths, (std::vector<std::string>{"Read Me Now.txt", "lower.txt",
                                               "\xCF\x83" "BC\xC3\x96.DAT", "DOCS",
                                               "DOCS/INNER.BIN"}));
    const TFatEntry* ReadMe = Find(Volume, "Read Me Now.txt");
    ASSERT_TRUE(ReadMe);
    EXPECT_EQ(ReadMe->ShortName, "README~1.TXT");
    EXPECT_EQ(FatTimeText(ReadMe->Date, ReadMe->Time), "2024-03-09 13:17:00");
    EXPECT_EQ(FatAttributeText(ReadMe->Attributes), "----A");
    EXPECT_EQ(Volume.ReadFile(*ReadMe), std::vector<uint8_t>(1500, 'r'));
    const TFatEntry* Inner = Find(Volume, "DOCS/INNER.BIN");
    ASSERT_TRUE(Inner);
    EXPECT_EQ(Inner->Depth, 1);
    EXPECT_EQ(Inner->Clusters, (std::vector<uint32_t>{7, 9, 8}));
    EXPECT_EQ(Volume.ReadFile(*Inner), std::vector<uint8_t>(2100, 'i'));
    EXPECT_EQ(FatTimeText(0, 0), "-");
}

TEST(FatVolume, DeletedEntriesAndWhatIsLeftOfThem)
{
    TDisk Disk;
    // Deleted: its three clusters still free (intact), or the second taken by a live file.
    TDisk::Entry(Disk.Root(0), "\xE5" "ONE    TXT", 0x20, 10, 3000);
    TDisk::LongPiece(Disk.Root(1), "Second one", 0xE5, 0x42);  // its number is lost too
    TDisk::Entry(Disk.Root(2), "\xE5" "ECOND~1TXT", 0x20, 20, 3000);
    Disk.File(Disk.Root(3), "LIVE    TXT", {21}, 5, 'x');
    // The FAT copies disagree about a free cluster.
    Disk.SetFat(40, 0xFFF, 1);

    TFatVolume Without(Disk.Bytes);
    ASSERT_EQ(Without.Entries().size(), 1u);
    EXPECT_EQ(Without.Problems(),
              std::vector<std::string>{"FAT copy 2 differs from the first, which is the one read"});
    TFatVolume With(Disk.Bytes, true);
    ASSERT_EQ(With.Entries().size(), 3u);
    const TFatEntry& One = With.Entries()[0];
    EXPECT_TRUE(One.Deleted);
    EXPECT_EQ(One.Name, "?ONE.TXT");
    EXPECT_EQ(One.IntactBytes, 3000u);
    EXPECT_EQ(With.Entries()[1].Name, "Second one");
    EXPECT_EQ(With.Entries()[1].IntactBytes, 1024u);
    EXPECT_THROW(With.ReadFile(One), EFatError);
}

// Each damaged entry gets a message naming what is wrong; the good file after them all is
// still listed and read in full.
TEST(FatVolume, HostileEntriesAreReportedAndTheListingGoesOn)
{
    TDisk Disk;
    int Slot = 0;
    const auto Next = [&] { return Disk.Root(Slot++); };
    TDisk::Entry(Next(), "LOOP    BIN", 0x20, 2, 5000);
    Disk.Chain({2, 3}, 2);  // 3 leads back to 2
    TDisk::Entry(Next(), "PAST    BIN", 0x20, 4, 5000);
    Disk.Chain({4}, 3000);  // beyond the last cluster
    Disk.File(Next(), "FIRST   BIN", {5, 6, 7}, 3000, 'f');
    TDisk::Entry(Next(), "CROSS   BIN", 0x20, 8, 3000);
    Disk.Chain({8}, 6);  // into FIRST's chain
    Disk.File(Next(), "SHORT   BIN", {9}, 100000, 's');
    TDisk::Entry(Next(), "SELF       ", 0x10, 10, 0);
    Disk.Chain({10});
    std::memset(Disk.Cluster(10), 0, 1024);
    TDisk::Entry(Disk.Cluster(10), "AGAIN      ", 0x10, 10, 0);   // itself
    TDisk::Entry(Disk.Cluster(10) + 32, "ROOT       ", 0x10, 0, 0);  // the root
    TDisk::Entry(Next(), "FREE    BIN", 0x20, 11, 2000);  // chain runs into a free cluster
    Disk.SetFat(11, 12);
    const uint8_t Sum = Checksum("SLASH   TXT");
    TDisk::LongPiece(Next(), "a/../b", 0x41, Sum);
    Disk.File(Next(), "SLASH   TXT", {13}, 1, 'z');
    TDisk::LongPiece(Next(), "..", 0x41, Checksum("DOTS    TXT"));
    Disk.File(Next(), "DOTS    TXT", {14}, 1, 'z');
    Disk.File(Next(), "BELL\x07   TXT", {15}, 1, 'z');
    Disk.File(Next(), "BELL\x07   TXT", {16}, 1, 'z');  // the same name twice
    TDisk::Entry(Next(), "OUT     BIN", 0x20, 4000, 10);  // starts outside the volume
    Disk.File(Next(), "GOOD    TXT", {17, 18}, 2000, 'g');

    TFatVolume Volume(Disk.Bytes);
    const auto Expect = [&](const std::string& Path, const std::string& Text) {
        EXPECT_NE(Problems(Find(Volume, Path)).find(Text), std::string::npos)
            << Path << ": " << Problems(Find(Volume, Path));
    };
    Expect("LOOP.BIN", "loops back to cluster 2");
    Expect("LOOP.BIN", "is 5000 bytes long, but its clusters hold only 2048");
    Expect("PAST.BIN", "leaves the volume after cluster 4 (cluster 3000)");
    Expect("CROSS.BIN", "cross those of FIRST.BIN at cluster 6");
    Expect("FIRST.BIN", "cross those of CROSS.BIN at cluster 6");
    Expect("SHORT.BIN", "is 100000 bytes long, but its clusters hold only 1024");
    Expect("SELF/AGAIN", "is the folder SELF again (a loop)");
    Expect("SELF/ROOT", "is the root folder again (a loop)");
    Expect("FREE.BIN", "runs into a free cluster after cluster 12");
    Expect("a_.._b", "\"a/../b\" with a path separator, shown as a_.._b");
    Expect("_..", "has the name \"..\", shown as _..");
    Expect("BELL_.TXT", "\"BELL\\x07.TXT\" with control bytes");
    Expect("BELL_.TXT (2)", "the same name as another entry of its folder");
    Expect("OUT.BIN", "leaves the volume (cluster 4000)");
    const TFatEntry* Good = Find(Volume, "GOOD.TXT");
    ASSERT_TRUE(Good);
    EXPECT_TRUE(Good->Problems.empty()) << Problems(Good);
    EXPECT_EQ(Volume.ReadFile(*Good), std::vector<uint8_t>(2000, 'g'));
    // The first of two crossing files is still whole; a file short of its size is not read.
    EXPECT_EQ(Volume.ReadFile(*Find(Volume, "FIRST.BIN")), std::vector<uint8_t>(3000, 'f'));
    try {
        Volume.ReadFile(*Find(Volume, "SHORT.BIN"));
        ADD_FAILURE() << "a file short of its clusters was read";
    } catch (const EFatError& E) {
        EXPECT_STREQ(E.what(), "SHORT.BIN: is 100000 bytes long, but its clusters hold only 1024");
    }
}

TEST(FatVolume, DumpsThatHoldNoVolumeOrOnlyPartOfOne)
{
    EXPECT_THROW(TFatVolume(std::vector<uint8_t>(1474560, 0)), EFatError);
    TDisk Disk;
    Disk.File(Disk.Root(0), "A       TXT", {700}, 1000, 'a');
    Disk.File(Disk.Root(1), "B       TXT", {2}, 1000, 'b');
    const std::span<const uint8_t> Half = std::span(Disk.Bytes).first(Disk.Bytes.size() / 2);
    TFatVolume Volume(Half);
    EXPECT_EQ(Volume.Problems().at(0), "the dump holds 368640 bytes of the 737280 the volume has");
    EXPECT_EQ(Problems(Find(Volume, "A.TXT")).find("its cluster 700 lies beyond the end of the dump"), 0u);
    EXPECT_EQ(Volume.ReadFile(*Find(Volume, "B.TXT")), std::vector<uint8_t>(1000, 'b'));
}
