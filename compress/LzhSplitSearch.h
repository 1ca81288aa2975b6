// The LZH encoder's search split over two threads (the caller's and a helper), for long inputs
// on a machine with a second core. It gives the stream the one-thread encoder gives.
#pragma once

#include <cstdint>

#include "LzhEncoder.h"

namespace lzhcodec {

// Reads SplitFrom bytes first: a shorter input, or a helper thread that cannot start, is coded
// on the caller's thread alone. SplitBlock: positions per block the threads hand over.
void EncodeSplit(TCoder& Coder, TSoloTables& Solo, int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink,
                 int32_t SplitFrom, int32_t SplitBlock, TMemorySource& Memory);

} // namespace lzhcodec
