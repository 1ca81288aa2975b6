// The settings in a private registry: first start, the Forced count across orderly and
// disorderly ends, the removal of file-type registrations, and missing values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Registry.h"
#include "imaging/Settings.h"
#include "tests/support/PrivateProfile.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    static int32_t Integer(const std::string& Name)
    {
        TRegistry Registry;
        EXPECT_TRUE(Registry.OpenKey(SettingsKey, false));
        return Registry.ReadInteger(Name);
    }
    // A start as the window does it, from the marks it was created with.
    static TOptionMarks Start()
    {
        TOptionMarks Marks;
        PrepareSettings(Marks);
        return Marks;
    }
    TPrivateProfile Profile{"marrowtide-settings"};
};

TEST_F(SettingsTest, FirstStartWritesTheFirstRunValues)
{
    TRegistry Last;
    ASSERT_TRUE(Last.OpenKey("mwtest", true));
    Last.WriteString("path", "/home/ann/disks/boot.144");

    TOptionMarks Marks = Start();
    EXPECT_FALSE(Marks.IgnoreMedia);
    EXPECT_TRUE(Marks.Hints);
    EXPECT_EQ(Integer("IgnoreMedia"), 0);
    EXPECT_EQ(Integer("Hints"), 1);
    EXPECT_EQ(Integer("ForcedClose"), 1);
    EXPECT_EQ(Integer("Forced"), 0);
    // The last image path is not the settings' to touch.
    TRegistry Again;
    ASSERT_TRUE(Again.OpenKey("mwtest", false));
    EXPECT_EQ(Again.ReadString("path"), "/home/ann/disks/boot.144");
}

TEST_F(SettingsTest, ForcedCountsRunsThatDidNotEndInOrder)
{
    TOptionMarks Marks = Start();
    Marks.IgnoreMedia = true;
    Marks.Hints = false;
    SaveOptions(Marks);  // Exit
    EXPECT_EQ(Integer("ForcedClose"), 0);

    Marks = Start();
    EXPECT_TRUE(Marks.IgnoreMedia);
    EXPECT_FALSE(Marks.Hints);
    EXPECT_EQ(Integer("Forced"), 0);
    EXPECT_EQ(Integer("ForcedClose"), 1);
    // Ended without Exit: options changed meanwhile are lost, the next start counts it.
    Marks = Start();
    EXPECT_EQ(Integer("Forced"), 1);
    Marks = Start();
    EXPECT_EQ(Integer("Forced"), 2);
    SaveOptions(Marks);
    Start();
    EXPECT_EQ(Integer("Forced"), 2);
}

TEST_F(SettingsTest, DeletingForcedMakesTheNextStartAFirstStart)
{
    TOptionMarks Marks = Start();
    Marks.IgnoreMedia = true;
    Marks.Hints = false;
    SaveOptions(Marks);
    // Remove just the Forced line from the hive, as a user with an editor would.
    std::string Hive = TRegistry::HivePath(TRootKey::CurrentUser);
    std::ifstream In(Hive);
    std::string Text, Line;
    while (std::getline(In, Line))
        if (Line.rfind("\"Forced\"=", 0) != 0)
            Text += Line + "\n";
    In.close();
    std::ofstream(Hive) << Text;

    Marks = Start();
    EXPECT_FALSE(Marks.IgnoreMedia);
    EXPECT_TRUE(Marks.Hints);
    EXPECT_EQ(Integer("Forced"), 0);
}

TEST_F(SettingsTest, FirstStartRemovesTheEighteenFileTypeKeys)
{
    TRegistry Classes(TRootKey::ClassesRoot);
    for (const char* Extension : {"144", "120", "720"}) {
        std::string Type = std::string(Extension) + "file";
        ASSERT_TRUE(Classes.OpenKey("\\." + std::string(Extension), true));
        Classes.WriteString("", Type);
        ASSERT_TRUE(Classes.OpenKey("\\" + Type + "\\DefaultIcon", true));
        ASSERT_TRUE(Classes.OpenKey("\\" + Type + "\\Shell\\OPEN\\Command", true));
        Classes.WriteString("", "marrowtide \"%1\"");
    }
    ASSERT_TRUE(Classes.OpenKey("\\.288", true));  // not ours to remove
    Classes.CloseKey();

    Start();
    for (const char* Key : {".144", "144file", ".120", "120file", ".720", "720file"})
        EXPECT_FALSE(Classes.OpenKey(std::string("\\") + Key, false)) << Key;
    EXPECT_TRUE(Classes.OpenKey("\\.288", false));

    // A later start with Forced present leaves new registrations alone.
    ASSERT_TRUE(Classes.OpenKey("\\.144", true));
    Classes.CloseKey();
    Start();
    EXPECT_TRUE(Classes.OpenKey("\\.144", false));
}

TEST_F(SettingsTest, AMissingValueFailsWithItsName)
{
    {
        TRegistry Registry;
        ASSERT_TRUE(Registry.OpenKey(SettingsKey, true));
        Registry.WriteInteger("Forced", 3);
        Registry.WriteInteger("IgnoreMedia", 0);
    }
    TOptionMarks Marks;
    try {
        PrepareSettings(Marks);
        FAIL() << "no error";
    } catch (const ERegistryException& E) {
        EXPECT_STREQ(E.what(), "Failed to get data for 'Hints'");
    }
    {
        TRegistry Registry;
        ASSERT_TRUE(Registry.OpenKey(SettingsKey, true));
        Registry.WriteString("Hints", "yes");
    }
    try {
        PrepareSettings(Marks);
        FAIL() << "no error";
    } catch (const ERegistryException& E) {
        EXPECT_STREQ(E.what(), "Invalid data type for 'Hints'");
    }
}

TEST_F(SettingsTest, ASettingsKeyThatCannotBeOpenedIsNoFirstStart)
{
    TRegistry Classes(TRootKey::ClassesRoot);
    ASSERT_TRUE(Classes.OpenKey("\\.144", true));
    // The settings hive cannot be locked for writing, so its missing key cannot be created.
    std::filesystem::create_directory(TRegistry::HivePath(TRootKey::CurrentUser) + ".lock");
    TOptionMarks Marks;
    try {
        PrepareSettings(Marks);
        FAIL() << "no error";
    } catch (const ERegistryException& E) {
        EXPECT_STREQ(E.what(), "Failed to get data for 'IgnoreMedia'");
    }
    EXPECT_TRUE(Classes.OpenKey("\\.144", false)) << "registrations are removed only on a first start";
}

}  // namespace
