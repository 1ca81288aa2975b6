// marrowtide: the program's entry and its start-up sequence.
#include <QApplication>
#include <QFont>
#include <cstdio>
#include <cstring>

#include "imaging/Imaging.h"
#include "imaging/ProgramState.h"
#include "platform/System.h"
#include "shell/About.h"
#include "shell/Fonts.h"
#include "shell/Main.h"
#include "shell/Splash.h"
#include "shell/UConvert.h"

namespace {

const char* const UsageText =
    "Usage: marrowtide [IMAGE]\n"
    "\n"
    "Opens the Marrowtide window. With IMAGE (an image file such as disk.144), it makes a\n"
    "diskette from that image at once, as Make Disk does.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  --version      show the program's version\n"
    "\n"
    "marrowtide-img does the same from a terminal or a script.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered on the terminal, before any window or display is needed.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(UsageText, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("marrowtide " MARROWTIDE_VERSION "\n", stdout);
        return 0;
    }
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
