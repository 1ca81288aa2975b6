#include "helper/FloppyGeometry.h"

#include "helper/Transfer.h"
#include "platform/FileHandle.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::string ErrnoText(int Error)
{
    return std::strerror(Error);
}

int Request(int Fd, unsigned long Code, void* Argument)
{
    int Result;
    do
        Result = ::ioctl(Fd, Code, Argument);
    while (Result != 0 && errno == EINTR);
    return Result == 0 ? 0 : errno;
}

class TKernelFloppyDriver : public TFloppyDriver {
public:
    TKernelFloppyDriver(int Fd, bool CanWrite) : Fd(Fd), CanWrite(CanWrite) {}

    int GetDrive(TFloppyDrive& Drive) override
    {
        floppy_drive_params Params{};
        floppy_drive_struct State{};
        struct stat Info {};
        if (const int Error = Request(Fd, FDGETDRVPRM, &Params))
            return Error;
        if (const int Error = Request(Fd, FDGETDRVSTAT, &State))
            return Error;
        if (::fstat(Fd, &Info) != 0)
            return errno;
        Drive.Tracks = Params.tracks;
        Drive.Rotations = Params.rps;
        Drive.MaxRate = Params.max_dtr;
        Drive.KeepData = State.keep_data;
        // The minor of /dev/fd0u1440 and its kind carries the format from bit 2 on.
        Drive.FixedFormat = ((::minor(Info.st_rdev) >> 2) & 0x1f) != 0;
        return 0;
    }
    int GetGeometry(floppy_struct& Geometry) override
    {
        const int Error = Request(Fd, FDGETPRM, &Geometry);
        Geometry.name = nullptr;  // the driver's, not ours to hand back
        return Error;
    }
    int SetGeometry(const floppy_struct& Geometry, bool AsDefault) override
    {
        floppy_struct Copy = Geometry;
        return Control(AsDefault ? FDDEFPRM : FDSETPRM, &Copy);
    }
    int ClearGeometry() override { return Control(FDCLRPRM, nullptr); }
    int Flush() override { return Control(FDFLUSH, nullptr); }

private:
    // The driver takes changes only through a descriptor that may write. Access mode 3 opens
    // one for control requests alone, and O_NONBLOCK spares it the diskette checks of an open
    // (a write-protected diskette is still read).
    int Control(unsigned long Code, void* Argument)
    {
        if (CanWrite)
            return Request(Fd, Code, Argument);
        if (!ControlFd.Valid()) {
            const std::string Self = "/proc/self/fd/" + std::to_string(Fd);
            ControlFd.Reset(::open(Self.c_str(), 3 | O_NONBLOCK | O_CLOEXEC));
            if (!ControlFd.Valid())
                return errno;
        }
        return Request(ControlFd.Get(), Code, Argument);
    }

    int Fd;
    bool CanWrite;
    TFileHandle ControlFd;
};

unsigned long KbitPerSecond(unsigned Rate)
{
    static constexpr unsigned long Rates[] = {500, 300, 250, 1000};
    return Rates[Rate & 3];
}

// Whether the driver reads the same sectors at the same places with either geometry; the gaps
// matter only when formatting.
bool SameLayout(const floppy_struct& A, const floppy_struct& B)
{
    return A.size == B.size && A.sect == B.sect && A.head == B.head && A.track == B.track && A.stretch == B.stretch &&
           A.rate == B.rate;
}

}  // namespace

std::unique_ptr<TFloppyDriver> KernelFloppyDriver(int Fd, bool CanWrite)
{
    return std::make_unique<TKernelFloppyDriver>(Fd, CanWrite);
}

floppy_struct FloppyGeometryOf(const TFormatRow& Format, const TFloppyDrive& Drive)
{
    floppy_struct Geometry{};
    Geometry.size = static_cast<unsigned>(Format.MediumSectors());
    Geometry.sect = static_cast<unsigned>(Format.Sectors);
    Geometry.head = static_cast<unsigned>(Format.Sides);
    Geometry.track = static_cast<unsigned>(Format.Cylinders);
    // An 80-track drive steps twice for each track of a 40-track diskette.
    Geometry.stretch = Drive.Tracks >= 2 * Geometry.track ? FD_STRETCH : 0;
    Geometry.gap = Format.Timing.Gap;
    Geometry.rate = Format.Timing.Rate;
    Geometry.spec1 = Format.Timing.Spec1;
    Geometry.fmt_gap = Format.Timing.FormatGap;
    // A 360 rpm drive spins a double-density track past its head a fifth faster than the drive
    // made for it: the bits come at 300 kbit/s, and the gap is counted in fewer bytes.
    if (Drive.Rotations == 6 && Format.Timing.Rate == 2) {
        Geometry.rate = 1;
        Geometry.gap = 0x23;
    }
    return Geometry;
}

std::unique_ptr<TFloppyGeometry> TFloppyGeometry::Set(std::unique_ptr<TFloppyDriver> Driver, unsigned FormatIndex,
                                                      const std::string& Name)
{
    TFloppyDrive Drive;
    if (!IsKnownFormat(FormatIndex, true) || Driver->GetDrive(Drive) != 0)
        return nullptr;
    const TFormatRow& Format = FormatTable[FormatIndex];
    const std::string FormatName(Format.FormatName);
    floppy_struct Current{};
    const int Unknown = Driver->GetGeometry(Current);
    if (Unknown != 0 && Unknown != ENODEV)
        throw ETransferError(Name + " does not tell the geometry of its diskette: " + ErrnoText(Unknown));
    const floppy_struct Wanted = FloppyGeometryOf(Format, Drive);
    if (Unknown == 0 && SameLayout(Current, Wanted))
        return nullptr;

    if (Drive.FixedFormat)
        throw ETransferError(Name + " stands for one fixed format, which is not " + FormatName +
                             "; give the drive's own device (such as /dev/fd0)");
    if (static_cast<unsigned>(Format.Cylinders) > Drive.Tracks || KbitPerSecond(Wanted.rate) > Drive.MaxRate)
        throw ETransferError(Name + " cannot take " + FormatName + " diskettes");
    if (const int Error = Driver->SetGeometry(Wanted, false))
        throw ETransferError(Name + " cannot be set to the " + FormatName + " format: " + ErrnoText(Error));
    std::unique_ptr<TFloppyGeometry> Geometry(new TFloppyGeometry(
        std::move(Driver), Name + " keeps the " + FormatName + " geometry until its diskette is changed",
        Drive.KeepData, Unknown == 0 ? &Current : nullptr));
    // Sectors cached under the old geometry must go, and the device takes its new size.
    if (const int Error = Geometry->Driver->Flush())
        throw ETransferError(Name + " cannot be set to the " + FormatName + " format: " + ErrnoText(Error));
    return Geometry;
}

TFloppyGeometry::TFloppyGeometry(std::unique_ptr<TFloppyDriver> Driver, std::string Kept, int KeepData,
                                 const floppy_struct* Previous)
    : Driver(std::move(Driver)), Kept(std::move(Kept)), KeepData(KeepData), HadGeometry(Previous != nullptr)
{
    if (Previous)
        this->Previous = *Previous;
}

TFloppyGeometry::~TFloppyGeometry()
{
    if (const int Error = Restore())
        std::cerr << "Rastrel2: " << Kept << ": " << ErrnoText(Error) << '\n';
}

int TFloppyGeometry::Restore()
{
    if (Restored)
        return 0;
    Restored = true;
    if (KeepData == 0 || !HadGeometry)
        return Driver->ClearGeometry();
    if (const int Error = Driver->SetGeometry(Previous, KeepData < 0))
        return Error;
    return Driver->Flush();
}
