// A private profile for one test: a fresh folder holding config/, tmp/ and home/, with
// XDG_CONFIG_HOME, TMPDIR and HOME pointing there while it lives. The program's settings, drive
// table and working folders then never touch the user's, and two tests never share them. At
// the end the environment is put back and the folder removed.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

// Where tests make their folders: the process's temporary folder as it was at start, before
// any profile pointed TMPDIR elsewhere.
inline const std::filesystem::path& TestTempBase()
{
    static const std::filesystem::path Base = [] {
        const char* Temp = std::getenv("TMPDIR");
        std::filesystem::path Path(Temp && *Temp ? Temp : "/tmp");
        std::error_code Error;
        return std::filesystem::is_directory(Path, Error) ? Path : std::filesystem::path("/tmp");
    }();
    return Base;
}

// A fresh empty folder below TestTempBase(), removed with everything in it at the end.
class TTestFolder {
public:
    explicit TTestFolder(const std::string& Prefix = "marrowtide-test")
    {
        std::string Template = (TestTempBase() / (Prefix + "-XXXXXX")).string();
        if (!::mkdtemp(Template.data()))
            throw std::runtime_error("cannot make a test folder in " + TestTempBase().string());
        Root = Template;
    }
    ~TTestFolder()
    {
        std::error_code Ignored;
        // A test may leave read-only folders behind; make them removable first.
        for (auto It = std::filesystem::recursive_directory_iterator(Root, Ignored);
             It != std::filesystem::recursive_directory_iterator(); It.increment(Ignored))
            if (It->is_directory(Ignored) && !It->is_symlink(Ignored))
                ::chmod(It->path().c_str(), 0700);
        std::filesystem::remove_all(Root, Ignored);
    }
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;

    const std::string& Path() const { return Root; }
    std::string Path(const std::string& Name) const { return Root + "/" + Name; }
    std::string operator/(const std::string& Name) const { return Path(Name); }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> Names;
        for (const auto& Entry : std::filesystem::directory_iterator(Root))
            Names.push_back(Entry.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    }

private:
    std::string Root;
};

class TPrivateProfile : public TTestFolder {
public:
    explicit TPrivateProfile(const std::string& Prefix = "marrowtide-profile") : TTestFolder(Prefix)
    {
        // Reachable by an unprivileged child a test may start.
        ::chmod(Path().c_str(), 0755);
        for (const char* Folder : {"config", "tmp", "home"})
            std::filesystem::create_directories(Path(Folder));
        Set("XDG_CONFIG_HOME", ConfigHome());
        Set("TMPDIR", Path("tmp"));
        Set("HOME", Path("home"));
    }
    ~TPrivateProfile()
    {
        for (auto It = Saved.rbegin(); It != Saved.rend(); ++It) {
            if (It->second)
                ::setenv(It->first.c_str(), It->second->c_str(), 1);
            else
                ::unsetenv(It->first.c_str());
        }
    }

    std::string ConfigHome() const { return Path("config"); }
    std::string DriveTable() const { return ConfigHome() + "/marrowtide/dosdevices"; }

    // Points the drive table entry Letter: at Target, replacing an entry already there.
    void LinkDrive(char Letter, const std::string& Target) const
    {
        std::filesystem::create_directories(DriveTable());
        const std::string Entry = DriveTable() + "/" + static_cast<char>(Letter | 0x20) + ":";
        ::unlink(Entry.c_str());
        if (::symlink(Target.c_str(), Entry.c_str()) != 0)
            throw std::runtime_error("cannot link " + Entry);
    }

    // Sets an environment variable until the profile ends.
    void Set(const std::string& Name, const std::string& Value)
    {
        const char* Old = std::getenv(Name.c_str());
        Saved.emplace_back(Name, Old ? std::optional<std::string>(Old) : std::nullopt);
        ::setenv(Name.c_str(), Value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};
