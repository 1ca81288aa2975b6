// The running program's working folder with its own copy of the helper: the window and the
// console tool start the same way.
#include "imaging/Imaging.h"
#include "platform/Files.h"
#include "platform/TempDir.h"

std::unique_ptr<TWorkFolder> SetUpWorkFolder(TProgramState& State, TImagingPort& Port)
{
    auto Folder = std::make_unique<TWorkFolder>();
    State.WorkDir = Folder->Path();
    if (!Folder->Refused().empty())
        Port.ShowMessage("The folder " + Folder->Refused() +
                         " is not private to you (it is a link, belongs to another user or others "
                         "may enter it), so it was not used. Working in " + State.WorkDir +
                         " instead.");
    if (!CopyFile(State.ProgramDir + "/Rastrel2.exe", State.WorkDir + "/Rastrel2.exe", false))
        Port.ShowMessage("Cannot copy Rastrel2.exe");
    return Folder;
}
