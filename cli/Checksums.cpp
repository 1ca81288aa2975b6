#include "cli/Checksums.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

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

struct TContextFree {
    void operator()(EVP_MD_CTX* Context) const { EVP_MD_CTX_free(Context); }
};
using TContext = std::unique_ptr<EVP_MD_CTX, TContextFree>;

TContext StartDigest(const EVP_MD* Kind)
{
    TContext Context(EVP_MD_CTX_new());
    if (!Context || EVP_DigestInit_ex(Context.get(), Kind, nullptr) != 1)
        throw std::runtime_error("cannot start a checksum: the crypto library refused");
    return Context;
}

std::string FinishDigest(EVP_MD_CTX* Context)
{
    unsigned char Digest[EVP_MAX_MD_SIZE];
    unsigned int Length = 0;
    if (EVP_DigestFinal_ex(Context, Digest, &Length) != 1)
        throw std::runtime_error("cannot finish a checksum: the crypto library refused");
    return Hex(Digest, Length);
}

}  // namespace

struct TChecksummer::TDigests {
    uLong Crc = crc32(0L, Z_NULL, 0);
    TContext Md5 = StartDigest(EVP_md5());
    TContext Sha1 = StartDigest(EVP_sha1());
    TContext Sha256 = StartDigest(EVP_sha256());
};

TChecksummer::TChecksummer() : Digests(std::make_unique<TDigests>()) {}

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
    for (EVP_MD_CTX* Context : {Digests->Md5.get(), Digests->Sha1.get(), Digests->Sha256.get()})
        if (EVP_DigestUpdate(Context, Data, Count) != 1)
            throw std::runtime_error("cannot compute a checksum: the crypto library refused");
}

TChecksums TChecksummer::Finish()
{
    const unsigned char Crc[4] = {uint8_t(Digests->Crc >> 24), uint8_t(Digests->Crc >> 16),
                                  uint8_t(Digests->Crc >> 8), uint8_t(Digests->Crc)};
    return {Hex(Crc, 4), FinishDigest(Digests->Md5.get()), FinishDigest(Digests->Sha1.get()),
            FinishDigest(Digests->Sha256.get())};
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

std::string ChecksumLines(const TChecksums& Sums)
{
    return "CRC32: " + Sums.Crc32 + "\nMD5: " + Sums.Md5 + "\nSHA-1: " + Sums.Sha1 +
           "\nSHA-256: " + Sums.Sha256 + "\n";
}
