#include "shell/Main.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>

#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Launch.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "shell/About.h"
#include "shell/AnimationPlayer.h"
#include "shell/Boxes.h"
#include "shell/Diskette.h"
#include "shell/ErrorBox.h"
#include "shell/OpenDocument.h"
#include "shell/QtText.h"
#include "shell/UConvert.h"
#include "ui_Main.h"

namespace {

// The program's texts break lines with "\r\n" or a lone "\r"; Qt wants "\n".
QString DisplayText(const std::string& Text)
{
    QString Shown = ToQString(Text);
    Shown.replace("\r\n", "\n");
    Shown.replace('\r', '\n');
    return Shown;
}

// "Name|*.a|Other|*.b;*.c" as Qt's "Name (*.a);;Other (*.b *.c)", one entry per pair.
QStringList FilterList(const std::string& Filter)
{
    QStringList Parts = ToQString(Filter).split('|');
    QStringList Filters;
    for (int i = 0; i + 1 < Parts.size(); i += 2) {
        QString Patterns = Parts[i + 1];
        Patterns.replace(';', ' ');
        Filters << Parts[i] + " (" + Patterns + ")";
    }
    return Filters;
}

TModalResult ResultOf(QMessageBox::StandardButton Button)
{
    switch (Button) {
    case QMessageBox::Ok: return TModalResult::OK;
    case QMessageBox::Cancel: return TModalResult::Cancel;
    case QMessageBox::Yes: return TModalResult::Yes;
    case QMessageBox::No: return TModalResult::No;
    case QMessageBox::Retry: return TModalResult::Retry;
    case QMessageBox::Abort: return TModalResult::Abort;
    default: return TModalResult::Cancel;
    }
}

QMessageBox::StandardButtons ButtonsOf(TMsgButtons Buttons)
{
    switch (Buttons) {
    case TMsgButtons::OKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case TMsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case TMsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case TMsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

// A box is named after what it asks, for whoever drives the window from outside.
QString BoxName(TQuestion Kind)
{
    switch (Kind) {
    case TQuestion::Insert: return "InsertBox";
    case TQuestion::Overwrite: return "OverwriteBox";
    case TQuestion::Retry: return "RetryBox";
    case TQuestion::WrongCapacity: return "WrongCapacityBox";
    case TQuestion::Reinsert: return "ReinsertBox";
    case TQuestion::CloseGuard: return "CloseGuardBox";
    default: return "ReportBox";
    }
}

TModalResult RunBox(QMessageBox& Box)
{
    Box.exec();
    return ResultOf(Box.standardButton(Box.clickedButton()));
}

// The drive box's diskette for the screen Window is on.
QPixmap FloppyFor(const QWidget& Window)
{
    return QPixmap::fromImage(PaintFloppy(Window.devicePixelRatioF()));
}

// Text cut to Room pixels: a shortened path ("/.../name.144") keeps its folder part and loses
// the middle of its file name, so the extension still shows; any other text loses its middle.
QString Elided(const QString& Text, const QFontMetrics& Metrics, int Room)
{
    if (Metrics.horizontalAdvance(Text) <= Room)
        return Text;
    const qsizetype NameStart = std::max(Text.lastIndexOf('/'), Text.lastIndexOf('\\')) + 1;
    const QString Folder = Text.left(NameStart);
    const int NameRoom = Room - Metrics.horizontalAdvance(Folder);
    if (NameStart == 0 || NameRoom < Metrics.horizontalAdvance("W...W"))
        return Metrics.elidedText(Text, Qt::ElideMiddle, Room);
    return Folder + Metrics.elidedText(Text.mid(NameStart), Qt::ElideMiddle, NameRoom);
}

}  // namespace

TFrmMain::TFrmMain(TProgramState& ProgramState, QWidget* Parent)
    : QMainWindow(Parent), State(ProgramState), Form(std::make_unique<Ui::FrmMain>())
{
    Form->setupUi(this);
    // A fixed size with no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // Client area of 329 x 160 below the menu bar; the border is fixed.
    Form->CentralWidget->setFixedSize(329, 160);
    setFixedSize(329, 160 + Form->MainMenu1->sizeHint().height());
    setWindowIcon(QIcon(":/pictures/Marrowtide.png"));
    Form->Floppy->setPixmap(FloppyFor(*this));
    Form->Path->ensurePolished();
    Form->aniMakeImage->SetStopFrame(33);
    Form->aniMakeDisk->SetStopFrame(33);

    // The menu titles carry no mnemonic; Alt and their first letter open them all the same, and
    // F10 opens the first, as in every desktop program.
    const std::pair<QKeySequence, QMenu*> MenuKeys[] = {{QKeySequence(Qt::ALT | Qt::Key_F), Form->File1},
                                                        {QKeySequence(Qt::ALT | Qt::Key_O), Form->Hints},
                                                        {QKeySequence(Qt::ALT | Qt::Key_H), Form->Help1},
                                                        {QKeySequence(Qt::Key_F10), Form->File1}};
    for (const auto& [Keys, Menu] : MenuKeys)
        connect(new QShortcut(Keys, this), &QShortcut::activated, this,
                [this, Menu] { Form->MainMenu1->setActiveAction(Menu->menuAction()); });

    auto* DriveGroup = new QActionGroup(this);
    DriveGroup->addAction(Form->MenuDriveA);
    DriveGroup->addAction(Form->MenuDriveB);

    Timer1.setInterval(1000);
    Timer3.setInterval(1000);
    tmrCommand.setInterval(50);

    auto Run = [this](void (TFrmMain::*Handler)()) {
        return [this, Handler] { Guarded([this, Handler] { (this->*Handler)(); }); };
    };
    connect(Form->btnMakeImage, &QPushButton::clicked, this, Run(&TFrmMain::btnMakeImageClick));
    connect(Form->Savedisktofile1, &QAction::triggered, this, Run(&TFrmMain::btnMakeImageClick));
    connect(Form->btnMakeDisk, &QPushButton::clicked, this, Run(&TFrmMain::btnMakeDiskClick));
    connect(Form->Makediskfromfile1, &QAction::triggered, this, Run(&TFrmMain::btnMakeDiskClick));
    connect(Form->btnExit, &QPushButton::clicked, this, Run(&TFrmMain::btnExitClick));
    // The menu has already toggled these check items; their handlers do the toggling.
    connect(Form->TurnHintsOn, &QAction::triggered, this, [this](bool Checked) {
        Form->TurnHintsOn->setChecked(!Checked);
        Guarded([this] { HintsOnOffClick(); });
    });
    connect(Form->IgnoreMedia, &QAction::triggered, this, [this](bool Checked) {
        Form->IgnoreMedia->setChecked(!Checked);
        Guarded([this] { IgnoreMediaClick(); });
    });
    connect(Form->MenuDriveA, &QAction::triggered, this, Run(&TFrmMain::MenuDriveAClick));
    connect(Form->MenuDriveB, &QAction::triggered, this, Run(&TFrmMain::MenuDriveBClick));
    connect(Form->rbDriveA, &QRadioButton::clicked, this, Run(&TFrmMain::MenuDriveAClick));
    connect(Form->rbDriveB, &QRadioButton::clicked, this, Run(&TFrmMain::MenuDriveBClick));
    connect(Form->Help2, &QAction::triggered, this, Run(&TFrmMain::Help2Click));
    connect(Form->About1, &QAction::triggered, this, Run(&TFrmMain::About1Click));
    connect(&tmrCommand, &QTimer::timeout, this, Run(&TFrmMain::tmrCommandTimer));
    connect(&Timer1, &QTimer::timeout, this, [this] {
        if (ImagingCommands)
            Guarded([this] { ImagingCommands->Timer1Timer(); });
    });
    connect(&Timer3, &QTimer::timeout, this, [this] {
        if (ImagingCommands)
            Guarded([this] { ImagingCommands->Timer3Timer(); });
    });
}

TFrmMain::~TFrmMain()
{
    // The program's folder goes with it; a helper still at work keeps it, and the next start
    // removes it.
    if (WorkFolder && !ProcessRunning(State.HelperPid))
        WorkFolder->Remove();
}

void TFrmMain::Guarded(const std::function<void()>& Handler)
{
    ::Guarded(Handler, [this](const std::exception& E) {
        if (const auto* Damaged = dynamic_cast<const EDamagedHive*>(&E))
            OfferNewSettings(*Damaged);
        else
            ShowFailure(E);
    });
}

void TFrmMain::ShowFailure(const std::exception& E)
{
    const auto* Registry = dynamic_cast<const ERegistryException*>(&E);
    ::ShowErrorBox(this, E.what(), Registry ? Registry->Detail : std::string());
}

bool TFrmMain::OfferNewSettings(const EDamagedHive& Damaged)
{
    if (!AskToMoveSettingsAside(this, Damaged.what()))
        return false;
    try {
        const std::string Aside = MoveHiveAside(Damaged.File);
        ShowMessage("The damaged settings file was moved aside and kept as\r\n" + Aside +
                    "\r\nThe program goes on with the default settings.");
        const TOptionMarks Defaults;
        Form->IgnoreMedia->setChecked(Defaults.IgnoreMedia);
        Form->TurnHintsOn->setChecked(Defaults.Hints);
        LoadSettings();
        return true;
    } catch (const std::exception& E) {
        ShowFailure(E);
        return false;
    }
}

void TFrmMain::LoadSettings()
{
    TOptionMarks Loaded = Marks();
    PrepareSettings(Loaded);
    Form->IgnoreMedia->setChecked(Loaded.IgnoreMedia);
    Form->TurnHintsOn->setChecked(Loaded.Hints);
    if (Form->TurnHintsOn->isChecked())
        ShowHints();
    else
        HideHints();
}

void TFrmMain::FormCreate()
{
    // The working folder comes first: a later step that fails must not leave the transfer
    // commands without one.
    Guarded([this] { WorkFolder = SetUpProgram(State, *this); });
    setWindowTitle("Marrowtide 1.6b");
    // Each step reports its own failure and the others still run: a clip that cannot be opened
    // only does not play, and without the settings or the drives every command would fail.
    Guarded([this] { Form->aniMakeDisk->SetFileName(State.ProgramDir + "/MakeDisk.avi"); });
    Guarded([this] { Form->aniMakeImage->SetFileName(State.ProgramDir + "/MakeImage.avi"); });
    Guarded([this] { LoadSettings(); });
    Guarded([this] { DiscoverDrives(); });
    // These cannot fail; a restore asked for on the command line still starts (or says why not).
    Form->Compressor->hide();
    Form->Compressor->lower();
    if (State.StartedWithFile == 1)
        tmrCommand.start();
}

TOptionMarks TFrmMain::Marks() const
{
    return {Form->IgnoreMedia->isChecked(), Form->TurnHintsOn->isChecked()};
}

void TFrmMain::btnMakeImageClick()
{
    if (ImagingCommands)
        ImagingCommands->btnMakeImageClick();
}

void TFrmMain::btnMakeDiskClick()
{
    if (ImagingCommands)
        ImagingCommands->btnMakeDiskClick();
}

void TFrmMain::btnExitClick()
{
    // Settings that cannot be saved (a damaged or read-only file) must not keep the user from
    // quitting: say so, then end all the same.
    try {
        SaveOptions(Marks());
    } catch (const EDamagedHive& Damaged) {
        // New settings made at Exit are saved too, or the next start counts this run as ended
        // out of order.
        if (OfferNewSettings(Damaged))
            Guarded([this] { SaveOptions(Marks()); });
    } catch (const std::exception& E) {
        ShowFailure(E);
    }
    CleanUpAndQuit();
}

void TFrmMain::CleanUpAndQuit()
{
    // Only ever in our own folder: without one there is nothing of ours to delete.
    if (State.WorkDirReady()) {
        DeleteFile(State.WorkDir + "/Rastrel2.exe");
        DeleteFile(State.WorkDir + "/Temp.del");
        DeleteFile(State.WorkDir + "/Status.dat");
    }
    Terminate();
}

void TFrmMain::Terminate()
{
    Quitting = true;
    State.Terminating = true;
    emit Quit();
}

void TFrmMain::closeEvent(QCloseEvent* Event)
{
    if (Quitting) {
        Event->accept();
        return;
    }
    if (Timer1.isActive()) {
        MessageBox("Please wait until the current action is complete.", "Can not close.",
                   TMsgButtons::OK, TQuestion::CloseGuard);
        Event->ignore();
        return;
    }
    // Closing the idle window is the Exit button.
    Event->ignore();
    Guarded([this] { btnExitClick(); });
}

bool TFrmMain::event(QEvent* Event)
{
    // On a screen with another pixel ratio the diskette is painted again, sharp there too.
    if (Event->type() == QEvent::ScreenChangeInternal)
        Form->Floppy->setPixmap(FloppyFor(*this));
    return QMainWindow::event(Event);
}

void TFrmMain::HintsOnOffClick()
{
    if (Form->TurnHintsOn->isChecked()) {
        Form->TurnHintsOn->setChecked(false);
        HideHints();
    } else {
        Form->TurnHintsOn->setChecked(true);
        ShowHints();
    }
}

void TFrmMain::ShowHints()
{
    Form->btnMakeImage->setToolTip("Write an image of a floppy disk to the hard drive or network.");
    Form->btnMakeDisk->setToolTip("Make a floppy disk from an image on the hard drive or network.");
    Form->btnExit->setToolTip("Exit the program.");
    HintsShown = true;
    UpdatePathTip();
}

void TFrmMain::HideHints()
{
    Form->btnMakeImage->setToolTip(QString());
    Form->btnMakeDisk->setToolTip(QString());
    Form->btnExit->setToolTip(QString());
    HintsShown = false;
    UpdatePathTip();
    setToolTip(QString());
}

void TFrmMain::IgnoreMediaClick()
{
    Form->IgnoreMedia->setChecked(!Form->IgnoreMedia->isChecked());
}

void TFrmMain::MenuDriveAClick()
{
    Form->MenuDriveB->setChecked(false);
    Form->MenuDriveA->setChecked(true);
    Form->rbDriveB->setChecked(false);
    Form->rbDriveA->setChecked(true);
    State.SelectedDrive = "A";
}

void TFrmMain::MenuDriveBClick()
{
    Form->MenuDriveA->setChecked(false);
    Form->MenuDriveB->setChecked(true);
    Form->rbDriveA->setChecked(false);
    Form->rbDriveB->setChecked(true);
    State.SelectedDrive = "B";
}

void TFrmMain::DiscoverDrives()
{
    Form->DriveComboBox1->clear();
    for (const std::string& Entry : DriveList())
        Form->DriveComboBox1->addItem(ToQString(Entry));
    // Only the letter and colon at the start count: a label holding "A" is no drive A:.
    auto Listed = [this](QChar Letter) {
        for (int i = 0; i < Form->DriveComboBox1->count(); ++i) {
            QString Entry = Form->DriveComboBox1->itemText(i);
            if (Entry.size() >= 2 && Entry[0].toUpper() == Letter && Entry[1] == ':')
                return true;
        }
        return false;
    };
    if (Listed('A')) {
        Form->MenuDriveA->setEnabled(true);
        Form->rbDriveA->setEnabled(true);
    }
    if (Listed('B')) {
        Form->MenuDriveB->setEnabled(true);
        Form->rbDriveB->setEnabled(true);
    }
    if (Form->MenuDriveA->isEnabled())
        MenuDriveAClick();
    else if (Form->MenuDriveB->isEnabled())
        MenuDriveBClick();
}

void TFrmMain::Help2Click()
{
    // The opener may try for seconds before it gives up; the window goes on meanwhile.
    const std::string Folder = State.ProgramDir + "help/";
    OpenDocument(this, Folder + "help.htm", [this, Folder] {
        ShowMessage("Cannot open the help in a web browser. It is the file\r\n" + Folder +
                    "help.htm");
    });
}

void TFrmMain::About1Click()
{
    if (AboutWindow) {
        AboutWindow->show();
        AboutWindow->raise();
    }
}

void TFrmMain::tmrCommandTimer()
{
    if (!isVisible())
        return;
    tmrCommand.stop();
    if (ImagingCommands)
        ImagingCommands->StartFromCommandLine();
}

QTimer& TFrmMain::Timer(TTimer Which)
{
    return Which == TTimer::Timer1 ? Timer1 : Which == TTimer::Timer3 ? Timer3 : tmrCommand;
}

// --- the imaging port ---

void TFrmMain::SetText(TLabel Label, const std::string& Text)
{
    QLabel* Target = Label == TLabel::Messages ? Form->Messages
                     : Label == TLabel::Status ? Form->Status
                                               : Form->Path;
    if (Label == TLabel::Path)
        ShowPath(Text);
    else
        Target->setText(ToQString(Text));
    Target->repaint();
}

void TFrmMain::ShowPath(const std::string& Text)
{
    // The drive box covers the label's right end: the text must end left of it.
    QLabel* Path = Form->Path;
    const int DriveBoxLeft = Form->GroupBox1->x() - Path->parentWidget()->x() - 4;
    const int Room = std::min(Path->width(), DriveBoxLeft - Path->x());
    const QString Shown = Elided(ToQString(Text), Path->fontMetrics(), Room);
    Path->setText(Shown);
    // A cut path is shown whole as the label's tooltip: the image's own path when the label
    // holds its shortened form.
    PathCutShort = Shown != ToQString(Text);
    WholePath = PathCutShort && ShortenPath(State.ImagePath) == Text ? State.ImagePath : Text;
    UpdatePathTip();
}

void TFrmMain::UpdatePathTip()
{
    Form->Path->setToolTip(PathCutShort ? ToQString(WholePath) : HintsShown ? ToQString(PathHint) : QString());
}

void TFrmMain::SetPathHint(const std::string& Hint)
{
    PathHint = Hint;
    UpdatePathTip();
}

void TFrmMain::SetGaugeMax(int Max) { Form->Gauge1->setMaximum(Max); }
int TFrmMain::GaugeMax() const { return Form->Gauge1->maximum(); }

void TFrmMain::SetGaugeProgress(int Progress)
{
    Form->Gauge1->setValue(std::clamp(Progress, Form->Gauge1->minimum(), Form->Gauge1->maximum()));
}

int TFrmMain::GaugeProgress() const { return Form->Gauge1->value(); }

void TFrmMain::SetGaugeShown(bool Shown)
{
    if (Shown)
        Form->Gauge1->raise();
    else
        Form->Gauge1->lower();
    Form->Gauge1->setVisible(Shown);
}

void TFrmMain::SetAnimationShown(TAnimation Animation, bool Shown)
{
    (Animation == TAnimation::MakeImage ? Form->aniMakeImage : Form->aniMakeDisk)->setVisible(Shown);
}

void TFrmMain::SetAnimationActive(TAnimation Animation, bool Active)
{
    (Animation == TAnimation::MakeImage ? Form->aniMakeImage : Form->aniMakeDisk)->SetActive(Active);
}

void TFrmMain::SetFloppyShown(bool Shown) { Form->Floppy->setVisible(Shown); }

void TFrmMain::SetCommandEnabled(TCommand Command, bool Enabled)
{
    switch (Command) {
    case TCommand::MakeImageButton: Form->btnMakeImage->setEnabled(Enabled); break;
    case TCommand::ExitButton: Form->btnExit->setEnabled(Enabled); break;
    case TCommand::MakeDiskButton: Form->btnMakeDisk->setEnabled(Enabled); break;
    case TCommand::MakeDiskMenu: Form->Makediskfromfile1->setEnabled(Enabled); break;
    case TCommand::SaveDiskMenu: Form->Savedisktofile1->setEnabled(Enabled); break;
    }
}

bool TFrmMain::DriveMenuChecked(char Letter) const
{
    return (Letter == 'B' ? Form->MenuDriveB : Form->MenuDriveA)->isChecked();
}

bool TFrmMain::DriveRadioChecked(char Letter) const
{
    return (Letter == 'B' ? Form->rbDriveB : Form->rbDriveA)->isChecked();
}

bool TFrmMain::IgnoreMediaChecked() const { return Form->IgnoreMedia->isChecked(); }

void TFrmMain::SetTimerEnabled(TTimer Which, bool Enabled)
{
    if (Enabled)
        Timer(Which).start();
    else
        Timer(Which).stop();
}

bool TFrmMain::TimerEnabled(TTimer Which) const
{
    return const_cast<TFrmMain*>(this)->Timer(Which).isActive();
}

void TFrmMain::SetTimerInterval(TTimer Which, int Milliseconds)
{
    // Setting the interval of a running timer restarts its count, as on Windows.
    Timer(Which).setInterval(Milliseconds);
}

TLzrw1Host& TFrmMain::CompressorHost() { return *Form->Compressor; }

void TFrmMain::SetCompressorShown(bool Shown)
{
    if (Shown)
        Form->Compressor->raise();
    else
        Form->Compressor->lower();
    Form->Compressor->setVisible(Shown);
}

bool TFrmMain::FileDialog(TFileDialog& Dialog, bool Save)
{
    QFileDialog Box(this);
    Box.setObjectName(Save ? "SaveDialog1" : "OpenDialog1");
    Box.setOption(QFileDialog::DontUseNativeDialog);
    Box.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Neither dialog asks about existing files nor insists on them.
    Box.setFileMode(QFileDialog::AnyFile);
    Box.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList Filters = FilterList(Dialog.Filter);
    Box.setNameFilters(Filters);
    if (Dialog.FilterIndex >= 1 && Dialog.FilterIndex <= Filters.size())
        Box.selectNameFilter(Filters[Dialog.FilterIndex - 1]);
    QString Ext = ToQString(Dialog.DefaultExt);
    if (Ext.startsWith('.'))
        Ext.remove(0, 1);
    Box.setDefaultSuffix(Ext);
    if (!Dialog.InitialDir.empty())
        Box.setDirectory(ToQString(Dialog.InitialDir));
    if (!Dialog.FileName.empty())
        Box.selectFile(ToQString(Dialog.FileName.substr(Dialog.FileName.find_last_of('/') + 1)));
    if (Box.exec() != QDialog::Accepted || Box.selectedFiles().isEmpty())
        return false;
    Dialog.FileName = ToStdString(Box.selectedFiles().first());
    Dialog.FilterIndex = static_cast<int>(Filters.indexOf(Box.selectedNameFilter())) + 1;
    return true;
}

bool TFrmMain::SaveDialog(TFileDialog& Dialog) { return FileDialog(Dialog, true); }
bool TFrmMain::OpenDialog(TFileDialog& Dialog) { return FileDialog(Dialog, false); }

TModalResult TFrmMain::ShowConvertDialog(const std::string& Heading,
                                         const std::vector<std::string>& Lines)
{
    return ConvertDialog ? ConvertDialog->Ask(Heading, Lines) : TModalResult::Cancel;
}

TModalResult TFrmMain::MessageBox(const std::string& Text, const std::string& Caption,
                                  TMsgButtons Buttons, TQuestion Kind)
{
    QMessageBox Box(QMessageBox::NoIcon, ToQString(Caption), DisplayText(Text), ButtonsOf(Buttons),
                    BoxParent(this));
    Box.setObjectName(BoxName(Kind));
    ArrangeBox(Box);
    return RunBox(Box);
}

TModalResult TFrmMain::MessageDlg(const std::string& Text, TMsgDlgType Type, TMsgButtons Buttons,
                                  const std::string& Detail, TQuestion Kind)
{
    QMessageBox::Icon Icon = QMessageBox::Information;
    const char* Caption = "Information";
    switch (Type) {
    case TMsgDlgType::Warning: Icon = QMessageBox::Warning; Caption = "Warning"; break;
    case TMsgDlgType::Error: Icon = QMessageBox::Critical; Caption = "Error"; break;
    case TMsgDlgType::Confirmation: Icon = QMessageBox::Question; Caption = "Confirm"; break;
    default: break;
    }
    QMessageBox Box(Icon, Caption, DisplayText(Text), ButtonsOf(Buttons), BoxParent(this));
    Box.setObjectName(BoxName(Kind));
    if (!Detail.empty())
        Box.setDetailedText(DisplayText(Detail));
    ArrangeBox(Box);
    return RunBox(Box);
}

void TFrmMain::ShowErrorBox(const std::string& Message) { ::ShowErrorBox(this, Message); }

void TFrmMain::ShowMessage(const std::string& Text)
{
    QMessageBox Box(QMessageBox::NoIcon, ApplicationTitle, DisplayText(Text), QMessageBox::Ok,
                    BoxParent(this));
    ArrangeBox(Box);
    Box.exec();
}
