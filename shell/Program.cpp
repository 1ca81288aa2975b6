// marrowtide: the program's entry and its start-up sequence.
#include <QApplication>
#include <QFont>

#include "imaging/Imaging.h"
#include "imaging/ProgramState.h"
#include "platform/System.h"
#include "shell/About.h"
#include "shell/Fonts.h"
#include "shell/Main.h"
#include "shell/Splash.h"
#include "shell/UConvert.h"

int main(int argc, char** argv)
{
    TProgramState State;
    State.ProgramDir = ExecutableDir();

    QApplication Application(argc, argv);
    // Qt takes its own options (-platform ...) out of argv; the rest are ours.
    for (int i = 1; i < argc; ++i)
        State.Parameters.emplace_back(argv[i]);
    State.StartedWithFile = State.Parameters.empty() ? 0 : 1;
    Application.setApplicationName("Marrowtide");
    SubstituteFonts();

    auto* Splash = new TFrmSplash;
    Splash->show();
    Splash->repaint();
    while (!Splash->CloseQuery()) {
        QApplication::processEvents();
        SleepMs(50);
    }

    TFrmMain Main(State);
    TImaging Imaging(State, Main);
    Main.SetCommands(&Imaging);
    QObject::connect(&Main, &TFrmMain::Quit, &Application, &QApplication::quit,
                     Qt::QueuedConnection);
    Main.FormCreate();
    TAbout About(&Main);
    TfrmConvert Convert;
    Main.SetAboutWindow(&About);
    Main.SetConvertDialog(&Convert);

    Splash->hide();
    delete Splash;

    Main.show();
    return Application.exec();
}
