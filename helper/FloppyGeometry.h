// The kernel floppy driver's geometry for one run. The driver finds the common formats by
// itself when a diskette comes in; a 1.68MB or 1.72MB diskette, or a 40-track one in an 80-track
// drive, it takes for another format unless it is told the geometry first.
#pragma once

#include "core/FormatTable.h"

#include <linux/fd.h>
#include <memory>
#include <string>

// What the driver tells of the drive itself.
struct TFloppyDrive {
    unsigned Tracks = 0;        // the drive's own: 40, or 80 and more
    unsigned Rotations = 5;     // per second: 6 in a 5.25" high-density drive
    unsigned long MaxRate = 0;  // kbit/s
    int KeepData = 0;           // 0: the geometry is the driver's own guess; 1 or -1: set by hand
    bool FixedFormat = false;   // a device node of one format (/dev/fd0u1440), not /dev/fd0
};

// The driver requests the geometry needs; each returns 0 or an errno value.
class TFloppyDriver {
public:
    virtual ~TFloppyDriver() = default;
    virtual int GetDrive(TFloppyDrive& Drive) = 0;         // fails on anything but a floppy drive
    virtual int GetGeometry(floppy_struct& Geometry) = 0;  // ENODEV: the driver knows none
    // For the diskette in the drive, or AsDefault also for the ones after it.
    virtual int SetGeometry(const floppy_struct& Geometry, bool AsDefault) = 0;
    virtual int ClearGeometry() = 0;  // back to the driver's own guess
    virtual int Flush() = 0;          // forget cached sectors, take the new size
};

// The requests on the descriptor Fd of a block device; the ones that change the geometry go
// through Fd when CanWrite, else through a second, control-only descriptor on the device.
std::unique_ptr<TFloppyDriver> KernelFloppyDriver(int Fd, bool CanWrite);

// The driver's geometry for Format in Drive.
floppy_struct FloppyGeometryOf(const TFormatRow& Format, const TFloppyDrive& Drive);

// The geometry of a format set for as long as the object lives; what the driver had before is
// put back when it ends.
class TFloppyGeometry {
public:
    // Sets the geometry of FormatIndex (a row of the format table). Nothing happens (null) on a
    // device that is no floppy drive, for the unknown format, or when the driver already has
    // that geometry. Name names the drive in errors ("drive A: (/dev/fd0)"). Throws
    // ETransferError.
    static std::unique_ptr<TFloppyGeometry> Set(std::unique_ptr<TFloppyDriver> Driver, unsigned FormatIndex,
                                                const std::string& Name);
    // Restores; a failure is only reported on standard error (the next diskette change clears
    // the geometry anyway).
    ~TFloppyGeometry();
    TFloppyGeometry(const TFloppyGeometry&) = delete;
    TFloppyGeometry& operator=(const TFloppyGeometry&) = delete;

    // Puts back what the driver had: the geometry set by hand, or its own guess. 0 or errno.
    int Restore();

private:
    TFloppyGeometry(std::unique_ptr<TFloppyDriver> Driver, std::string Kept, int KeepData,
                    const floppy_struct* Previous);

    std::unique_ptr<TFloppyDriver> Driver;
    std::string Kept;  // what a failed restore leaves, for its message
    int KeepData;
    bool HadGeometry;
    floppy_struct Previous{};
    bool Restored = false;
};
