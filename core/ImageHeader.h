// An image file's header: the codec's tag, then the original size, 4 bytes each, little-endian.
// Then comes one LZH bit stream or a sequence of LZRW1/KH blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/ByteOrder.h"

constexpr uint32_t LzhTag = 0x4C5A4821;     // bytes "!HZL"
constexpr uint32_t Lzrw1KhTag = 0x4C5A5257; // bytes "WRZL"

constexpr size_t ImageHeaderSize = 8;

enum class TImageCodec { Lzh, Lzrw1Kh };

struct TImageHeader {
    TImageCodec Codec = TImageCodec::Lzh;
    // Signed as stored, so a damaged header can make it negative; none when the image ends
    // inside the field.
    std::optional<int32_t> OriginalSize;
};

constexpr uint32_t ImageTag(TImageCodec Codec)
{
    return Codec == TImageCodec::Lzh ? LzhTag : Lzrw1KhTag;
}

// The header in an image's first Count bytes (fewer than 8 for an image that short); none when
// they do not start with a known tag.
inline std::optional<TImageHeader> ParseImageHeader(const uint8_t* Bytes, size_t Count)
{
    const uint32_t Tag = Count >= 4 ? GetLE32(Bytes) : 0;
    if (Tag != LzhTag && Tag != Lzrw1KhTag)
        return std::nullopt;
    TImageHeader Header;
    Header.Codec = Tag == LzhTag ? TImageCodec::Lzh : TImageCodec::Lzrw1Kh;
    if (Count >= ImageHeaderSize)
        Header.OriginalSize = static_cast<int32_t>(GetLE32(Bytes + 4));
    return Header;
}
