// Drive letters. A: and B: (or any letter) can name a block device or an image file (a virtual
// diskette) through the drive table, symbolic links ConfigDir()/dosdevices/a: ... z:. Without an
// entry, A: and B: are the machine's floppy drives when it has them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ConfigDir() + "dosdevices/".
std::string DriveTableDir();

// The drive table's entry for Letter (either case): the file or device its link leads to, a
// relative link taken from the link's own folder as the file system takes it; "" without one.
// Every reader of the drive table goes through here.
std::string DriveTableEntry(char Letter);

// Points Letter at Target (made absolute), replacing an entry. Throws EAPIException with a
// clear text when the letter is not A..Z or the link cannot be made.
void SetDriveTableEntry(char Letter, const std::string& Target);

// Removes Letter's entry; true when there was one.
bool ClearDriveTableEntry(char Letter);

// The machine's floppy drives in the order A:, B: take them: /dev/fd0, /dev/fd1 when present,
// then USB floppy drives (usb-storage, interface class 08 subclass 04) as /dev/sdX.
std::vector<std::string> DetectedFloppyDrives();

// DetectedFloppyDrives over another device folder and sysfs tree (for tests).
std::vector<std::string> DetectFloppyDrives(const std::string& DevRoot, const std::string& SysRoot);

// What Letter stands for: its table entry, else for A: and B: the first and second detected
// floppy drive; "" when it stands for nothing.
std::string DriveTarget(char Letter);

// The drive list as the system's drive list control presents it: one entry per drive letter
// with a target, in letter order, each "x:" (lower case) followed by " [target]".
std::vector<std::string> DriveList();

// The loop device ("/dev/loop0") whose backing file is the file with this device and inode
// number, "" when no loop device uses it. SysRoot is "/sys" but for tests.
std::string LoopDeviceBackedBy(uint64_t Device, uint64_t Inode,
                               const std::string& SysRoot = "/sys");

// The total size of the FAT volume on Target, as Windows reports it for a drive: data clusters
// times cluster size, from the boot sector's parameter block. -1 when the target is missing,
// holds no medium, cannot be read, or its first sector is no valid FAT boot sector.
int64_t VolumeSizeOfTarget(const std::string& Target);

struct TBootParameters;
// The FAT parameter block in Target's first sector; false when there is none.
bool BootParametersOfTarget(const std::string& Target, TBootParameters& P);

// What Target holds, looked at below its file system.
struct TMediumProbe {
    enum TKind {
        Missing,     // no such file or device
        NoMedium,    // it cannot be opened, or the drive is empty
        Unreadable,  // its first sector cannot be read (an unformatted diskette)
        Readable,
    } Kind = Missing;
    bool BlockDevice = false;
    int64_t Bytes = -1;  // the file's or the device's size
};
TMediumProbe ProbeMedium(const std::string& Target);

// VolumeSizeOfTarget of DriveTarget(Letter); -1 for a letter that stands for nothing.
int64_t VolumeSize(char Letter);
