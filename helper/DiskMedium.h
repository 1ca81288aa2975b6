// The real medium: a floppy block device or an image file (a virtual diskette).
#pragma once

#include "core/FormatTable.h"
#include "helper/FloppyGeometry.h"
#include "helper/Transfer.h"
#include "platform/FileHandle.h"

#include <memory>
#include <string>

class TDiskMedium : public TMedium {
public:
    // Opens Target, the drive Letter stands for. A block device is opened exclusively when
    // writing (a mounted diskette is refused); an image file is locked for as long as the medium
    // is open, shared for reading and exclusively for writing (a file another run writes, or
    // reads while this one would write, is refused). A device or file larger than any diskette,
    // one without a medium, and a write-protected one are refused. A floppy drive is set to
    // the geometry of FormatIndex (a row of the format table) for as long as the medium is
    // open, when its driver does not read that format already. Throws ETransferError.
    static std::unique_ptr<TDiskMedium> Open(const std::string& Target, char Letter,
                                             bool ForWriting,
                                             uint8_t FormatIndex = UnknownFormatIndex);
    ~TDiskMedium() override;

    int64_t Capacity() const override { return Size; }
    void Read(int64_t Offset, std::span<uint8_t> Data) override;
    void Write(int64_t Offset, std::span<const uint8_t> Data) override;
    // An image file must still be the file under its name: one removed or renamed over while
    // it was written fails the run.
    void Flush() override;
    // On a block device each sector is read past the page cache (O_DIRECT), so the drive answers
    // for that sector alone; an image file answers per read anyway.
    void ReadSector(int64_t Offset, std::span<uint8_t> Data) override;
    // A read far from Offset (at the other end of the diskette) moves a drive's head; only done
    // on block devices, where there is a head.
    void MoveHeadAway(int64_t Offset) override;

private:
    TDiskMedium(TFileHandle Fd, int64_t Size, bool BlockDevice, std::string Target,
                std::unique_ptr<TFloppyGeometry> Geometry);
    // Length bytes at Offset lie on the diskette, else EMediumError.
    void CheckRange(int64_t Offset, size_t Length) const;
    // Asks the kernel to forget its cached copy, so that the next Read reaches the medium.
    void DropCache();
    // A descriptor opened with O_DIRECT on a block device of 512-byte sectors, or -1 (single
    // sectors are then read through Fd after the cache was dropped).
    int DirectFd();

    TFileHandle Fd;
    int64_t Size;
    bool BlockDevice;
    std::string Target;
    TFileHandle Direct;
    bool DirectTried = false;
    // Where O_DIRECT reads land: aligned as the device needs.
    alignas(4096) uint8_t Aligned[SectorBytes];
    // Last, so that it restores the drive while Fd is still open.
    std::unique_ptr<TFloppyGeometry> Geometry;
};
