#include "shell/OpenDocument.h"

#include <QCoreApplication>
#include <QProcess>

#include "platform/Files.h"
#include "platform/Launch.h"
#include "shell/QtText.h"

void OpenDocument(QObject* Owner, const std::string& Path, const std::function<void()>& Failed)
{
    const std::string File = ResolveNoCase(Path);
    const std::string Opener = DocumentOpener();
    if (!FileExists(File) || Opener.empty()) {
        Failed();
        return;
    }
    // The application keeps the opener rather than the window: a window that closes first
    // leaves it to finish, and then nobody is told.
    auto* Process = new QProcess(QCoreApplication::instance());
    Process->setProgram(ToQString(Opener));
    Process->setArguments({ToQString(File)});
    Process->setWorkingDirectory(ToQString(File.substr(0, File.rfind('/') + 1)));
    Process->setStandardInputFile(QProcess::nullDevice());
    Process->setStandardOutputFile(QProcess::nullDevice());
    Process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(Process, &QProcess::finished, Owner,
                     [Process, Failed](int Code, QProcess::ExitStatus Status) {
                         Process->deleteLater();
                         if (Status != QProcess::NormalExit || Code != 0)
                             Failed();
                     });
    QObject::connect(Process, &QProcess::errorOccurred, Owner,
                     [Process, Failed](QProcess::ProcessError Error) {
                         if (Error != QProcess::FailedToStart)
                             return;
                         Process->deleteLater();
                         Failed();
                     });
    Process->start();
}
