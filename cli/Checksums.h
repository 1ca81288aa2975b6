// The checksums archivists keep of a raw dump: CRC32, MD5, SHA-1 and SHA-256, in lower-case hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compress/Streams.h"

struct TChecksums {
    std::string Crc32;
    std::string Md5;
    std::string Sha1;
    std::string Sha256;
};

// Digests the bytes given to Add, in order; Finish once at the end.
class TChecksummer {
public:
    TChecksummer();
    ~TChecksummer();
    TChecksummer(const TChecksummer&) = delete;
    TChecksummer& operator=(const TChecksummer&) = delete;

    void Add(const void* Bytes, size_t Count);
    TChecksums Finish();

private:
    struct TDigests;
    std::unique_ptr<TDigests> Digests;
};

// A write-only stream that digests what the engine writes to it, so a dump is never stored.
class TChecksumStream : public TStream {
public:
    explicit TChecksumStream(TChecksummer& Target) : Sums(Target) {}

    int32_t Read(void*, int32_t) override { return -1; }
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return Written; }

private:
    TChecksummer& Sums;
    int64_t Written = 0;
};

TChecksums ChecksumsOf(const std::vector<uint8_t>& Bytes);

// "CRC32: 1a2b3c4d\nMD5: ...\nSHA-1: ...\nSHA-256: ...\n"
std::string ChecksumLines(const TChecksums& Sums);
