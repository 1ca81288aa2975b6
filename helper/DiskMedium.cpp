#include "helper/DiskMedium.h"

#include "platform/Drives.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string ErrnoText(int Error) { return std::strerror(Error); }

}  // namespace

std::unique_ptr<TDiskMedium> TDiskMedium::Open(const std::string& Target, char Letter,
                                               bool ForWriting, uint8_t FormatIndex)
{
    const std::string Drive = std::string("drive ") + Letter + ": (" + Target + ")";
    const std::string NoDisk = std::string("there is no diskette in drive ") + Letter + ": (" +
                               Target + ")";
    const std::string Protected = std::string("the diskette in drive ") + Letter + ": (" +
                                  Target + ") is write-protected";

    struct stat Before {};
    if (::stat(Target.c_str(), &Before) != 0)
        throw ETransferError(errno == ENOENT ? Drive + " does not exist"
                                             : Drive + " cannot be opened: " + ErrnoText(errno));
    const bool Block = S_ISBLK(Before.st_mode);
    if (!Block && !S_ISREG(Before.st_mode))
        throw ETransferError(Drive + " is neither a diskette drive nor an image file");
    // Root may open a file without write permission: its mode still marks the image read-only.
    if (ForWriting && !Block && (Before.st_mode & 0222) == 0)
        throw ETransferError(Protected);

    int Flags = O_CLOEXEC | O_NOCTTY | (ForWriting ? O_RDWR : O_RDONLY);
    if (Block && ForWriting)
        Flags |= O_EXCL;  // fails with EBUSY while the device is mounted or held exclusively
    if (!Block)
        Flags |= O_NONBLOCK;  // never hang should the path turn into a FIFO meanwhile
    int Fd;
    do
        Fd = ::open(Target.c_str(), Flags);
    while (Fd < 0 && errno == EINTR);
    if (Fd < 0) {
        const int Error = errno;
        if (Error == ENOMEDIUM || Error == ENXIO)
            throw ETransferError(NoDisk);
        if (ForWriting && (Error == EROFS || Error == EACCES || Error == EPERM))
            throw ETransferError(Protected);
        if (ForWriting && Block && Error == EBUSY)
            throw ETransferError(Drive + " is in use (mounted?); a diskette in use is not written");
        throw ETransferError(Drive + " cannot be opened: " + ErrnoText(Error));
    }
    TFileHandle File(Fd);

    struct stat After {};
    if (::fstat(Fd, &After) != 0)
        throw ETransferError(Drive + " cannot be opened: " + ErrnoText(errno));
    if ((After.st_mode & S_IFMT) != (Before.st_mode & S_IFMT) ||
        (Block && After.st_rdev != Before.st_rdev))
        throw ETransferError(Drive + " changed while it was being opened");
    if (!Block)
        ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
    // The lock belongs to the open file: a helper left running after its program ended keeps it.
    if (!Block && ::flock(Fd, (ForWriting ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            throw ETransferError(Drive + (ForWriting ? " is in use by another run; a diskette in "
                                                       "use is not written"
                                                     : " is being written by another run; a "
                                                       "diskette in use is not read"));
        throw ETransferError(Drive + " cannot be locked: " + ErrnoText(errno));
    }
    // An image file that backs a loop device is in use like a mounted diskette: writing under
    // the mount corrupts both, and the mount writes its own view back later.
    if (ForWriting && !Block) {
        const std::string Loop = LoopDeviceBackedBy(After.st_dev, After.st_ino);
        if (!Loop.empty())
            throw ETransferError(Drive + " backs the loop device " + Loop +
                                 "; a diskette in use is not written");
    }

    // Before the device is measured: its size follows the geometry.
    std::unique_ptr<TFloppyGeometry> Geometry;
    if (Block)
        Geometry = TFloppyGeometry::Set(KernelFloppyDriver(Fd, ForWriting), FormatIndex, Drive);

    int64_t Size = After.st_size;
    if (Block) {
        uint64_t Bytes = 0;
        if (::ioctl(Fd, BLKGETSIZE64, &Bytes) != 0) {
            const int Error = errno;
            if (Error == ENOMEDIUM || Error == ENXIO)
                throw ETransferError(NoDisk);
            throw ETransferError(Drive + " cannot be measured: " + ErrnoText(Error));
        }
        Size = Bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(Bytes);
        int ReadOnly = 0;
        if (ForWriting && ::ioctl(Fd, BLKROGET, &ReadOnly) == 0 && ReadOnly)
            throw ETransferError(Protected);
    }
    if (Size == 0)
        throw ETransferError(NoDisk);
    // Never the wrong disk: whatever is larger than a 2.88MB diskette is no diskette.
    if (Size > LargestDiskBytes)
        throw ETransferError(Drive + " holds " + std::to_string(Size) +
                             " bytes, more than any diskette; it is refused");

    std::unique_ptr<TDiskMedium> Medium(
        new TDiskMedium(std::move(File), Size, Block, Target, std::move(Geometry)));
    Medium->DropCache();
    return Medium;
}

TDiskMedium::TDiskMedium(TFileHandle Fd, int64_t Size, bool BlockDevice, std::string Target,
                         std::unique_ptr<TFloppyGeometry> Geometry)
    : Fd(std::move(Fd)), Size(Size), BlockDevice(BlockDevice), Target(std::move(Target)),
      Geometry(std::move(Geometry))
{
}

TDiskMedium::~TDiskMedium()
{
    // What a failed write left in the cache goes out under the geometry it was written with.
    if (Geometry)
        ::fsync(Fd.Get());
}

namespace {

// Repeats Step (one pread or pwrite of the bytes from Done on) until Length bytes have moved;
// Short is the reason when a step moves nothing.
template <typename TStep>
void MoveAll(size_t Length, TStep Step, const std::string& Short)
{
    size_t Done = 0;
    while (Done < Length) {
        const ssize_t N = Step(Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0)
            throw EMediumError(ErrnoText(errno));
        if (N == 0)
            throw EMediumError(Short);
        Done += static_cast<size_t>(N);
    }
}

} // namespace

void TDiskMedium::CheckRange(int64_t Offset, size_t Length) const
{
    // A virtual diskette has a fixed size: never read past it, never make the file longer.
    if (Offset < 0 || Offset > Size || static_cast<int64_t>(Length) > Size - Offset)
        throw EMediumError("it lies beyond the end of the diskette");
}

void TDiskMedium::Read(int64_t Offset, std::span<uint8_t> Data)
{
    CheckRange(Offset, Data.size());
    MoveAll(Data.size(), [&](size_t Done) {
        return ::pread(Fd.Get(), Data.data() + Done, Data.size() - Done, Offset + static_cast<int64_t>(Done));
    }, "the diskette ended early");
}

void TDiskMedium::Write(int64_t Offset, std::span<const uint8_t> Data)
{
    CheckRange(Offset, Data.size());
    MoveAll(Data.size(), [&](size_t Done) {
        return ::pwrite(Fd.Get(), Data.data() + Done, Data.size() - Done, Offset + static_cast<int64_t>(Done));
    }, ErrnoText(EIO));
}

void TDiskMedium::Flush()
{
    int Result;
    do
        Result = ::fsync(Fd.Get());
    while (Result != 0 && errno == EINTR);
    if (Result != 0)
        throw EMediumError(ErrnoText(errno));
    struct stat Open {}, Named {};
    if (!BlockDevice && (::fstat(Fd.Get(), &Open) != 0 || Open.st_nlink == 0 ||
                         ::stat(Target.c_str(), &Named) != 0 || Named.st_dev != Open.st_dev ||
                         Named.st_ino != Open.st_ino))
        throw EMediumError("the image file " + Target +
                           " was removed or replaced while it was being written");
    DropCache();
}

int TDiskMedium::DirectFd()
{
    if (DirectTried)
        return Direct.Get();
    DirectTried = true;
    int LogicalSector = 0;
    if (!BlockDevice || ::ioctl(Fd.Get(), BLKSSZGET, &LogicalSector) != 0 ||
        LogicalSector != SectorBytes)
        return -1;
    // Opened anew through our own descriptor: the very device Open checked.
    const std::string Self = "/proc/self/fd/" + std::to_string(Fd.Get());
    Direct = TFileHandle(::open(Self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC));
    return Direct.Get();
}

void TDiskMedium::ReadSector(int64_t Offset, std::span<uint8_t> Data)
{
    CheckRange(Offset, Data.size());
    const int Device = Data.size() == sizeof Aligned ? DirectFd() : -1;
    if (Device < 0) {
        if (BlockDevice)
            DropCache();
        Read(Offset, Data);
        return;
    }
    MoveAll(Data.size(), [&](size_t Done) {
        return ::pread(Device, Aligned + Done, Data.size() - Done, Offset + int64_t(Done));
    }, "the diskette ended early");
    std::memcpy(Data.data(), Aligned, Data.size());
}

void TDiskMedium::MoveHeadAway(int64_t Offset)
{
    if (!BlockDevice || Size < 2 * SectorBytes)
        return;
    const int64_t Far = Offset < Size / 2 ? Size - SectorBytes : 0;
    uint8_t Sector[SectorBytes];
    try {
        ReadSector(Far, Sector);
    } catch (const EMediumError&) {
        // Where the head went matters, not what it read there.
    }
}

void TDiskMedium::DropCache()
{
    // BLKFLSBUF needs privileges; without them the advice alone still drops clean pages.
    if (BlockDevice)
        ::ioctl(Fd.Get(), BLKFLSBUF, 0);
    ::posix_fadvise(Fd.Get(), 0, 0, POSIX_FADV_DONTNEED);
}
