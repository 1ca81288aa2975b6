// The registry on real hive files in a private XDG_CONFIG_HOME: values survive a fresh object
// (everything is re-read), the file is the export format byte for byte, hand edits are kept,
// damage is reported with file and line, and concurrent writers lose nothing.
#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/UserDirs.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Settings = "\\Software\\Wendlow Software\\Marrowtide";

std::string ErrorOf(const std::function<void()>& Call)
{
    try {
        Call();
    } catch (const ERegistryException& E) {
        return E.what();
    }
    return "(no exception)";
}

class RegistryTest : public ::testing::Test {
protected:
    std::string Hive() const { return TRegistry::HivePath(TRootKey::CurrentUser); }

    TPrivateProfile Profile{"marrowtide-registry"};
    const std::string Home = Profile.ConfigHome();
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile)
{
    const std::vector<int32_t> Integers = {0, 1, -1, INT32_MIN, INT32_MAX};
    const std::vector<std::string> Texts = {"", "say \"hi\"", "C:\\Images\\disk.144", "a\\", "\\\"",
                                            "Grüße, 日本語", "tab\there"};
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Settings, true));
        for (size_t I = 0; I < Integers.size(); ++I)
            Reg.WriteInteger("I" + std::to_string(I), Integers[I]);
        for (size_t I = 0; I < Texts.size(); ++I)
            Reg.WriteString("S" + std::to_string(I), Texts[I]);
        Reg.WriteBool("On", true);
        Reg.WriteBool("Off", false);
        Reg.WriteInteger("Seven", 7);
        Reg.WriteString("quote\"and\\name", "x");
    }
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Settings, false));
    for (size_t I = 0; I < Integers.size(); ++I)
        EXPECT_EQ(Reg.ReadInteger("I" + std::to_string(I)), Integers[I]);
    for (size_t I = 0; I < Texts.size(); ++I)
        EXPECT_EQ(Reg.ReadString("S" + std::to_string(I)), Texts[I]);
    EXPECT_EQ(Reg.ReadInteger("On"), 1);
    EXPECT_FALSE(Reg.ReadBool("Off"));
    EXPECT_TRUE(Reg.ReadBool("Seven"));
    EXPECT_EQ(Reg.ReadString("QUOTE\"AND\\NAME"), "x");
    EXPECT_EQ(Reg.ReadString("missing"), "");
    EXPECT_FALSE(Reg.ValueExists("missing"));
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirSpelling)
{
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Settings, true));
    Reg.WriteInteger("IgnoreMedia", 0);
    Reg.WriteInteger("IGNOREMEDIA", 5);
    ASSERT_TRUE(Reg.OpenKey("\\SOFTWARE\\wendlow software\\MARROWTIDE\\", false));
    EXPECT_TRUE(Reg.ValueExists("ignoremedia"));
    EXPECT_EQ(Reg.ReadInteger("ignoreMedia"), 5);
    ASSERT_TRUE(Reg.OpenKey("\\mwtest", true));
    ASSERT_TRUE(Reg.OpenKey("\\MWTEST\\Sub", true));  // relative to the root: leading backslash
    ASSERT_TRUE(Reg.OpenKey("Deeper", true));         // relative to the open key
    EXPECT_TRUE(Reg.OpenKey("\\mwtest\\sub\\deeper", false));
    const std::string File = ReadText(Hive());
    EXPECT_NE(File.find("\"IgnoreMedia\"=dword:00000005\n"), std::string::npos) << File;
    EXPECT_NE(File.find("[HKEY_CURRENT_USER\\mwtest\\Sub\\Deeper]\n"), std::string::npos) << File;
    EXPECT_EQ(File.find("MWTEST"), std::string::npos) << File;
}

TEST_F(RegistryTest, ErrorTexts)
{
    TRegistry Reg;
    EXPECT_EQ(ErrorOf([&] { Reg.ReadString("path"); }), "Failed to get data for 'path'");
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger("Forced"); }), "Failed to get data for 'Forced'");
    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger("Forced", 1); }), "Failed to set data for 'Forced'");
    EXPECT_FALSE(Reg.ValueExists("Forced"));

    ASSERT_TRUE(Reg.OpenKey(Settings, true));
    Reg.WriteString("Text", "1");
    Reg.WriteInteger("Number", 1);
    EXPECT_EQ(ErrorOf([&] { Reg.ReadBool("Hints"); }), "Failed to get data for 'Hints'");
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(ErrorOf([&] { Reg.ReadString("Number"); }), "Invalid data type for 'Number'");
    // A line break cannot be stored on a value's line: refused, not mangled.
    EXPECT_EQ(ErrorOf([&] { Reg.WriteString("path", "a\nb"); }), "Failed to set data for 'path'");
    EXPECT_EQ(Reg.ReadString("Text"), "1");

    // Another instance deletes the open key: writing does not bring it back.
    TRegistry Other;
    ASSERT_TRUE(Other.DeleteKey(Settings));
    EXPECT_EQ(ErrorOf([&] { Reg.WriteBool("Hints", true); }), "Failed to set data for 'Hints'");
    EXPECT_FALSE(Other.OpenKey(Settings, false));

    Reg.RootKey = TRootKey::ClassesRoot;  // changing the root closes the key
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger("Number"); }), "Failed to get data for 'Number'");
}

TEST_F(RegistryTest, UnwritableHive)
{
    // The config folder is a plain file, so nothing can be created under it (even as root).
    WriteText(Home + "/marrowtide", "not a folder");
    TRegistry Reg;
    EXPECT_FALSE(Reg.OpenKey("mwtest", true));
    EXPECT_FALSE(Reg.OpenKey("mwtest", false));
    EXPECT_EQ(ErrorOf([&] { Reg.WriteString("path", "x"); }), "Failed to set data for 'path'");
    ASSERT_TRUE(Reg.OpenKey("\\", false));  // the root is always there
    EXPECT_EQ(ErrorOf([&] { Reg.WriteString("path", "x"); }), "Failed to set data for 'path'");
}

TEST_F(RegistryTest, OpenWithoutCreateAndDelete)
{
    TRegistry Reg;
    EXPECT_FALSE(Reg.OpenKey("mwtest", false));
    EXPECT_FALSE(std::filesystem::exists(Hive())) << "a failed open must not write";
    EXPECT_FALSE(Reg.DeleteKey("mwtest"));
    EXPECT_FALSE(Reg.OpenKey("a\\\\b", true)) << "empty key name";

    TRegistry Cr(TRootKey::ClassesRoot);
    for (const char* Key : {"120file", "144file\\DefaultIcon", "144file\\Shell\\OPEN\\Command"})
        ASSERT_TRUE(Cr.OpenKey(std::string("\\") + Key, true));
    Cr.WriteString("", "open it");
    ASSERT_TRUE(Cr.OpenKey("\\144file\\Shell", false));
    EXPECT_FALSE(Cr.OpenKey("Missing", false));
    EXPECT_EQ(ErrorOf([&] { Cr.ReadInteger("x"); }), "Failed to get data for 'x'")
        << "the previous key stays open after a failed open";
    EXPECT_TRUE(Cr.OpenKey("open\\command", false));  // relative to the open key

    EXPECT_FALSE(Cr.DeleteKey("\\"));
    EXPECT_TRUE(Cr.DeleteKey("\\144FILE"));
    EXPECT_FALSE(Cr.OpenKey("\\144file\\Shell\\OPEN\\Command", false));
    EXPECT_FALSE(Cr.OpenKey("\\144file", false));
    EXPECT_TRUE(Cr.OpenKey("\\120file", false));
    EXPECT_FALSE(Cr.DeleteKey("\\144file"));
    EXPECT_EQ(ReadText(TRegistry::HivePath(TRootKey::ClassesRoot)),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\120file]\n\n");
}

TEST_F(RegistryTest, FileFormatOnDisk)
{
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Settings, true));
    Reg.WriteBool("IgnoreMedia", false);
    Reg.WriteInteger("Forced", -2);
    ASSERT_TRUE(Reg.OpenKey("\\mwtest", true));
    Reg.WriteString("path", "/home/ann/disks/\"boot\"\\1.144");
    ASSERT_TRUE(Reg.OpenKey("\\Software\\Other", true));
    EXPECT_EQ(ReadText(Hive()),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Wendlow Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Wendlow Software\\Marrowtide]\n"
              "\"IgnoreMedia\"=dword:00000000\n"
              "\"Forced\"=dword:fffffffe\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\n"
              "[HKEY_CURRENT_USER\\mwtest]\n"
              "\"path\"=\"/home/ann/disks/\\\"boot\\\"\\\\1.144\"\n"
              "\n");
    struct stat Info {};
    ASSERT_EQ(::stat(Hive().c_str(), &Info), 0);
    EXPECT_EQ(Info.st_mode & 07777, 0600u);
    // Nothing left over but the hive and its lock.
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(ConfigDir()))
        Names.push_back(Entry.path().filename());
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

TEST_F(RegistryTest, HandEditedLinesAreKept)
{
    const std::string Written =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "; my settings\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wendlow Software\\Marrowtide]\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "; keep me\r\n"
        "\"Env\"=hex(2):25,00,00,00\r\n"
        "\"Forced\"=dword:7\r\n"
        "@=\"C:\\Images\\disk.144\"\r\n";
    WriteText(Hive(), Written);
    TRegistry Reg;
    EXPECT_TRUE(Reg.OpenKey("\\Software\\Wendlow Software", false));  // implied parent
    ASSERT_TRUE(Reg.OpenKey(Settings, false));
    EXPECT_EQ(Reg.ReadInteger("Forced"), 7);
    EXPECT_EQ(Reg.ReadString(""), "C:\\Images\\disk.144");  // a lone backslash stands for itself
    EXPECT_EQ(ErrorOf([&] { Reg.ReadString("Env"); }), "Invalid data type for 'Env'");
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger("Blob"); }), "Invalid data type for 'Blob'");
    Reg.WriteInteger("Forced", 8);
    EXPECT_EQ(ReadText(Hive()),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "; my settings\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Wendlow Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Wendlow Software\\Marrowtide]\n"
              "\"Blob\"=hex:01,02,\\\n"
              "  03,04\n"
              "; keep me\n"
              "\"Env\"=hex(2):25,00,00,00\n"
              "\"Forced\"=dword:00000008\n"
              "@=\"C:\\\\Images\\\\disk.144\"\n"
              "\n");
}

TEST_F(RegistryTest, LinesItDoesNotReadAreKeptVerbatim)
{
    // Values of types the registry does not store and lines of no known shape, as another tool
    // or a hand edit may leave them: they load, read as another type, and are written back.
    const std::string Head = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\mwtest]\n";
    const std::string Kept = "\"b\"=hex:1,zz\n\"q\"=qword:1\ngarbage\n";
    WriteText(Hive(), Head + Kept + "\"m\"=hex(7):41,00,\\\n  [HKEY_CURRENT_USER\\x],00\n");
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey("mwtest", false));
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger("Q"); }), "Invalid data type for 'Q'");
    EXPECT_EQ(ErrorOf([&] { Reg.ReadString("m"); }), "Invalid data type for 'm'");
    EXPECT_FALSE(Reg.OpenKey("\\x", false)) << "a continued line is no key";
    Reg.WriteString("path", "x");
    EXPECT_EQ(ReadText(Hive()), Head + Kept + "\"m\"=hex(7):41,00,\\\n  [HKEY_CURRENT_USER\\x],00\n"
                                "\"path\"=\"x\"\n\n");
    Reg.WriteInteger("M", 3);  // replaces the value with all its lines
    EXPECT_EQ(ReadText(Hive()), Head + Kept + "\"m\"=dword:00000003\n\"path\"=\"x\"\n\n");
}

TEST_F(RegistryTest, ADoubledCarriageReturnIsOneLineEnd)
{
    WriteText(Hive(), "Windows Registry Editor Version 5.00\r\r\n\r\n[HKEY_CURRENT_USER\\a]\r\r\n"
                      "; note\r\r\n\"x\"=dword:1\r\r\n");
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey("\\a", false));
    EXPECT_EQ(Reg.ReadInteger("x"), 1);
    Reg.WriteInteger("x", 2);
    const std::string Once = ReadText(Hive());
    EXPECT_EQ(Once, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\a]\n; note\n"
                    "\"x\"=dword:00000002\n\n");
    Reg.WriteInteger("x", 1);
    Reg.WriteInteger("x", 2);
    EXPECT_EQ(ReadText(Hive()), Once) << "a hive must not change by being written again";
}

TEST_F(RegistryTest, DamagedHivesNameFileAndLine)
{
    const std::string Head = "Windows Registry Editor Version 5.00\n\n";
    const std::string Key = "[HKEY_CURRENT_USER\\mwtest]\n";
    std::string Deep = "[HKEY_CURRENT_USER";  // 40 KB whose parents would fill the memory
    for (int Level = 0; Level < 20000; ++Level)
        Deep += "\\a";
    const struct {
        std::string Text;
        int Line;
        const char* Says;
    } Cases[] = {
        {"REGEDIT4\n\n" + Key, 1, "first line"},
        {std::string("\xFF\xFEW\0", 4), 1, "UTF-16"},
        {Head + "\"path\"=\"x\"\n", 3, "outside any key"},
        {Head + Key + "\"Forced\"=dword:1234567890\n", 4, "bad dword"},
        {Head + Key + "\"path\"=\"C:\\\n", 4, "no closing quote"},
        {Head + Key + "\"path\n", 4, "no closing quote"},
        {Head + Key + "\"path\"\n", 4, "no '='"},
        {Head + "[HKEY_CURRENT_USER\\mwtest\n", 3, "closing bracket"},
        {Head + "[HKEY_CLASSES_ROOT\\.144]\n", 3, "not under HKEY_CURRENT_USER"},
        {Head + "[HKEY_CURRENT_USER\\a\\\\b]\n", 3, "bad key name"},
        {Head + Key + "\n" + "[HKEY_CURRENT_USER\\MWTEST]\n", 5, "first at line 3"},
        {Head + Key + "\"a\"=dword:1\n\"A\"=dword:2\n", 5, "second time"},
        {Head + Key + "\"b\"=hex:01,\\\n", 4, "past the end"},
        {Head + Key + std::string("\"a\"=\"\0\"\n", 8), 4, "NUL"},
        {Head + Deep + "]\n", 3, "too deep"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Says);
        WriteText(Hive(), Case.Text);
        TRegistry Reg;
        const std::string Message = ErrorOf([&] { Reg.OpenKey("mwtest", true); });
        EXPECT_NE(Message.find(Hive()), std::string::npos) << Message;
        EXPECT_NE(Message.find("line " + std::to_string(Case.Line) + ":"), std::string::npos) << Message;
        EXPECT_NE(Message.find(Case.Says), std::string::npos) << Message;
        EXPECT_EQ(ErrorOf([&] { Reg.DeleteKey("\\mwtest"); }), Message);
        EXPECT_EQ(ReadText(Hive()), Case.Text) << "a damaged hive is never overwritten";
    }
    WriteText(Hive(), "");  // an empty file is an empty hive
    EXPECT_FALSE(TRegistry().OpenKey("mwtest", false));
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    constexpr int Count = 200;
    int Go[2];
    ASSERT_EQ(::pipe(Go), 0);
    std::vector<pid_t> Children;
    for (const char* Prefix : {"A", "B"}) {
        const pid_t Child = ::fork();
        ASSERT_GE(Child, 0);
        if (Child == 0) {
            ::close(Go[1]);
            char Byte;
            int Status = ::read(Go[0], &Byte, 1) == 0 ? 0 : 2;  // start together at EOF
            try {
                TRegistry Reg;
                for (int I = 0; I < Count && Status == 0; ++I) {
                    if (!Reg.OpenKey(Settings, true))
                        Status = 3;
                    else
                        Reg.WriteInteger(Prefix + std::to_string(I), I);
                    Reg.CloseKey();
                }
            } catch (...) {
                Status = 4;
            }
            ::_exit(Status);
        }
        Children.push_back(Child);
    }
    ::close(Go[0]);
    ::close(Go[1]);
    for (pid_t Child : Children) {
        int Status = 0;
        ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
        EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << "child status " << Status;
    }
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Settings, false));
    int Found = 0;
    for (const char* Prefix : {"A", "B"})
        for (int I = 0; I < Count; ++I)
            Found += Reg.ValueExists(Prefix + std::to_string(I)) && Reg.ReadInteger(Prefix + std::to_string(I)) == I;
    EXPECT_EQ(Found, 2 * Count);
}

} // namespace
