// The LZH encoder on the caller's thread: the finder inserts every position into the match
// trees in order and notes its match, the coder picks the matches it codes.
#pragma once

#include <cstdint>

#include "LzhCoder.h"
#include "LzhMatchTrees.h"

namespace lzhcodec {

// Input bytes and matches held ahead of the coder: the finder needs 60 bytes past a position.
constexpr int PieceBytes = 32768;
constexpr int64_t Span = int64_t(PieceBytes) * 4;

struct TSoloTables {
    TTreeTables Trees;
    uint8_t Input[Span];    // byte J at J % Span
    uint32_t Found[Span];   // position K's match at K % Span: length << 12 | position
};

// Reads the source to its end and codes it; Count becomes the number of bytes read.
void EncodeAlone(TCoder& Coder, TSoloTables& Solo, int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink);

} // namespace lzhcodec
