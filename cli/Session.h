// One program run's diskette workflows on the terminal: the port, the program state and a working
// folder of their own, and the loop that delivers the workflows' timer ticks.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Options.h"
#include "imaging/Imaging.h"
#include "platform/TempDir.h"

std::string DriveName(char Letter);
// Only A: and B: hold diskettes, and one of them must stand for something.
void CheckDrive(char Letter);

class TSession {
public:
    enum class TEnd { Done, Failed, Interrupted };

    TSession(const TOptions& Options, std::ostream& Out, std::ostream& Err);
    ~TSession();

    // Starts a workflow and delivers its timer ticks until it ends.
    TEnd Run(const std::function<void()>& Start);

    TProgramState State;
    TConsolePort Port;
    TImaging Imaging;
    // Runs once an interrupted run's helper has ended, before the dumps are deleted.
    std::function<void()> OnInterrupted;

private:
    void Guarded(const std::function<void()>& Step);
    void StopHelper();
    void DeleteDumps();

    std::unique_ptr<TWorkFolder> Folder;
    std::string LastError;
};

// The exit status of a run that ended so; an interrupted one says what it leaves behind.
int StatusOf(TSession::TEnd End, TConsolePort& Port, const std::string& WhenInterrupted);
