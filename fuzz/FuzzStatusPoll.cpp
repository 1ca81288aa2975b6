// The poller of a read run on arbitrary Status.dat contents: the real TImaging ticks Timer1
// over a working folder where the helper is running (working.dat), has just reported
// (check.dat), and wrote the fuzz bytes as its progress. No helper process is involved.
// A text that is no number is the poller's EConvertError and leaves check.dat for the next
// tick; a number moves the gauge, within its range, and takes check.dat away.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "imaging/Imaging.h"
#include "platform/Files.h"

namespace {

class TQuietHost : public TLzrw1Host {
public:
    bool Visible() const override { return false; }
    void SetCaption(const std::string&) override {}
    void Repaint() override {}
    void ProcessMessages() override {}
};

// The window as the poller sees it: gauge and timers kept, every dialog answered OK.
class TMinimalPort : public TImagingPort {
public:
    int Gauge = 0;
    int Dialogs = 0;

    void SetText(TLabel, const std::string&) override {}
    void SetPathHint(const std::string&) override {}
    void SetGaugeMax(int) override {}
    int GaugeMax() const override { return 80; }
    void SetGaugeProgress(int Progress) override { Gauge = Progress; }
    int GaugeProgress() const override { return Gauge; }
    void SetGaugeShown(bool) override {}
    void SetAnimationShown(TAnimation, bool) override {}
    void SetAnimationActive(TAnimation, bool) override {}
    void SetFloppyShown(bool) override {}
    void SetCommandEnabled(TCommand, bool) override {}
    bool DriveMenuChecked(char) const override { return false; }
    bool DriveRadioChecked(char Letter) const override { return Letter == 'A'; }
    bool IgnoreMediaChecked() const override { return false; }
    void SetTimerEnabled(TTimer Timer, bool Enabled) override { Timers[Timer] = Enabled; }
    bool TimerEnabled(TTimer Timer) const override
    {
        const auto Found = Timers.find(Timer);
        return Found != Timers.end() && Found->second;
    }
    void SetTimerInterval(TTimer, int) override {}
    TLzrw1Host& CompressorHost() override { return Host; }
    void SetCompressorShown(bool) override {}
    bool SaveDialog(TFileDialog&) override { return false; }
    bool OpenDialog(TFileDialog&) override { return false; }
    TModalResult ShowConvertDialog(const std::string&, const std::vector<std::string>&) override
    {
        return TModalResult::Cancel;
    }
    TModalResult MessageBox(const std::string&, const std::string&, TMsgButtons) override
    {
        ++Dialogs;
        return TModalResult::OK;
    }
    TModalResult MessageDlg(const std::string&, TMsgDlgType, TMsgButtons, const std::string&) override
    {
        ++Dialogs;
        return TModalResult::OK;
    }
    void ShowMessage(const std::string&) override { ++Dialogs; }
    void ShowErrorBox(const std::string&) override { ++Dialogs; }
    void Terminate() override {}

private:
    TQuietHost Host;
    std::map<TTimer, bool> Timers;
};

void WriteFile(const std::string& Path, const uint8_t* Data, size_t Size)
{
    std::ofstream(Path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(Data), std::streamsize(Size));
}

[[noreturn]] void Fail(const char* What, int Value)
{
    std::fprintf(stderr, "%s (%d)\n", What, Value);
    std::abort();
}

struct TSetting {
    std::string WorkDir;
    TProgramState State;
    TMinimalPort Port;
    TImaging Imaging{State, Port};

    TSetting()
    {
        const char* Temp = std::getenv("TMPDIR");
        std::string Template = std::string(Temp && *Temp ? Temp : "/tmp") + "/fuzz-status-XXXXXX";
        if (!::mkdtemp(Template.data()))
            Fail("no temporary folder", 0);
        WorkDir = Template;
        State.WorkDir = WorkDir + "/";
        State.ReadingDisk = true;
        State.CurrentOperation = TCurrentOperation::MakingImage;
    }
    ~TSetting()
    {
        std::error_code Ignored;
        std::filesystem::remove_all(WorkDir, Ignored);
    }

    static TSetting& Setting()
    {
        static TSetting Instance;
        return Instance;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    TSetting& S = TSetting::Setting();
    const std::string Work = S.State.WorkDir;
    WriteFile(Work + "Status.dat", Data, Size);
    WriteFile(Work + "check.dat", nullptr, 0);
    WriteFile(Work + "working.dat", nullptr, 0);
    S.State.HelperPid = -1;
    S.Port.Gauge = -1;
    S.Port.SetTimerEnabled(TTimer::Timer1, true);

    bool Refused = false;
    try {
        S.Imaging.Timer1Timer();
    } catch (const EConvertError&) {
        Refused = true;
    }
    if (!S.Port.TimerEnabled(TTimer::Timer1))
        Fail("the poll ended a run that is still going", 0);
    if (S.Port.Dialogs != 0)
        Fail("the poll showed a dialog", S.Port.Dialogs);
    const bool CheckStays = FileExists(Work + "check.dat");
    if (Refused != CheckStays)
        Fail("check.dat is left exactly when the progress is no number", Refused);
    if (!Refused && (S.Port.Gauge < 0 || S.Port.Gauge > S.Port.GaugeMax()))
        Fail("the gauge is outside its range", S.Port.Gauge);
    return 0;
}
