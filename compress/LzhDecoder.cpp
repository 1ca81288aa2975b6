// TLZH::Decode: the bit stream back to bytes.
#include <algorithm>
#include <cstring>

#include "LzhCoder.h"
#include "lzh.h"

using namespace lzhcodec;

namespace {

// The decoder's output: flat, behind a copy of the last 4096 bytes (at first what the ring of the
// format starts with), so that a match's source is the output less its distance. Made a piece at
// a time; a last match may run up to 59 bytes past the piece, and a copy 7 bytes past that.
constexpr int DecodePiece = 32768;

struct TDecodeWindow {
    uint8_t Bytes[WindowSize + DecodePiece + Lookahead + 8];
};

// Copies a match inside the output, the source Distance bytes back.
inline void CopyMatch(uint8_t* Out, int Distance, int Length)
{
    const uint8_t* From = Out - Distance;
    if (Distance >= 8) {
        // Whole words, the last one past the match: every word reads bytes already written.
        for (int K = 0; K < Length; K += 8)
            std::memcpy(Out + K, From + K, 8);
    } else if (Distance == 1) {
        std::memset(Out, *From, static_cast<size_t>(Length));
    } else {
        for (int K = 0; K < Length; ++K)
            Out[K] = From[K];
    }
}

} // namespace

void TLZH::Decode(int32_t Count, TLZHByteSource& Source, TLZHByteSink& Sink)
{
    const auto Tables = TakeTables<TLZHTables>(Memory);
    const auto Window = TakeTables<TDecodeWindow>(Memory);
    TCoder Coder(*Tables);
    Coder.StartHuffman(true);
    TBitReader In(Source);

    // The ring starts as spaces, with the 60 bytes from the coder's first position cleared: seen
    // from there, the 4096 bytes before it are 60 zeros and then the spaces.
    uint8_t* const Start = Window->Bytes + WindowSize;
    std::memset(Window->Bytes, 0, WindowSize - StartPosition);
    std::memset(Window->Bytes + (WindowSize - StartPosition), ' ', StartPosition);

    int64_t Left = Count;  // bytes still to make after the piece being made
    for (;;) {
        uint8_t* Out = Start;
        uint8_t* const Stop = Start + std::min<int64_t>(Left, DecodePiece);
        bool Whole = true;
        while (Out < Stop) {
            const int C = Coder.DecodeSymbol(In);
            // A stream is whole up to its last code: a code that needs bits past the end belongs
            // to a stream cut short (or a size no stream holds), and what it decodes to would be
            // made up.
            if (In.PastEnd()) {
                Whole = false;
                break;
            }
            if (C < 256) {
                *Out++ = static_cast<uint8_t>(C);
                continue;
            }
            const int Position = Coder.DecodePosition(In);
            if (In.PastEnd()) {
                Whole = false;
                break;
            }
            const int Length = C - (255 - Threshold);
            CopyMatch(Out, Position + 1, Length);
            Out += Length;
        }
        Sink.Write(Start, static_cast<size_t>(Out - Start));
        Left -= Out - Start;
        if (!Whole || Left <= 0)
            return;
        std::memcpy(Window->Bytes, Out - WindowSize, WindowSize);
    }
}

