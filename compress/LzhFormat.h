// The LZH format's fixed numbers and its position code, shared by the codec's units.
#pragma once

#include <cstdint>

#include "EngineErrors.h"
#include "Memory.h"

namespace lzhcodec {

constexpr int WindowSize = 4096;
constexpr int WindowMask = WindowSize - 1;
constexpr int Lookahead = 60;
constexpr int Threshold = 2;
constexpr int Symbols = 256 - Threshold + Lookahead;  // 314
constexpr int TreeNodes = 2 * Symbols - 1;             // 627
constexpr int Root = TreeNodes - 1;                    // 626
constexpr unsigned FrequencyLimit = 0x8000;
constexpr int StartPosition = WindowSize - Lookahead;  // 4036

// The position prefix code: length and left-aligned 8-bit code of each upper-6-bit value.
struct TPositionCode {
    uint8_t Length[64];
    uint8_t Code[64];
    uint8_t DecodedValue[256];
    uint8_t DecodedLength[256];
};

constexpr TPositionCode MakePositionCode()
{
    TPositionCode T{};
    // Canonical code: 1 value of length 3, 3 of 4, 8 of 5, 12 of 6, 24 of 7, 16 of 8.
    constexpr int Counts[6] = {1, 3, 8, 12, 24, 16};
    int Value = 0;
    unsigned Code = 0;
    for (int Len = 3; Len <= 8; ++Len) {
        for (int K = 0; K < Counts[Len - 3]; ++K) {
            T.Length[Value] = static_cast<uint8_t>(Len);
            T.Code[Value] = static_cast<uint8_t>(Code << (8 - Len));
            const int Span = 1 << (8 - Len);
            for (int B = 0; B < Span; ++B) {
                T.DecodedValue[(Code << (8 - Len)) + B] = static_cast<uint8_t>(Value);
                T.DecodedLength[(Code << (8 - Len)) + B] = static_cast<uint8_t>(Len);
            }
            ++Code;
            ++Value;
        }
        Code <<= 1;
    }
    return T;
}

inline constexpr TPositionCode PositionCode = MakePositionCode();

// The codec's tables, made in Memory (with Args); a source without memory stops the operation.
template <typename T, typename... TArgs>
TTaken<T> TakeTables(TMemorySource& Memory, TArgs&&... Args)
{
    TTaken<T> Tables = TakeObject<T>(Memory, std::forward<TArgs>(Args)...);
    if (!Tables)
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    return Tables;
}

template <typename T>
TTaken<T> TakeTableArray(TMemorySource& Memory, size_t Count)
{
    TTaken<T> Array = TakeArray<T>(Memory, Count);
    if (!Array)
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    return Array;
}

} // namespace lzhcodec
