// The program's working folder: private to this running program, as the Windows temporary
// folder is private to the user.
#pragma once

#include <string>

#include "platform/FileHandle.h"

// Each running program gets a folder of its own for the helper copy and the exchange files, so
// that two programs never touch each other's files:
//   $TMPDIR (default /tmp) + "/marrowtide-<uid>/run-<pid>-XXXXXX/"
// The per-user folder is created with mode 0700 and used only when it is a real folder of ours
// that nobody else may enter; otherwise (another user made it first, or it is a link) a fresh
// folder with an unpredictable name, $TMPDIR/marrowtide-<uid>-XXXXXX/, takes the place of the
// per-user one. A program holds a lock in its folder for as long as it runs; folders whose lock
// is free belong to programs that have ended and are removed when the next one starts (the
// fresh ones only when they are still private folders of ours).
class TWorkFolder {
public:
    // Throws EAPIException "GetTempPath failed." when no private folder can be made.
    TWorkFolder();
    // Ending releases the lock; the folder stays until Remove or the next start's sweep.
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;

    // The folder, ending with the separator.
    const std::string& Path() const { return Folder; }
    // The per-user folder that was refused as unsafe, or "" when it was used.
    const std::string& Refused() const { return RefusedFolder; }
    // Deletes the folder and everything in it.
    void Remove();

private:
    std::string Folder;
    std::string RefusedFolder;
    TFileHandle Lock;
};
