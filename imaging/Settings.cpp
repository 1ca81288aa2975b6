#include "imaging/Settings.h"

#include "platform/Registry.h"

void PrepareSettings(TOptionMarks& Marks)
{
    bool FirstRun;
    {
        // A key that cannot be opened tells nothing of earlier runs: no first run then, which
        // would remove registrations without recording it; LoadOptions reports the failure.
        TRegistry Registry;
        FirstRun = Registry.OpenKey(SettingsKey, true) && !Registry.ValueExists("Forced");
    }
    if (FirstRun) {
        RemoveRegistryEntries();
        ResetForcedCount();
        SaveOptions(Marks);
    }
    LoadOptions(Marks);
}

void LoadOptions(TOptionMarks& Marks)
{
    TRegistry Registry;
    Registry.OpenKey(SettingsKey, true);
    Marks.IgnoreMedia = Registry.ReadBool("IgnoreMedia");
    Marks.Hints = Registry.ReadBool("Hints");
    if (Registry.ReadBool("ForcedClose"))
        Registry.WriteInteger("Forced", Registry.ReadInteger("Forced") + 1);
    Registry.WriteBool("ForcedClose", true);
}

void SaveOptions(const TOptionMarks& Marks)
{
    TRegistry Registry;
    Registry.OpenKey(SettingsKey, true);
    Registry.WriteBool("IgnoreMedia", Marks.IgnoreMedia);
    Registry.WriteBool("Hints", Marks.Hints);
    Registry.CloseKey();
    Registry.OpenKey(SettingsKey, true);
    Registry.WriteBool("ForcedClose", false);
}

bool SavedIgnoreMedia()
{
    TRegistry Registry;
    return Registry.OpenKey(SettingsKey, false) && Registry.ValueExists("IgnoreMedia") &&
           Registry.ReadBool("IgnoreMedia");
}

void ResetForcedCount()
{
    TRegistry Registry;
    Registry.OpenKey(SettingsKey, true);
    Registry.WriteInteger("Forced", 0);
}

namespace {

// A deletion that fails, for whatever reason, is passed over.
void DeleteQuietly(TRegistry& Registry, const std::string& Key)
{
    try {
        Registry.DeleteKey(Key);
    } catch (const ERegistryException&) {
    }
}

}  // namespace

void RemoveRegistryEntries()
{
    TRegistry User(TRootKey::CurrentUser);
    DeleteQuietly(User, SettingsKey);
    TRegistry Classes(TRootKey::ClassesRoot);
    for (const char* Extension : {"144", "120", "720"}) {
        const std::string Type = std::string(Extension) + "file";
        for (const std::string& Key :
             {std::string(".") + Extension, Type + "\\DefaultIcon", Type + "\\Shell\\OPEN\\Command",
              Type + "\\Shell\\OPEN", Type + "\\Shell", Type})
            DeleteQuietly(Classes, Key);
    }
}
