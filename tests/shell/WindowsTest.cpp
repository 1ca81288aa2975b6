// The windows offscreen, on a private profile: controls and texts, creation with its error
// handling, the drive choice, hints, the close guard and Exit, the About window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProxyStyle>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sys/resource.h>

#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/FatBoot.h"
#include "platform/Registry.h"
#include "shell/About.h"
#include "shell/AnimationPlayer.h"
#include "shell/ErrorBox.h"
#include "shell/Main.h"
#include "shell/QtText.h"
#include "shell/UConvert.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"
#include "ui_About.h"
#include "ui_Main.h"
#include "ui_UConvert.h"

namespace fs = std::filesystem;

namespace {

// Answers the next modal dialog: records its caption and text, then presses Button (the first
// button when Button is empty). Polls with bounded retries, so a missing dialog fails the test.
struct TDialogAnswer {
    QString Caption, Text, Detail;
    bool Seen = false;
    QObject Polls;  // the pending polls end with the answer, not in a later test
};

void AnswerNextModal(TDialogAnswer& Answer, const QString& Button = {}, int Tries = 100)
{
    QTimer::singleShot(20, &Answer.Polls, [&Answer, Button, Tries] {
        QWidget* Modal = QApplication::activeModalWidget();
        if (!Modal) {
            if (Tries > 0)
                AnswerNextModal(Answer, Button, Tries - 1);
            return;
        }
        Answer.Seen = true;
        Answer.Caption = Modal->windowTitle();
        if (auto* Box = qobject_cast<QMessageBox*>(Modal)) {
            Answer.Text = Box->text();
            Answer.Detail = Box->detailedText();
            for (QAbstractButton* Candidate : Box->buttons())
                if (Button.isEmpty() || Candidate->text().remove('&') == Button) {
                    Candidate->click();
                    return;
                }
        }
        Modal->close();
    });
}

// Answers the modal dialog that comes after the one Before answered.
void AnswerAfter(TDialogAnswer& Before, TDialogAnswer& Answer, const QString& Button = {},
                 int Tries = 200)
{
    QTimer::singleShot(20, &Answer.Polls, [&Before, &Answer, Button, Tries] {
        if (Before.Seen)
            AnswerNextModal(Answer, Button);
        else if (Tries > 0)
            AnswerAfter(Before, Answer, Button, Tries - 1);
    });
}

// Runs the event loop until Done or Seconds have passed.
void RunEventsUntil(const std::function<bool()>& Done, int Seconds)
{
    QElapsedTimer Clock;
    Clock.start();
    while (!Done() && Clock.elapsed() < Seconds * 1000)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A program folder like build/bin: the helper and the two animations.
        State.ProgramDir = Root + "/bin/";
        fs::create_directories(State.ProgramDir);
        for (const char* File : {"MakeDisk.avi", "MakeImage.avi"})
            fs::copy_file(std::string(BIN_DIR) + "/" + File, State.ProgramDir + File);
        std::ofstream(State.ProgramDir + "Rastrel2.exe") << "#!/bin/sh\n";
        fs::permissions(State.ProgramDir + "Rastrel2.exe", fs::perms::owner_all);
    }
    std::string Image(const std::string& Name)
    {
        std::string Path = Root + "/" + Name;
        std::vector<uint8_t> Disk = MakeBlankDiskette(1, 1);
        std::ofstream(Path, std::ios::binary)
            .write(reinterpret_cast<const char*>(Disk.data()), std::streamsize(Disk.size()));
        return Path;
    }
    TPrivateProfile Profile{"marrowtide-windows"};
    const std::string Root = Profile.Path();
    TProgramState State;
};

TEST(ErrorBox, FullStopRule)
{
    EXPECT_EQ(ErrorBoxText("Cannot open AVI"), "Cannot open AVI.");
    EXPECT_EQ(ErrorBoxText("GetTempPath failed."), "GetTempPath failed.");
    EXPECT_EQ(ErrorBoxText("Failed to get data for 'Hints'"), "Failed to get data for 'Hints'");
    EXPECT_EQ(ErrorBoxText("Bad value (3)"), "Bad value (3)");
    EXPECT_EQ(ErrorBoxText("Size 12"), "Size 12.");  // digits come after the full stop
    EXPECT_EQ(ErrorBoxText("Oops!"), "Oops!");       // '!' comes before it
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST_F(WindowsTest, MainWindowControlsAndMenus)
{
    TFrmMain Main(State);
    Ui::FrmMain& C = Main.Controls();
    EXPECT_EQ(Main.size(), QSize(329, 160 + C.MainMenu1->sizeHint().height()));
    EXPECT_EQ(C.btnMakeImage->text(), "Make &Image");
    EXPECT_EQ(C.btnMakeDisk->text(), "Make &Disk");
    EXPECT_EQ(C.btnExit->text(), "E&xit");
    EXPECT_EQ(C.btnExit->geometry(), QRect(224, 88, 87, 25));
    EXPECT_EQ(C.Label1->text(), "Image file path: ");
    EXPECT_EQ(C.Label3->text(), "Messages:");
    EXPECT_EQ(C.GroupBox1->title(), "Drive");
    EXPECT_EQ(C.Gauge1->maximum(), 80);
    EXPECT_FALSE(C.Gauge1->isVisibleTo(&Main));
    EXPECT_FALSE(C.aniMakeImage->isVisibleTo(&Main));
    EXPECT_FALSE(C.rbDriveA->isEnabled());
    EXPECT_FALSE(C.rbDriveB->isEnabled());
    EXPECT_TRUE(C.MenuDriveA->isChecked());
    EXPECT_FALSE(C.MenuDriveA->isEnabled());
    EXPECT_TRUE(C.TurnHintsOn->isChecked());
    EXPECT_FALSE(C.IgnoreMedia->isChecked());

    QStringList Menus, Items;
    for (QAction* Menu : C.MainMenu1->actions()) {
        Menus << Menu->text();
        for (QAction* Item : Menu->menu()->actions())
            Items << Item->text();
    }
    EXPECT_EQ(Menus, (QStringList{"File", "Options", "Help"}));
    EXPECT_EQ(Items, (QStringList{"Save disk to file", "Make disk from file", "Hints on",
                                  "No Media Warnings", "Disk A:", "Disk B:", "Help", "About"}));
}

TEST_F(WindowsTest, CreationSetsUpTheWindowAndCopiesTheHelper)
{
    TFrmMain Main(State);
    Main.FormCreate();
    EXPECT_EQ(Main.windowTitle(), "Marrowtide 1.6b");
    EXPECT_EQ(State.WorkDir.rfind(Root + "/tmp/marrowtide-" + std::to_string(::getuid()) + "/run-", 0), 0u);
    EXPECT_TRUE(fs::exists(State.WorkDir + "Rastrel2.exe"));
    EXPECT_FALSE(Main.Controls().Compressor->isVisibleTo(&Main));
    EXPECT_EQ(Main.Controls().btnExit->toolTip(), "Exit the program.");
    EXPECT_TRUE(fs::exists(TRegistry::HivePath(TRootKey::CurrentUser)));
    EXPECT_FALSE(Main.TimerEnabled(TTimer::Command));
}

// A clip that cannot be opened is reported and only does not play: the working folder, the
// settings and the drive choice are all there (without the drive choice, Make Image would
// start the helper with no drive).
TEST_F(WindowsTest, AMissingClipOnlyFailsToPlay)
{
    fs::remove(State.ProgramDir + "MakeDisk.avi");
    SetDriveTableEntry('A', Image("a.144"));
    TFrmMain Main(State);
    TDialogAnswer Box;
    AnswerNextModal(Box);
    Main.FormCreate();
    ASSERT_TRUE(Box.Seen);
    EXPECT_EQ(Box.Caption, "Marrowtide");
    EXPECT_EQ(Box.Text, "Cannot open AVI.");
    EXPECT_EQ(Main.windowTitle(), "Marrowtide 1.6b");
    EXPECT_TRUE(State.WorkDirReady());
    EXPECT_TRUE(fs::exists(State.WorkDir + "Rastrel2.exe"));
    EXPECT_TRUE(Main.Controls().rbDriveA->isEnabled());
    EXPECT_TRUE(Main.DriveRadioChecked('A'));
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SettingsKey, false));
    EXPECT_EQ(Registry.ReadInteger("ForcedClose"), 1) << "the settings were loaded";
}

// A damaged settings file: the transfers can still work, and Exit ends the program after
// saying why the settings were not saved, leaving the file as it was.
TEST_F(WindowsTest, DamagedSettingsNeitherStopTheWorkNorTheExit)
{
    const std::string Hive = TRegistry::HivePath(TRootKey::CurrentUser);
    fs::create_directories(fs::path(Hive).parent_path());
    std::ofstream(Hive) << "REGEDIT4\n\n";
    TFrmMain Main(State);
    int Quits = 0;
    QObject::connect(&Main, &TFrmMain::Quit, [&Quits] { ++Quits; });
    TDialogAnswer Created, Exited;
    AnswerNextModal(Created, "No");
    Main.FormCreate();
    EXPECT_TRUE(fs::exists(State.WorkDir + "Rastrel2.exe"));
    std::ifstream In(Hive);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(In), {}), "REGEDIT4\n\n");
    // Yes at Exit: the new settings record an orderly end.
    TDialogAnswer Moved;
    AnswerNextModal(Exited, "Yes");
    AnswerAfter(Exited, Moved);
    Main.close();
    EXPECT_EQ(Exited.Text, Created.Text);
    EXPECT_TRUE(Moved.Seen);
    EXPECT_EQ(Quits, 1);
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SettingsKey, false));
    EXPECT_EQ(Registry.ReadInteger("ForcedClose"), 0);
}

// The way out of a damaged settings file: it is moved aside and kept, the box says where, and
// the program goes on with new settings, which later commands read without an error.
TEST_F(WindowsTest, ADamagedSettingsFileCanBeMovedAsideAndTheProgramGoesOn)
{
    const std::string Hive = TRegistry::HivePath(TRootKey::CurrentUser);
    fs::create_directories(fs::path(Hive).parent_path());
    std::ofstream(Hive) << "REGEDIT4\n\n";
    TFrmMain Main(State);
    TDialogAnswer Offer, Moved;
    AnswerNextModal(Offer, "Yes");
    AnswerAfter(Offer, Moved);
    Main.FormCreate();
    ASSERT_TRUE(Offer.Seen);
    EXPECT_TRUE(Offer.Text.startsWith("Damaged registry file '" + QString::fromStdString(Hive)));
    ASSERT_TRUE(Moved.Seen);
    const std::string Aside = Moved.Text.section('\n', 1, 1).toStdString();
    EXPECT_TRUE(std::regex_match(Aside, std::regex(Hive + "\\.damaged-[0-9]{8}-[0-9]{6}"))) << Aside;
    std::ifstream Old(Aside);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(Old), {}), "REGEDIT4\n\n");
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SettingsKey, false));
    EXPECT_EQ(Registry.ReadInteger("Forced"), 0);
    EXPECT_EQ(Registry.ReadInteger("ForcedClose"), 1);
    EXPECT_TRUE(Main.Controls().TurnHintsOn->isChecked());
}

// A settings file that cannot be written keeps the fixed text and says which file and why: on a
// first start (the key cannot be made) and when a start is recorded.
TEST_F(WindowsTest, ASettingsWriteFailureNamesTheFileAndTheReason)
{
    // Any file larger than this fails to be written (EFBIG), for every user, root too.
    auto CreateWithSmallFiles = [this](TDialogAnswer& Box) {
        TFrmMain Main(State);
        AnswerNextModal(Box);
        rlimit Old {};
        ::getrlimit(RLIMIT_FSIZE, &Old);
        rlimit Small = Old;
        Small.rlim_cur = 64;
        auto Signal = ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &Small);
        Main.FormCreate();
        ::setrlimit(RLIMIT_FSIZE, &Old);
        ::signal(SIGXFSZ, Signal);
    };
    const std::string Why = TRegistry::HivePath(TRootKey::CurrentUser) + ": " + std::strerror(EFBIG);
    TDialogAnswer First;
    CreateWithSmallFiles(First);
    EXPECT_EQ(First.Text, "Failed to get data for 'IgnoreMedia'");
    EXPECT_EQ(First.Detail.toStdString(), Why);

    TOptionMarks Marks;
    PrepareSettings(Marks);
    SaveOptions(Marks);  // ForcedClose 0: the next start writes it
    TDialogAnswer Later;
    CreateWithSmallFiles(Later);
    EXPECT_EQ(Later.Text, "Failed to set data for 'ForcedClose'");
    EXPECT_EQ(Later.Detail.toStdString(), Why);
}

// Two programs at once: each has its own folder, and the one that ends takes only its own.
TEST_F(WindowsTest, TwoProgramsNeverShareTheirWorkingFolders)
{
    TProgramState OtherState;
    OtherState.ProgramDir = State.ProgramDir;
    TFrmMain First(State);
    First.FormCreate();
    for (const char* Name : {"temp.del", "Status.dat"})
        std::ofstream(State.WorkDir + Name) << "x";
    {
        TFrmMain Second(OtherState);
        Second.FormCreate();
        EXPECT_NE(OtherState.WorkDir, State.WorkDir);
        EXPECT_TRUE(fs::exists(OtherState.WorkDir + "Rastrel2.exe"));
        Second.Controls().btnExit->click();
    }
    EXPECT_FALSE(fs::exists(OtherState.WorkDir));
    for (const char* Name : {"Rastrel2.exe", "temp.del", "Status.dat"})
        EXPECT_TRUE(fs::exists(State.WorkDir + Name)) << Name;
}

// Another user made the usual folder first: the program works in a fresh one and says which
// folder it passed over.
TEST_F(WindowsTest, AnUnsafeUserFolderIsNamedAndPassedOver)
{
    const std::string UserDir = Root + "/tmp/marrowtide-" + std::to_string(::getuid());
    fs::create_directory(UserDir);
    fs::permissions(UserDir, fs::perms::all);
    TFrmMain Main(State);
    TDialogAnswer Box;
    AnswerNextModal(Box);
    Main.FormCreate();
    ASSERT_TRUE(Box.Seen);
    EXPECT_TRUE(Box.Text.contains(QString::fromStdString(UserDir + " "))) << Box.Text.toStdString();
    EXPECT_EQ(State.WorkDir.rfind(UserDir + "-", 0), 0u);
    EXPECT_TRUE(fs::exists(State.WorkDir + "Rastrel2.exe"));
    EXPECT_TRUE(fs::is_empty(UserDir));
}

TEST_F(WindowsTest, MissingHelperIsReportedAndCreationGoesOn)
{
    fs::remove(State.ProgramDir + "Rastrel2.exe");
    State.StartedWithFile = 1;
    TFrmMain Main(State);
    TDialogAnswer Box;
    AnswerNextModal(Box);
    Main.FormCreate();
    ASSERT_TRUE(Box.Seen);
    EXPECT_EQ(Box.Text, "Cannot copy Rastrel2.exe");
    EXPECT_TRUE(Main.TimerEnabled(TTimer::Command));  // step 8 still ran
}

TEST_F(WindowsTest, DriveDiscoveryFollowsTheDriveList)
{
    {
        TFrmMain Main(State);
        Main.DiscoverDrives();  // neither
        EXPECT_FALSE(Main.Controls().MenuDriveA->isEnabled());
        EXPECT_TRUE(Main.Controls().MenuDriveA->isChecked());
        EXPECT_EQ(State.SelectedDrive, "A");
    }
    // Only B:, whose target names an "A:" folder: that is no drive A:.
    fs::create_directories(Root + "/A:");
    std::string OnB = Image("A:/b.144");
    SetDriveTableEntry('B', OnB);
    {
        TFrmMain Main(State);
        Main.DiscoverDrives();
        EXPECT_FALSE(Main.Controls().MenuDriveA->isEnabled());
        EXPECT_TRUE(Main.Controls().MenuDriveB->isEnabled());
        EXPECT_TRUE(Main.Controls().MenuDriveB->isChecked());
        EXPECT_TRUE(Main.Controls().rbDriveB->isChecked());
        EXPECT_FALSE(Main.Controls().MenuDriveA->isChecked());
        EXPECT_EQ(State.SelectedDrive, "B");
        EXPECT_TRUE(Main.DriveRadioChecked('B'));
    }
    SetDriveTableEntry('A', Image("a.144"));
    {
        TFrmMain Main(State);
        Main.DiscoverDrives();
        EXPECT_TRUE(Main.Controls().rbDriveA->isChecked());
        EXPECT_EQ(State.SelectedDrive, "A");
        Main.Controls().rbDriveB->click();
        EXPECT_TRUE(Main.Controls().MenuDriveB->isChecked());
        EXPECT_EQ(State.SelectedDrive, "B");
        Main.Controls().MenuDriveA->trigger();
        EXPECT_TRUE(Main.Controls().rbDriveA->isChecked());
        EXPECT_EQ(State.SelectedDrive, "A");
    }
}

TEST_F(WindowsTest, HintsAndIgnoreMediaToggle)
{
    TFrmMain Main(State);
    Main.FormCreate();
    Ui::FrmMain& C = Main.Controls();
    C.TurnHintsOn->trigger();
    EXPECT_FALSE(C.TurnHintsOn->isChecked());
    EXPECT_EQ(C.btnMakeImage->toolTip(), "");
    EXPECT_EQ(C.Path->toolTip(), "");
    C.TurnHintsOn->trigger();
    EXPECT_TRUE(C.TurnHintsOn->isChecked());
    EXPECT_EQ(C.btnMakeDisk->toolTip(), "Make a floppy disk from an image on the hard drive or network.");
    EXPECT_EQ(C.Path->toolTip(), "Path to image file on the hard drive or network.");
    C.IgnoreMedia->trigger();
    EXPECT_TRUE(Main.IgnoreMediaChecked());
    C.IgnoreMedia->trigger();
    EXPECT_FALSE(Main.IgnoreMediaChecked());
}

TEST_F(WindowsTest, CloseGuardAndExitCleanWorkDir)
{
    TFrmMain Main(State);
    Main.FormCreate();
    Main.show();
    int Quits = 0;
    QObject::connect(&Main, &TFrmMain::Quit, [&Quits] { ++Quits; });
    for (const char* Name : {"temp.del", "Status.dat", "working.dat", "error.dat"})
        std::ofstream(State.WorkDir + Name) << "x";

    Main.SetTimerEnabled(TTimer::Timer1, true);
    TDialogAnswer Guard;
    AnswerNextModal(Guard);
    EXPECT_FALSE(Main.close());
    ASSERT_TRUE(Guard.Seen);
    EXPECT_EQ(Guard.Caption, "Can not close.");
    EXPECT_EQ(Guard.Text, "Please wait until the current action is complete.");
    EXPECT_EQ(Quits, 0);

    // Idle: the close box is the Exit button. "Temp.del" and "temp.del" are one file.
    Main.SetTimerEnabled(TTimer::Timer1, false);
    Main.Controls().IgnoreMedia->trigger();
    Main.close();
    EXPECT_EQ(Quits, 1);
    EXPECT_FALSE(fs::exists(State.WorkDir + "Rastrel2.exe"));
    EXPECT_FALSE(fs::exists(State.WorkDir + "temp.del"));
    EXPECT_FALSE(fs::exists(State.WorkDir + "Status.dat"));
    EXPECT_TRUE(fs::exists(State.WorkDir + "working.dat"));
    EXPECT_TRUE(fs::exists(State.WorkDir + "error.dat"));
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SettingsKey, false));
    EXPECT_EQ(Registry.ReadInteger("ForcedClose"), 0);
    EXPECT_EQ(Registry.ReadInteger("IgnoreMedia"), 1);
}

// The opener may try for seconds before it fails: the window goes on meanwhile, and the failure
// is still told. One that hands the document on is not.
TEST_F(WindowsTest, HelpWatchesASlowOpenerWithoutHoldingUpTheWindow)
{
    fs::create_directories(State.ProgramDir + "help");
    std::ofstream(State.ProgramDir + "help/help.htm") << "<html></html>";
    fs::create_directories(Root + "/opener");
    const std::string Opener = Root + "/opener/xdg-open";
    const std::string Path = std::getenv("PATH");
    ::setenv("PATH", (Root + "/opener").c_str(), 1);
    TFrmMain Main(State);
    int Ticks = 0;
    QTimer Ticker;
    QObject::connect(&Ticker, &QTimer::timeout, [&Ticks] { ++Ticks; });
    Ticker.start(100);

    std::ofstream(Opener) << "#!/bin/sh\n/bin/sleep 3\nexit 4\n";
    fs::permissions(Opener, fs::perms::owner_all);
    TDialogAnswer Box;
    AnswerNextModal(Box, {}, 500);
    QElapsedTimer Clock;
    Clock.start();
    Main.Controls().Help2->trigger();
    EXPECT_LT(Clock.elapsed(), 500) << "the command waits for the opener";
    RunEventsUntil([&Box] { return Box.Seen; }, 10);
    ASSERT_TRUE(Box.Seen);
    EXPECT_GE(Clock.elapsed(), 2900);
    EXPECT_GE(Ticks, 10) << "the window was held up while the opener ran";
    EXPECT_TRUE(Box.Text.contains(QString::fromStdString(State.ProgramDir + "help/help.htm")));

    std::ofstream(Opener) << "#!/bin/sh\n/bin/sleep 0.3\nexit 0\n";
    TDialogAnswer None;
    AnswerNextModal(None, {}, 50);
    Main.Controls().Help2->trigger();
    RunEventsUntil([] { return false; }, 1);
    ::setenv("PATH", Path.c_str(), 1);
    EXPECT_FALSE(None.Seen);
}

TEST_F(WindowsTest, HelpWithoutABrowserNamesTheHelpFile)
{
    fs::create_directories(State.ProgramDir + "help");
    std::ofstream(State.ProgramDir + "help/help.htm") << "<html></html>";
    const std::string Path = std::getenv("PATH");
    ::setenv("PATH", (Root + "/nothing").c_str(), 1);
    TFrmMain Main(State);
    TDialogAnswer Box;
    AnswerNextModal(Box);
    Main.Controls().Help2->trigger();
    ::setenv("PATH", Path.c_str(), 1);
    ASSERT_TRUE(Box.Seen);
    EXPECT_TRUE(Box.Text.contains(QString::fromStdString(State.ProgramDir + "help/help.htm")));
}

TEST_F(WindowsTest, AboutIsOneWindowShownAndHidden)
{
    TFrmMain Main(State);
    TAbout About(&Main);
    Main.SetAboutWindow(&About);
    EXPECT_EQ(About.Controls().btnOK->text(), "Close");
    EXPECT_EQ(About.Controls().lbThanx->item(0)->text(), "Thank YOU for buying Marrowtide");
    EXPECT_EQ(About.Controls().lbThanx->item(2)->text(), "Many thanks to:");
    Main.Controls().About1->trigger();
    Main.Controls().About1->trigger();
    EXPECT_TRUE(About.isVisible());
    EXPECT_FALSE(About.isModal());
    About.Controls().btnOK->click();
    EXPECT_FALSE(About.isVisible());
    Main.Controls().About1->trigger();
    EXPECT_TRUE(About.isVisible());
}

TEST_F(WindowsTest, ConvertDialogReturnsItsButtonsResults)
{
    TfrmConvert Convert;
    EXPECT_EQ(Convert.windowTitle(), "Convert Format ?");
    EXPECT_EQ(Convert.size(), QSize(350, 293));
    EXPECT_TRUE(Convert.Controls().btnConvert->isDefault());
    auto Press = [&](QPushButton* Button) {
        QTimer::singleShot(20, Button, &QPushButton::click);
        return Convert.Ask("1.44MB -> 720KB ?", {"line one", "line two"});
    };
    EXPECT_EQ(Press(Convert.Controls().btnConvert), TModalResult::OK);
    EXPECT_EQ(Convert.Controls().lbHeading->text(), "1.44MB -> 720KB ?");
    EXPECT_EQ(Convert.Controls().lbMessage->count(), 2);
    EXPECT_EQ(Press(Convert.Controls().btnRetry), TModalResult::Retry);
    EXPECT_EQ(Press(Convert.Controls().btnCancel), TModalResult::Cancel);
    QTimer::singleShot(20, &Convert, &QDialog::reject);  // Esc or the close box
    EXPECT_EQ(Convert.Ask("x", {}), TModalResult::Cancel);
    EXPECT_EQ(Convert.Controls().lbMessage->count(), 0);
}

}  // namespace

namespace {

// The engine's panel: its captions reach the label, and pending events run while it works.
TEST_F(WindowsTest, CompressorPanelServesTheEngine)
{
    TFrmMain Main(State);
    Main.FormCreate();  // hides the panel
    Main.show();
    TLzrw1Host& Host = Main.CompressorHost();
    EXPECT_FALSE(Host.Visible());
    Main.SetCompressorShown(true);
    EXPECT_TRUE(Host.Visible());
    Host.SetCaption("Lzh compression : 50%");
    EXPECT_EQ(Main.Controls().Compressor->text(), "Lzh compression : 50%");
    bool Ran = false;
    QTimer::singleShot(0, [&Ran] { Ran = true; });
    Host.ProcessMessages();
    EXPECT_TRUE(Ran);

    // A real compression through the panel.
    std::string Raw = Root + "/raw.img", Packed = Root + "/raw.144";
    std::vector<uint8_t> Disk = MakeBlankDiskette(1, 5);
    std::ofstream(Raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(Disk.data()), std::streamsize(Disk.size()));
    Tlzrw1 Engine(&Host);
    Engine.InputFile = Raw;
    Engine.OutputFile = Packed;
    EXPECT_GT(Engine.Compress(), 8);
    EXPECT_FALSE(Main.Controls().Compressor->text().isEmpty());
    Main.SetCompressorShown(false);
    EXPECT_FALSE(Host.Visible());
}

}  // namespace

#include "shell/Splash.h"
#include "ui_Splash.h"

namespace {

TEST_F(WindowsTest, AFailureReportKeepsItsTextAndOffersTheReasonAsDetails)
{
    TFrmMain Main(State);
    TDialogAnswer Answer;
    AnswerNextModal(Answer, "OK");
    Main.MessageDlg("Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?",
                    TMsgDlgType::Warning, TMsgButtons::OK, "the diskette is write-protected");
    ASSERT_TRUE(Answer.Seen);
    EXPECT_EQ(Answer.Caption, "Warning");
    EXPECT_EQ(Answer.Text, "Error.  Could not write to the Diskette.\nWrite protected?  Wrong media?");
    EXPECT_EQ(Answer.Detail, "the diskette is write-protected");
}

TEST(Splash, StaysUntilItsTimerLetsItClose)
{
    TFrmSplash Splash;
    EXPECT_EQ(Splash.size(), QSize(299, 200));
    EXPECT_EQ(Splash.Controls().Label1->text(), "Marrowtide");
    EXPECT_EQ(Splash.Controls().lblVersion->text(), "");
    Splash.show();
    EXPECT_EQ(Splash.Controls().lblVersion->text(), "Ver: 1.6b");
    EXPECT_FALSE(Splash.Controls().Image1->pixmap().isNull());
    EXPECT_EQ(Splash.Timer1.interval(), 3000);
    EXPECT_TRUE(Splash.Timer1.isActive());
    EXPECT_FALSE(Splash.CloseQuery());
    // A shorter wait, the same path: the tick disables the timer and allows the close.
    Splash.Timer1.start(5);
    for (int i = 0; i < 100 && !Splash.CloseQuery(); ++i) {
        QApplication::processEvents();
        ::usleep(2000);
    }
    EXPECT_TRUE(Splash.CloseQuery());
    EXPECT_FALSE(Splash.Timer1.isActive());
}

}  // namespace

#include "compress/LZRW1.h"
#include "imaging/Imaging.h"

namespace {

// An image file Name in Folder, packed by the engine from Dump.
std::string PackedImage(const std::string& Folder, const std::vector<uint8_t>& Dump, const std::string& Name)
{
    const std::string Raw = Folder + "/dump.raw", Packed = Folder + "/" + Name;
    std::ofstream(Raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(Dump.data()), std::streamsize(Dump.size()));
    Tlzrw1 Packer;
    Packer.InputFile = Raw;
    Packer.OutputFile = Packed;
    Packer.Compress();
    return Packed;
}

// The whole program's road for an image given on the command line: the window's timers, the
// real workflows, engine and helper write the diskette, and the program ends by itself.
TEST_F(WindowsTest, CommandLineRestoreWritesTheDisketteAndEnds)
{
    fs::copy_file(HELPER_PATH, State.ProgramDir + "Rastrel2.exe", fs::copy_options::overwrite_existing);
    std::vector<uint8_t> Dump = MakeBlankDiskette(1, 77);
    for (size_t i = 40000; i < Dump.size(); i += 7)
        Dump[i] = static_cast<uint8_t>(i * 31);
    const std::string Packed = PackedImage(Root, Dump, "boot.144");
    std::string Diskette = Image("a.144");
    SetDriveTableEntry('A', Diskette);

    State.Parameters = {"\"" + Packed + "\""};
    State.StartedWithFile = 1;
    TFrmMain Main(State);
    TImaging Imaging(State, Main);
    Main.SetCommands(&Imaging);
    bool Ended = false;
    QObject::connect(&Main, &TFrmMain::Quit, [&Ended] { Ended = true; });
    Main.FormCreate();
    TDialogAnswer Insert;
    AnswerNextModal(Insert, "OK", 500);
    Main.show();
    for (int i = 0; i < 1500 && !Ended; ++i) {
        QApplication::processEvents();
        ::usleep(10000);
    }
    ASSERT_TRUE(Ended) << Main.Controls().Messages->text().toStdString();
    EXPECT_EQ(Insert.Caption, "Insert Disk");
    EXPECT_EQ(Insert.Text, "Insert a 1.44MB floppy into drive a: and click OK.");
    EXPECT_EQ(Main.Controls().Messages->text().toStdString(), "Disk Complete.");
    EXPECT_EQ(Main.Controls().Path->text().toStdString(), "/.../boot.144");
    std::ifstream Written(Diskette, std::ios::binary);
    std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(Written)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Bytes == Dump);
    EXPECT_FALSE(fs::exists(State.WorkDir + "temp.del"));
    // Not an orderly end: the helper copy stays and the run counts as forced next time.
    EXPECT_TRUE(fs::exists(State.WorkDir + "Rastrel2.exe"));
}

}  // namespace

namespace {

// Closing the window while the engine decompresses: the exit steps run, the engine finishes
// its work, and the workflow goes no further (no diskette prompt, nothing written).
TEST_F(WindowsTest, CloseWhileTheEngineWorksLetsItFinish)
{
    std::vector<uint8_t> Dump = MakeBlankDiskette(1, 78);
    for (size_t i = 20000; i < Dump.size(); ++i)
        Dump[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    const std::string Packed = PackedImage(Root, Dump, "busy.144");
    std::string Diskette = Image("a.144");
    SetDriveTableEntry('A', Diskette);
    State.Parameters = {Packed};
    State.StartedWithFile = 1;
    TFrmMain Main(State);
    TImaging Imaging(State, Main);
    Main.SetCommands(&Imaging);
    int Quits = 0;
    QObject::connect(&Main, &TFrmMain::Quit, [&Quits] { ++Quits; });
    Main.FormCreate();

    // Asks to close as soon as the engine's panel is up, from inside the engine's event pump.
    QTimer Closer;
    bool Asked = false;
    QObject::connect(&Closer, &QTimer::timeout, [&] {
        if (!Asked && Main.Controls().Compressor->isVisible()) {
            Asked = true;
            Main.close();
        }
    });
    Closer.start(0);
    TDialogAnswer Prompt;
    AnswerNextModal(Prompt, "Cancel", 150);
    Main.show();
    for (int i = 0; i < 300 && !(Asked && Quits && !Main.Controls().Compressor->isVisible()); ++i) {
        QApplication::processEvents();
        ::usleep(5000);
    }
    for (int i = 0; i < 50; ++i) {
        QApplication::processEvents();
        ::usleep(2000);
    }
    ASSERT_TRUE(Asked);
    EXPECT_EQ(Quits, 1);
    EXPECT_FALSE(Prompt.Seen) << Prompt.Text.toStdString();
    EXPECT_EQ(Main.Controls().Messages->text().toStdString(), "Decompression Complete.");
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SettingsKey, false));
    EXPECT_EQ(Registry.ReadInteger("ForcedClose"), 0);
    // The diskette was not touched.
    std::ifstream Written(Diskette, std::ios::binary);
    std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(Written)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Bytes == MakeBlankDiskette(1, 1));
}


// Answers every modal window as a user would on the demo road, and notes what it saw.
class TUser : public QObject {
public:
    std::string ImagePath;
    QStringList Seen;
    QString ConvertHeading;
    QTimer Tick;
    TUser()
    {
        connect(&Tick, &QTimer::timeout, this, [this] { Act(); });
        Tick.start(20);
    }

private:
    void Act()
    {
        QWidget* Modal = QApplication::activeModalWidget();
        if (!Modal || !Modal->isVisible())
            return;
        if (auto* Box = qobject_cast<QMessageBox*>(Modal)) {
            Seen << Box->windowTitle() + ": " + Box->text();
            QMessageBox::StandardButton Press =
                Box->text().startsWith("The file already exists") ? QMessageBox::Yes : QMessageBox::Ok;
            if (QAbstractButton* Button = Box->button(Press))
                Button->click();
            else
                Box->reject();
        } else if (auto* Files = qobject_cast<QFileDialog*>(Modal)) {
            Seen << Files->objectName() + " " + Files->selectedFiles().join(",");
            // A dialog that keeps refusing the name is given up, so the test fails, not hangs.
            if (Seen.size() > 50) {
                Files->reject();
                return;
            }
            // Typed into the name box, as a user does; the dialog's own accept checks it.
            QFileInfo Chosen(QString::fromStdString(ImagePath));
            Files->setDirectory(Chosen.absolutePath());
            if (auto* Name = Files->findChild<QLineEdit*>("fileNameEdit"))
                Name->setText(Chosen.fileName());
            static_cast<QDialog*>(Files)->accept();
        } else if (auto* Convert = qobject_cast<TfrmConvert*>(Modal)) {
            ConvertHeading = Convert->Controls().lbHeading->text();
            Seen << "Convert: " + ConvertHeading;
            Convert->Controls().btnConvert->click();
        } else {
            Seen << "unexpected " + Modal->windowTitle();
            Modal->close();
        }
    }
};

// The road a newcomer takes with make run: an image of A:, then a disk from it onto the
// 2.88MB diskette in B:, converted first. Through the real window, workflows, engine and helper.
TEST_F(WindowsTest, MakeImageThenMakeDiskWithConversionThroughTheWindow)
{
    fs::copy_file(HELPER_PATH, State.ProgramDir + "Rastrel2.exe", fs::copy_options::overwrite_existing);
    std::vector<uint8_t> Work = MakeBlankDiskette(1, 91);
    for (size_t i = 33 * 512; i < 400000; ++i)
        Work[i] = static_cast<uint8_t>("Marrowtide demo data. "[i % 22]);
    std::string DiskA = Root + "/work.144", DiskB = Root + "/blank.288";
    std::ofstream(DiskA, std::ios::binary)
        .write(reinterpret_cast<const char*>(Work.data()), std::streamsize(Work.size()));
    std::vector<uint8_t> Blank = MakeBlankDiskette(0, 92);
    std::ofstream(DiskB, std::ios::binary)
        .write(reinterpret_cast<const char*>(Blank.data()), std::streamsize(Blank.size()));
    SetDriveTableEntry('A', DiskA);
    SetDriveTableEntry('B', DiskB);

    TFrmMain Main(State);
    TImaging Imaging(State, Main);
    Main.SetCommands(&Imaging);
    TfrmConvert Convert;
    Main.SetConvertDialog(&Convert);
    Main.FormCreate();
    Main.show();
    TUser User;
    User.ImagePath = Root + "/made.144";
    auto WaitFor = [&](const char* Text) {
        for (int i = 0; i < 1500 && Main.Controls().Messages->text().toStdString() != Text; ++i) {
            QApplication::processEvents();
            ::usleep(5000);
        }
        return Main.Controls().Messages->text().toStdString();
    };

    Main.Controls().btnMakeImage->click();
    ASSERT_EQ(WaitFor("Image Complete."), "Image Complete.") << User.Seen.join(" | ").toStdString();
    EXPECT_EQ(Main.Controls().Status->text().toStdString(), " Status: OK.");
    {
        Tlzrw1 Unpacker;
        Unpacker.InputFile = User.ImagePath;
        Unpacker.OutputFile = Root + "/made.raw";
        Unpacker.Decompress();
        EXPECT_TRUE(ReadBytes(Root + "/made.raw") == Work);
    }

    Main.Controls().rbDriveB->click();
    Main.Controls().btnMakeDisk->click();
    ASSERT_EQ(WaitFor("Disk Complete."), "Disk Complete.") << User.Seen.join(" | ").toStdString();
    EXPECT_EQ(User.ConvertHeading, "2.88MB -> 1.44MB ?");
    EXPECT_TRUE(Main.Controls().btnMakeDisk->isEnabled());
    // B: now holds the 1.44MB file system, and its first tracks are the image.
    EXPECT_EQ(VolumeSize('B'), 1457664);
    std::vector<uint8_t> Written = ReadBytes(DiskB);
    ASSERT_EQ(Written.size(), Blank.size());
    EXPECT_TRUE(std::equal(Work.begin(), Work.end(), Written.begin()));
    EXPECT_EQ(User.Seen.filter("unexpected").size(), 0) << User.Seen.join(" | ").toStdString();
}


// A desktop whose button layout puts Cancel first (GNOME, XFCE) or last (KDE).
class TDesktopLayout : public QProxyStyle {
public:
    explicit TDesktopLayout(int Layout) : QProxyStyle("Fusion"), Layout(Layout) {}
    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                  QStyleHintReturn* Return) const override
    {
        return Hint == SH_DialogButtonLayout ? Layout
                                             : QProxyStyle::styleHint(Hint, Option, Widget, Return);
    }
    int Layout;
};

// Every question's buttons in the program's order, Enter the first, Esc Cancel (No for Yes/No),
// whatever the desktop's layout.
TEST_F(WindowsTest, QuestionsKeepTheirButtonOrderAndKeysOnEveryDesktop)
{
    TFrmMain Main(State);
    struct TCase {
        TMsgButtons Buttons;
        QStringList Order;
        TModalResult Esc;
    };
    const TCase Cases[] = {
        {TMsgButtons::OKCancel, {"OK", "Cancel"}, TModalResult::Cancel},
        {TMsgButtons::YesNoCancel, {"Yes", "No", "Cancel"}, TModalResult::Cancel},
        {TMsgButtons::YesNo, {"Yes", "No"}, TModalResult::No},
    };
    for (int Layout : {int(QDialogButtonBox::GnomeLayout), int(QDialogButtonBox::KdeLayout)}) {
        QApplication::setStyle(new TDesktopLayout(Layout));
        for (const TCase& Case : Cases)
            for (int Key : {Qt::Key_Return, Qt::Key_Escape}) {
                QStringList Order;
                QTimer::singleShot(50, [&Order, Key] {
                    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (!Box)
                        return;
                    QList<QAbstractButton*> Buttons = Box->buttons();
                    std::sort(Buttons.begin(), Buttons.end(), [](auto* A, auto* B) {
                        return A->mapToGlobal(QPoint()).x() < B->mapToGlobal(QPoint()).x();
                    });
                    for (QAbstractButton* Button : Buttons)
                        Order << Button->text().remove('&');
                    QWidget* Target = Box->focusWidget() ? Box->focusWidget() : Box;
                    QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier);
                    QApplication::sendEvent(Target, &Press);
                    if (Box->isVisible())
                        Box->done(-1);
                });
                TModalResult Answer = Main.MessageBox("Insert Diskette.", "Insert Diskette.",
                                                      Case.Buttons, TQuestion::Insert);
                EXPECT_EQ(Order, Case.Order) << Layout;
                const TModalResult First =
                    Case.Buttons == TMsgButtons::OKCancel ? TModalResult::OK : TModalResult::Yes;
                EXPECT_EQ(Answer, Key == Qt::Key_Return ? First : Case.Esc)
                    << Layout << " " << Order.join(",").toStdString();
            }
    }
    QApplication::setStyle("Fusion");
}

// A long name is cut in its middle to end left of the drive box and is whole in the tooltip.
TEST_F(WindowsTest, ALongPathFitsLeftOfTheDriveBoxAndShowsWholeAsTooltip)
{
    TFrmMain Main(State);
    Ui::FrmMain& C = Main.Controls();
    State.ImagePath = "/home/ann/Disketten/Sicherungskopie vom Installationsdatentraeger 3 von 7.144";
    Main.SetText(TLabel::Path, ShortenPath(State.ImagePath));
    const QString Shown = C.Path->text();
    EXPECT_TRUE(Shown.startsWith("/.../") && Shown.endsWith(".144") && Shown.contains(QChar(0x2026)));
    EXPECT_LT(C.Path->mapTo(&Main, QPoint()).x() + C.Path->fontMetrics().horizontalAdvance(Shown),
              C.GroupBox1->mapTo(&Main, QPoint()).x());
    EXPECT_EQ(C.Path->toolTip(), ToQString(State.ImagePath));
    Main.SetText(TLabel::Path, "/.../boot.144");
    EXPECT_EQ(C.Path->text(), "/.../boot.144");
    EXPECT_EQ(C.Path->toolTip(), "Path to image file on the hard drive or network.");
}

// Alt and a menu's first letter open that menu, F10 the first; the titles stay as they are.
TEST_F(WindowsTest, AltLetterAndF10OpenTheMenus)
{
    TFrmMain Main(State);
    Ui::FrmMain& C = Main.Controls();
    Main.show();
    QApplication::setActiveWindow(&Main);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main));
    for (auto [Key, Menu] : {std::pair(Qt::Key_F, C.File1), std::pair(Qt::Key_O, C.Hints),
                             std::pair(Qt::Key_H, C.Help1), std::pair(Qt::Key_F10, C.File1)}) {
        QTest::keyClick(&Main, Key, Key == Qt::Key_F10 ? Qt::NoModifier : Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([Menu] { return Menu->isVisible(); }, 2000)) << Key;
        QTest::keyClick(Menu, Qt::Key_Escape);
        if (C.MainMenu1->activeAction())
            QTest::keyClick(C.MainMenu1, Qt::Key_Escape);
    }
    EXPECT_EQ(C.File1->title(), "File");
}

// A fixed size without a maximise button; the diskette drawn for the screen's pixel ratio (run
// again with QT_SCALE_FACTOR=2), not scaled up.
TEST_F(WindowsTest, FixedSizeAndASharpDiskette)
{
    TFrmMain Main(State);
    EXPECT_FALSE(Main.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Main.minimumSize(), Main.maximumSize());
    const qreal Ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? 2 : 1;
    EXPECT_EQ(Main.Controls().Floppy->pixmap().size(), QSize(32, 32) * Ratio);
}

// Dark ink on a light ground: readable text.
bool DarkOnLight(const QImage& Picture)
{
    int Ink = 0;
    for (int Y = 0; Y < Picture.height(); ++Y)
        for (int X = 0; X < Picture.width(); ++X)
            Ink += qGray(Picture.pixel(X, Y)) < 150;
    return Ink >= 5 && qGray(Picture.pixel(Picture.width() - 1, Picture.height() - 1)) > 200;
}

// A dark desktop theme puts no light text on the white panels or the cream credits list.
TEST_F(WindowsTest, FixedGroundsKeepDarkTextUnderADarkTheme)
{
    const QPalette Saved = QApplication::palette();
    const QColor Light(252, 252, 252), Dark(42, 46, 50);
    QApplication::setPalette(QPalette(Light, Dark, Dark.lighter(), Dark.darker(), Dark, Light, Dark.darker()));
    {
        TFrmMain Main(State);
        TAbout About(&Main);
        Ui::FrmMain& C = Main.Controls();
        Main.SetText(TLabel::Status, " Status: OK.");
        About.show();
        EXPECT_TRUE(DarkOnLight(C.Status->grab().toImage()));
        EXPECT_TRUE(DarkOnLight(C.GroupBox1->grab(QRect(8, 0, 30, 12)).toImage()));
        EXPECT_TRUE(DarkOnLight(C.GroupBox1->grab(QRect(C.rbDriveA->pos() + QPoint(14, 0), QSize(15, 13))).toImage()));
        EXPECT_TRUE(DarkOnLight(About.Controls().lbThanx->viewport()->grab().toImage()));
    }
    QApplication::setPalette(Saved);
}

}  // namespace
