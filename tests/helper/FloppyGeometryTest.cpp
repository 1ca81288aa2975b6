// The floppy driver's geometry over a stand-in for the driver that records each change and can
// fail it: the machines the tests run on have no floppy controller.
#include "helper/FloppyGeometry.h"
#include "helper/Transfer.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

using TCalls = std::vector<std::string>;
const TFloppyDrive HighDensity35{83, 5, 500, 0, false}, HighDensity525{83, 6, 500, 0, false},
    DoubleDensity525{40, 5, 300, 0, false};

struct TFakeFloppy : TFloppyDriver {
    TFloppyDrive Drive = HighDensity35;
    int DriveError = 0, GeometryError = 0;  // ENODEV: the driver knows no geometry
    std::map<std::string, int> Failures;    // "set", "flush", "clear" -> errno
    TCalls* Calls = nullptr;

    int GetDrive(TFloppyDrive& Out) override { return Out = Drive, DriveError; }
    int GetGeometry(floppy_struct& Out) override
    {
        Out = {2880, 18, 2, 80, 0, 0x1B, 0x00, 0xCF, 0x6C, nullptr};  // 1.44MB, as found
        return GeometryError;
    }
    int SetGeometry(const floppy_struct& G, bool AsDefault) override
    {
        char Text[64];
        std::snprintf(Text, sizeof Text, " %u %u %u %u %u %x %x %x %x", G.size, G.sect, G.head, G.track, G.stretch,
                      G.gap, G.rate, G.spec1, G.fmt_gap);
        return Record(AsDefault ? "default" : "set", Text);
    }
    int ClearGeometry() override { return Record("clear"); }
    int Flush() override { return Record("flush"); }
    int Record(const std::string& Call, const std::string& Arguments = "")
    {
        Calls->push_back(Call + Arguments);
        return Failures[Call];
    }
};

class FloppyGeometryTest : public ::testing::Test {
protected:
    std::unique_ptr<TFloppyGeometry> Set(unsigned Format)
    {
        Fake.Calls = &Calls;
        return TFloppyGeometry::Set(std::make_unique<TFakeFloppy>(Fake), Format, "drive A: (/dev/fd0)");
    }
    std::string Error(unsigned Format)
    {
        try {
            Set(Format);
        } catch (const ETransferError& E) {
            return E.what();
        }
        return "no error";
    }
    TCalls Calls;
    TFakeFloppy Fake;
};

TEST_F(FloppyGeometryTest, EachFormatGetsItsGeometryForTheRunAlone)
{
    using TCase = std::tuple<TFloppyDrive, unsigned, int, std::string>;  // format, its geometry known
    for (const auto& [Drive, Format, Known, Wanted] :
         {TCase{HighDensity35, 6, 0, "set 3360 21 2 80 0 1c 0 cf c"},       // 1.68MB
          TCase{HighDensity35, 7, 0, "set 3444 21 2 82 0 25 0 df c"},       // 1.72MB
          TCase{HighDensity525, 4, ENODEV, "set 720 9 2 40 1 23 1 df 50"},  // 360KB, stretched
          TCase{DoubleDensity525, 9, 0, "set 360 9 1 40 0 2a 2 df 50"}}) {  // 180KB
        SCOPED_TRACE(Wanted);
        Calls.clear();
        Fake.Drive = Drive;
        Fake.GeometryError = Known;
        auto Geometry = Set(Format);
        ASSERT_TRUE(Geometry);
        EXPECT_EQ(Calls, (TCalls{Wanted, "flush"}));
        Geometry.reset();
        EXPECT_EQ(Calls, (TCalls{Wanted, "flush", "clear"})) << "back to the driver's guess";
    }
}

TEST_F(FloppyGeometryTest, WhatTheDriverReadsAlreadyOrIsNoFloppyIsLeftAlone)
{
    EXPECT_FALSE(Set(1));  // 1.44MB, found by the driver
    EXPECT_FALSE(Set(UnknownFormatIndex));
    Fake.DriveError = ENOTTY;  // a USB floppy drive or a loop device
    EXPECT_FALSE(Set(6));
    EXPECT_TRUE(Calls.empty());
}

TEST_F(FloppyGeometryTest, AGeometrySetByHandIsPutBackAsItWasSet)
{
    for (const int KeepData : {1, -1}) {
        Calls.clear();
        Fake.Drive.KeepData = KeepData;
        Set(6).reset();
        const std::string Previous = (KeepData < 0 ? "default" : "set") + std::string(" 2880 18 2 80 0 1b 0 cf 6c");
        EXPECT_EQ(Calls, (TCalls{"set 3360 21 2 80 0 1c 0 cf c", "flush", Previous, "flush"}));
    }
}

TEST_F(FloppyGeometryTest, FailuresNameTheDriveAndTheFormat)
{
    Fake.Failures["set"] = EPERM;
    EXPECT_EQ(Error(6), "drive A: (/dev/fd0) cannot be set to the 1.68MB format: Operation not permitted");
    EXPECT_EQ(Calls, TCalls{"set 3360 21 2 80 0 1c 0 cf c"}) << "nothing was set to restore";

    Fake.Failures = {{"flush", EIO}};
    Calls.clear();
    EXPECT_EQ(Error(7), "drive A: (/dev/fd0) cannot be set to the 1.72MB format: Input/output error");
    EXPECT_EQ(Calls.back(), "clear") << "the geometry stays set";

    EXPECT_EQ(Error(0), "drive A: (/dev/fd0) cannot take 2.88MB diskettes");
    Fake.Drive = DoubleDensity525;
    EXPECT_EQ(Error(6), "drive A: (/dev/fd0) cannot take 1.68MB diskettes");
    Fake.Drive.FixedFormat = true;
    EXPECT_EQ(Error(4), "drive A: (/dev/fd0) stands for one fixed format, which is not 360KB; "
                        "give the drive's own device (such as /dev/fd0)");
    Fake.GeometryError = EIO;
    EXPECT_EQ(Error(4), "drive A: (/dev/fd0) does not tell the geometry of its diskette: "
                        "Input/output error");

    Fake = {};
    Fake.Failures["clear"] = EBUSY;
    auto Geometry = Set(6);
    testing::internal::CaptureStderr();
    Geometry.reset();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Rastrel2: drive A: (/dev/fd0) keeps the 1.68MB geometry until its diskette is "
              "changed: Device or resource busy\n");
}

}  // namespace
