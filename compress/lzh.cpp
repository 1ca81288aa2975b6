// TLZH's front: which encoder runs, and the byte sources and sinks.
#include "lzh.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "LzhSplitSearch.h"

using namespace lzhcodec;

TLZH::TLZH(TMemorySource& Memory) : Memory(Memory) {}
TLZH::~TLZH() = default;

void TLZH::Encode(int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink)
{
    const auto Tables = TakeTables<TLZHTables>(Memory);
    const auto Solo = TakeTables<TSoloTables>(Memory);
    TCoder Coder(*Tables);
    Coder.StartHuffman();
    // Two threads need a second core, and enough input to repay starting one: the input is read
    // that far before the choice.
    if (!SearchThread || std::thread::hardware_concurrency() < 2) {
        EncodeAlone(Coder, *Solo, Count, Source, Sink);
        return;
    }
    EncodeSplit(Coder, *Solo, Count, Source, Sink, SplitFrom, SplitBlock, Memory);
}

size_t TLZHByteSource::Read(uint8_t* To, size_t Count)
{
    size_t Done = 0;
    while (Done < Count) {
        if (Next == Limit && !Refill())
            break;
        const size_t Take = std::min(Count - Done, static_cast<size_t>(Limit - Next));
        std::memcpy(To + Done, Next, Take);
        Next += Take;
        Done += Take;
    }
    return Done;
}

void TLZHByteSink::Write(const uint8_t* From, size_t Count)
{
    size_t Done = 0;
    while (Done < Count) {
        if (Next == Limit)
            Drain();
        const size_t Take = std::min(Count - Done, static_cast<size_t>(Limit - Next));
        std::memcpy(Next, From + Done, Take);
        Next += Take;
        Done += Take;
    }
}

TMemoryByteSource::TMemoryByteSource(const uint8_t* Bytes, size_t Count) : Data(Bytes), Size(Count) {}

bool TMemoryByteSource::Refill()
{
    if (Given || Size == 0)
        return false;
    Given = true;
    Next = Data;
    Limit = Data + Size;
    return true;
}

TVectorByteSink::TVectorByteSink()
{
    Next = Window;
    Limit = Window + sizeof Window;
}

void TVectorByteSink::Drain()
{
    Done.insert(Done.end(), Window, Next);
    Next = Window;
}

std::vector<uint8_t> TVectorByteSink::Bytes()
{
    Drain();
    return Done;
}

std::vector<uint8_t> LZHEncode(const std::vector<uint8_t>& Input)
{
    TLZH Codec;
    TMemoryByteSource Source(Input.data(), Input.size());
    TVectorByteSink Sink;
    int32_t Count = 0;
    Codec.Encode(Count, Source, Sink);
    return Sink.Bytes();
}

std::vector<uint8_t> LZHDecode(const std::vector<uint8_t>& Stream, int32_t Count)
{
    TLZH Codec;
    TMemoryByteSource Source(Stream.data(), Stream.size());
    TVectorByteSink Sink;
    Codec.Decode(Count, Source, Sink);
    return Sink.Bytes();
}
