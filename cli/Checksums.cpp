#include "cli/Checksums.h"

#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

std::string Hex(const unsigned char* Bytes, size_t Count)
{
    static const char Digits[] = "0123456789abcdef";
    std::string Text;
    for (size_t i = 0; i < Count; ++i) {
        Text += Digits[Bytes[i] >> 4];
        Text += Digits[Bytes[i] & 15];
    }
    return Text;
}

}  // namespace

// A small library for the digests: the tool starts anew for every command, and loading a large
// one doubled the time it took to start.
struct TChecksummer::TDigests {
    uLong Crc = crc32(0L, Z_NULL, 0);
    md5_ctx Md5;
    sha1_ctx Sha1;
    sha256_ctx Sha256;
};

TChecksummer::TChecksummer() : Digests(std::make_unique<TDigests>())
{
    md5_init(&Digests->Md5);
    sha1_init(&Digests->Sha1);
    sha256_init(&Digests->Sha256);
}

TChecksummer::~TChecksummer() = default;

void TChecksummer::Add(const void* Bytes, size_t Count)
{
    const auto* Data = static_cast<const Bytef*>(Bytes);
    // zlib counts in uInt: feed it in pieces it can take.
    for (size_t Done = 0; Done < Count;) {
        const uInt Piece = uInt(std::min<size_t>(Count - Done, std::numeric_limits<uInt>::max()));
        Digests->Crc = crc32(Digests->Crc, Data + Done, Piece);
        Done += Piece;
    }
    md5_update(&Digests->Md5, Count, Data);
    sha1_update(&Digests->Sha1, Count, Data);
    sha256_update(&Digests->Sha256, Count, Data);
}

TChecksums TChecksummer::Finish()
{
    const unsigned char Crc[4] = {uint8_t(Digests->Crc >> 24), uint8_t(Digests->Crc >> 16),
                                  uint8_t(Digests->Crc >> 8), uint8_t(Digests->Crc)};
    uint8_t Md5[MD5_DIGEST_SIZE], Sha1[SHA1_DIGEST_SIZE], Sha256[SHA256_DIGEST_SIZE];
    md5_digest(&Digests->Md5, sizeof Md5, Md5);
    sha1_digest(&Digests->Sha1, sizeof Sha1, Sha1);
    sha256_digest(&Digests->Sha256, sizeof Sha256, Sha256);
    return {Hex(Crc, 4), Hex(Md5, sizeof Md5), Hex(Sha1, sizeof Sha1), Hex(Sha256, sizeof Sha256)};
}

int32_t TChecksumStream::Write(const void* Buffer, int32_t Count)
{
    if (Count < 0)
        return -1;
    Sums.Add(Buffer, size_t(Count));
    Written += Count;
    return Count;
}

int64_t TChecksumStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    // Only the position can be asked: digests cannot go back.
    return Offset == 0 && Origin != TSeekOrigin::Beginning ? Written : -1;
}

TChecksums ChecksumsOf(const std::vector<uint8_t>& Bytes)
{
    TChecksummer Sums;
    Sums.Add(Bytes.data(), Bytes.size());
    return Sums.Finish();
}

std::string ChecksumLines(const TChecksums& Sums)
{
    return "CRC32: " + Sums.Crc32 + "\nMD5: " + Sums.Md5 + "\nSHA-1: " + Sums.Sha1 +
           "\nSHA-256: " + Sums.Sha256 + "\n";
}
