// marrowtide-screenshots DIR: pictures of every window and menu, for checking the layouts by eye.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "imaging/Imaging.h"
#include "imaging/ProgramState.h"
#include "platform/System.h"
#include "shell/About.h"
#include "shell/ErrorBox.h"
#include "shell/Fonts.h"
#include "shell/Main.h"
#include "shell/QtText.h"
#include "shell/Splash.h"
#include "shell/UConvert.h"
#include "ui_Main.h"
#include "ui_UConvert.h"

namespace {

bool Save(QWidget& Window, const QString& Dir, const QString& Name)
{
    Window.show();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    QPixmap Picture = Window.grab();
    bool Ok = Picture.save(Dir + "/" + Name + ".png");
    std::printf("%s %s/%s.png (%dx%d)\n", Ok ? "wrote" : "FAILED", qPrintable(Dir),
                qPrintable(Name), Picture.width(), Picture.height());
    return Ok;
}

// The main window with one of its menus dropped down below it, as the user sees it.
bool SaveWithMenu(TFrmMain& Main, QMenu& Menu, int Index, const QString& Dir, const QString& Name)
{
    QPixmap Window = Main.grab();
    Menu.popup(Main.mapToGlobal(QPoint(0, 0)));
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    QPixmap Dropped = Menu.grab();
    Menu.hide();
    int Left = Main.Controls().MainMenu1->actionGeometry(Main.Controls().MainMenu1->actions()[Index]).left();
    int Top = Main.Controls().MainMenu1->height();
    QPixmap Canvas(std::max(Window.width(), Left + Dropped.width()),
                   std::max(Window.height(), Top + Dropped.height()));
    Canvas.fill(Qt::darkGray);
    QPainter Painter(&Canvas);
    Painter.drawPixmap(0, 0, Window);
    Painter.drawPixmap(Left, Top, Dropped);
    Painter.end();
    bool Ok = Canvas.save(Dir + "/" + Name + ".png");
    std::printf("%s %s/%s.png\n", Ok ? "wrote" : "FAILED", qPrintable(Dir), qPrintable(Name));
    return Ok;
}

// A box that Show brings up, taken while it waits for its answer, then closed.
bool SaveBox(const std::function<void()>& Show, const QString& Dir, const QString& Name)
{
    bool Ok = false;
    QTimer::singleShot(300, [&Ok, Dir, Name] {
        if (QWidget* Box = QApplication::activeModalWidget()) {
            Ok = Box->grab().save(Dir + "/" + Name + ".png");
            Box->close();
        }
    });
    Show();
    std::printf("%s %s/%s.png\n", Ok ? "wrote" : "FAILED", qPrintable(Dir), qPrintable(Name));
    return Ok;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication Application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: marrowtide-screenshots DIR\n");
        return 2;
    }
    SubstituteFonts();
    QString Dir = ToQString(argv[1]);
    QDir().mkpath(Dir);
    bool Ok = true;

    TFrmSplash Splash;
    Ok &= Save(Splash, Dir, "splash");
    Splash.hide();

    TProgramState State;
    State.ProgramDir = ExecutableDir();
    TFrmMain Main(State);
    Main.FormCreate();
    TAbout About(&Main);
    TfrmConvert Convert;
    Main.Controls().Path->setText("/.../boot.144");
    Main.Controls().Messages->setText("Decompression Complete.");
    Main.Controls().Status->setText(" Status: OK.");
    Ok &= Save(Main, Dir, "main-idle");
    State.ImagePath = "/home/ann/Disketten/Sicherungskopie vom Installationsdatentraeger 3 von 7.144";
    Main.SetText(TLabel::Path, ShortenPath(State.ImagePath));
    Ok &= Save(Main, Dir, "main-longpath");
    Main.SetText(TLabel::Path, "/.../boot.144");
    Ok &= SaveWithMenu(Main, *Main.Controls().File1, 0, Dir, "menu-file");
    Ok &= SaveWithMenu(Main, *Main.Controls().Hints, 1, Dir, "menu-options");
    Ok &= SaveWithMenu(Main, *Main.Controls().Help1, 2, Dir, "menu-help");

    Main.SetGaugeMax(80);
    Main.SetGaugeProgress(52);
    Main.SetGaugeShown(true);
    Main.SetText(TLabel::Messages, "Creating Image from Diskette.");
    Main.SetAnimationShown(TAnimation::MakeImage, true);
    Main.SetFloppyShown(false);
    Ok &= Save(Main, Dir, "main-busy");

    Ok &= Save(About, Dir, "about");
    Convert.Controls().lbHeading->setText("1.44MB -> 720KB ?");
    for (const char* Line : {"The diskette in the drive is a 1.44MB diskette,",
                             "the image is a 720KB image.", ""})
        Convert.Controls().lbMessage->addItem(Line);
    Ok &= Save(Convert, Dir, "convert");

    const std::string Hive = "/home/ann/.config/marrowtide/HKEY_CURRENT_USER.reg";
    Ok &= SaveBox([&] {
        AskToMoveSettingsAside(&Main, "Damaged registry file '" + Hive +
                                          "', line 1: the first line is not \"Windows Registry Editor Version 5.00\"");
    }, Dir, "box-damaged-settings");
    Ok &= SaveBox([&] {
        ShowErrorBox(&Main, "Failed to set data for 'ForcedClose'", Hive + ": Read-only file system");
    }, Dir, "box-settings-not-written");
    return Ok ? 0 : 1;
}
