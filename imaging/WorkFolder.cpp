// The start of a running program, the same in the window and the console tool: its working
// folder with its own copy of the helper, and the error boundary of its steps.
#include "imaging/Imaging.h"
#include "platform/Files.h"
#include "platform/System.h"
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

std::unique_ptr<TWorkFolder> SetUpProgram(TProgramState& State, TImagingPort& Port)
{
    State.Windows5OrLater = OSMajorVersion() > 4;
    return SetUpWorkFolder(State, Port);
}

void Guarded(const std::function<void()>& Step,
             const std::function<void(const std::exception&)>& Report)
{
    try {
        Step();
    } catch (const std::exception& E) {
        Report(E);
    }
}
