#include "LzhSplitSearch.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace lzhcodec {

namespace {

// The search split over two threads. An insertion or deletion only touches the tree of its
// string's first byte, so each thread owns some of the 256 trees (balanced by how often their
// bytes occur) and makes the searches of the positions that start with its bytes. Each keeps
// its own ring, written as the one-thread search writes it: the tree walk then reads strings
// at a node's index, with no sum on its chain of loads (reading them from one linear copy of
// the input, shared by both, made the walk a fifth slower). The input goes in blocks: each
// block says which thread owns which tree, and a tree that changes hands moves between the
// threads' tables at the block's start. The coder (on the caller's thread, which searches too)
// codes a block once both have searched it.

constexpr int Tail = Lookahead;      // the bytes after a block that the ring takes in ahead
constexpr int BlockRing = 4;         // blocks being coded, searched and read at one time
constexpr int Records = (WindowSize + 1 + 256) * 4;  // the trees a thread can give up at once

struct TSplitBlock {
    int64_t First = 0;  // its first position (as an input offset)
    int Count = 0;      // its positions
    bool Last = false;
    int64_t InputEnd = INT64_MAX;  // the input's length, once known
    uint8_t Owner[256];  // the thread that searches each first byte's tree
    // Position K's byte at Bytes[K - First], and the 60 bytes after the block.
    TTaken<uint8_t> Bytes;
    // Each thread's matches for its positions (length << 12 | position), apart so that the two
    // never write to one cache line.
    TTaken<uint32_t> Found[2];
};

struct TSplitPart {
    TTreeTables Trees;
    bool Owns[256];
    uint16_t Given[Records];  // the trees given up last, until the other has taken them
    int GivenCount = 0;
    int64_t GivenAt = -1;     // the block they were given up for
};

// The state the two threads share.
class TSplitSearch {
public:
    TSplitSearch(int BlockSize, TMemorySource& Memory);

    // One thread's turn at block B, in two steps: it gives up the trees it no longer owns
    // (once B is published), then takes the other's and makes its searches; false when told
    // to quit.
    bool Give(int P, int64_t B);
    bool Search(int P, int64_t B);
    // Deals block B's trees to the threads and lets them at it.
    void Publish(int64_t B);
    // Waits until the helper has searched block B.
    void AwaitHelper(int64_t B);
    void Quit();
    TSplitBlock& Block(int64_t B) { return Blocks[B % BlockRing]; }

    const int BlockSize;
    // The share of the positions the caller's thread searches; it also codes.
    double Share = 0.35;
    // How far (as a share of a block) the split may drift from Share before trees move.
    static constexpr double Slack = 0.08;
    // Seconds the helper spent on its last block.
    double HelperTime()
    {
        std::lock_guard<std::mutex> Hold(Lock);
        return HelperBusy;
    }

private:
    void SearchBlock(TMatchTrees& Trees, TSplitBlock& Blk, int P);

    TSplitBlock Blocks[BlockRing];
    TTaken<TSplitPart> Parts[2];
    uint8_t Previous[256] = {};  // the owners of the last block published
    std::mutex Lock;
    std::condition_variable Wake;
    // Under Lock.
    int64_t Published = 0;
    int64_t Given[2] = {};     // blocks each thread has given its trees up for
    int64_t Taken[2] = {};     // blocks each thread has taken the other's trees for
    int64_t Searched[2] = {};
    bool Stop = false;
    double HelperBusy = 0;
};

TSplitSearch::TSplitSearch(int BlockSize, TMemorySource& Memory) : BlockSize(BlockSize)
{
    for (TSplitBlock& Blk : Blocks) {
        Blk.Bytes = TakeTableArray<uint8_t>(Memory, size_t(BlockSize) + Tail);
        for (auto& Found : Blk.Found)
            Found = TakeTableArray<uint32_t>(Memory, size_t(BlockSize));
    }
    for (auto& Part : Parts) {
        Part = TakeTables<TSplitPart>(Memory);
        TMatchTrees(Part->Trees).StartTrees();
        std::fill(std::begin(Part->Owns), std::end(Part->Owns), false);
    }
    // The caller's thread starts with all the (empty) trees.
    std::fill(std::begin(Parts[0]->Owns), std::end(Parts[0]->Owns), true);
}

void TSplitSearch::SearchBlock(TMatchTrees& Trees, TSplitBlock& Blk, int P)
{
    const uint8_t* const Data = Blk.Bytes.get();
    const uint8_t* const Owner = Blk.Owner;
    uint32_t* const Found = Blk.Found[P].get();
    uint8_t* const Ring = Trees.Ring;
    // Bytes written into the ring: those of the input, 60 ahead of each position.
    const int64_t Writes = Blk.InputEnd - Lookahead;
    int I = 0;
    if (Blk.First == 0) {
        StartRing(Ring);
        std::memcpy(Ring + StartPosition, Data, size_t(std::min<int64_t>(Blk.InputEnd, Lookahead)));
        if (Owner[uint8_t(' ')] == P) {
            for (int J = 1; J <= Lookahead; ++J)
                Trees.InsertNode(StartPosition - J);
        }
        if (Owner[Data[0]] == P) {
            Trees.InsertNode(StartPosition);
            Found[0] = uint32_t(Trees.MatchLength) << 12 | uint32_t(Trees.MatchPosition & WindowMask);
        }
        I = 1;
    }
    for (; I < Blk.Count; ++I) {
        const int64_t K = Blk.First + I;
        const int S = static_cast<int>(K - 1) & WindowMask;
        // The string that leaves the window as this one comes in (if it is in this thread's
        // trees): its slot takes the byte 60 ahead.
        Trees.DeleteNodeApart(S);
        if (K <= Writes) {
            const uint8_t C = Data[I + Lookahead - 1];
            Ring[S] = C;
            if (S < Mirror)
                Ring[S + WindowSize] = C;
        }
        if (Owner[Data[I]] == P) {
            Trees.InsertNode(static_cast<int>(StartPosition + K) & WindowMask);
            Found[I] = uint32_t(Trees.MatchLength) << 12 | uint32_t(Trees.MatchPosition & WindowMask);
        }
    }
}

bool TSplitSearch::Give(int P, int64_t B)
{
    TSplitBlock& Blk = Block(B);
    TSplitPart& Me = *Parts[P];
    std::unique_lock<std::mutex> Hold(Lock);
    Wake.wait(Hold, [&] { return Stop || Published > B; });
    if (Stop)
        return false;
    bool Giving = false;
    for (int V = 0; V < 256; ++V)
        Giving |= Me.Owns[V] && Blk.Owner[V] != P;
    if (Giving) {
        // The last trees given must have been taken before the room is used again.
        Wake.wait(Hold, [&] { return Stop || Taken[1 - P] > Me.GivenAt; });
        if (Stop)
            return false;
        Hold.unlock();
        TMatchTrees Trees(Me.Trees);
        uint16_t* Out = Me.Given;
        for (int V = 0; V < 256; ++V) {
            if (Me.Owns[V] && Blk.Owner[V] != P) {
                Out = Trees.TakeTree(V, Out);
                Me.Owns[V] = false;
            }
        }
        Me.GivenCount = static_cast<int>(Out - Me.Given);
        Me.GivenAt = B;
        Hold.lock();
    }
    Given[P] = B + 1;
    Wake.notify_all();
    return true;
}

bool TSplitSearch::Search(int P, int64_t B)
{
    TSplitBlock& Blk = Block(B);
    TSplitPart& Me = *Parts[P];
    const TSplitPart& Other = *Parts[1 - P];
    const auto Start = std::chrono::steady_clock::now();
    TMatchTrees Trees(Me.Trees);
    bool Taking = false;
    for (int V = 0; V < 256; ++V)
        Taking |= !Me.Owns[V] && Blk.Owner[V] == P;
    if (Taking) {
        {
            std::unique_lock<std::mutex> Hold(Lock);
            Wake.wait(Hold, [&] { return Stop || Given[1 - P] > B; });
            if (Stop)
                return false;
        }
        // What the other gives up is this one's now.
        Trees.PutTree(Other.Given, Other.Given + Other.GivenCount);
        for (int V = 0; V < 256; ++V)
            Me.Owns[V] = Blk.Owner[V] == P;
        std::lock_guard<std::mutex> Hold(Lock);
        Taken[P] = B + 1;
        Wake.notify_all();
    }
    SearchBlock(Trees, Blk, P);
    const double Busy = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::lock_guard<std::mutex> Hold(Lock);
    Searched[P] = B + 1;
    if (P == 1)
        HelperBusy = Busy;
    Wake.notify_all();
    return true;
}

void TSplitSearch::Publish(int64_t B)
{
    TSplitBlock& Blk = Block(B);
    uint32_t Count[256] = {};
    const uint8_t* const Data = Blk.Bytes.get();
    for (int I = 0; I < Blk.Count; ++I)
        ++Count[Data[I]];
    // Trees stay where they are while the shares are near their aims: a tree that moves makes
    // the threads wait for each other. Otherwise the thread above its aim gives up the fewest
    // trees that bring it near: the biggest ones that fit what it has too much.
    const double Want[2] = {Share * Blk.Count, (1 - Share) * Blk.Count};
    double Load[2] = {0, 0};
    for (int V = 0; V < 256; ++V)
        Load[Previous[V]] += Count[V];
    std::memcpy(Blk.Owner, Previous, sizeof Previous);
    if (std::abs(Load[0] - Want[0]) > Slack * Blk.Count) {
        const int Heavy = Load[0] > Want[0] ? 0 : 1;
        double Excess = Load[Heavy] - Want[Heavy];
        int Order[256];
        int Candidates = 0;
        for (int V = 0; V < 256; ++V) {
            if (Previous[V] == Heavy && Count[V] > 0)
                Order[Candidates++] = V;
        }
        std::sort(Order, Order + Candidates, [&](int X, int Y) { return Count[X] > Count[Y]; });
        const double Near = Slack / 2 * Blk.Count;
        for (int N = 0; N < Candidates && Excess > Near; ++N) {
            const int V = Order[N];
            if (Count[V] <= Excess + Near) {
                Excess -= Count[V];
                Blk.Owner[V] = static_cast<uint8_t>(1 - Heavy);
            }
        }
    }
    std::memcpy(Previous, Blk.Owner, sizeof Previous);
    std::lock_guard<std::mutex> Hold(Lock);
    Published = B + 1;
    Wake.notify_all();
}

void TSplitSearch::AwaitHelper(int64_t B)
{
    std::unique_lock<std::mutex> Hold(Lock);
    Wake.wait(Hold, [&] { return Searched[1] > B; });
}

void TSplitSearch::Quit()
{
    std::lock_guard<std::mutex> Hold(Lock);
    Stop = true;
    Wake.notify_all();
}

// Bytes read ahead of a decision, then the rest of the source.
class TPrefixedSource : public TLZHByteSource {
public:
    TPrefixedSource(const uint8_t* Prefix, size_t PrefixSize, TLZHByteSource& Rest)
        : Prefix(Prefix), PrefixSize(PrefixSize), Rest(Rest)
    {}

protected:
    bool Refill() override
    {
        if (!PrefixGiven) {
            PrefixGiven = true;
            if (PrefixSize > 0) {
                Next = Prefix;
                Limit = Next + PrefixSize;
                return true;
            }
        }
        const size_t Got = Rest.Read(Piece, sizeof Piece);
        Next = Piece;
        Limit = Piece + Got;
        return Got > 0;
    }

private:
    const uint8_t* Prefix;
    size_t PrefixSize;
    TLZHByteSource& Rest;
    bool PrefixGiven = false;
    uint8_t Piece[PieceBytes];
};

} // namespace

void EncodeSplit(TCoder& Coder, TSoloTables& Solo, int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink,
                 int32_t SplitFrom, int32_t SplitBlock, TMemorySource& Memory)
{
    const int BlockSize = std::max(SplitBlock, Tail);
    const auto Split = TakeTables<TSplitSearch>(Memory, BlockSize, Memory);
    const size_t SplitAt = static_cast<size_t>(std::max(SplitFrom, int32_t(1)));
    const auto Prefix = TakeTableArray<uint8_t>(Memory, SplitAt);
    const size_t PrefixSize = Source.Read(Prefix.get(), SplitAt);
    if (PrefixSize < SplitAt) {
        TMemoryByteSource Short(Prefix.get(), PrefixSize);
        EncodeAlone(Coder, Solo, Count, Short, Sink);
        return;
    }

    // The helper thread, stopped on every way out; without one, the caller's thread does it all.
    std::thread Helper;
    try {
        Helper = std::thread([&Split] {
            for (int64_t B = 0; Split->Give(1, B); ++B) {
                // Read while the block is still this thread's to search: once searched, it
                // may be coded and read over.
                const bool Last = Split->Block(B).Last;
                if (!Split->Search(1, B) || Last)
                    break;
            }
        });
    } catch (const std::system_error&) {
        TPrefixedSource Rest(Prefix.get(), PrefixSize, Source);
        EncodeAlone(Coder, Solo, Count, Rest, Sink);
        return;
    }
    struct TStopHelper {
        TSplitSearch& Split;
        std::thread& Helper;
        ~TStopHelper()
        {
            Split.Quit();
            Helper.join();
        }
    } Stopper{*Split, Helper};

    size_t PrefixTaken = 0;
    int64_t Read = 0;
    bool End = false;
    int64_t BlocksRead = 0;
    const auto ReadBlock = [&] {
        TSplitBlock& Blk = Split->Block(BlocksRead);
        uint8_t* const To = Blk.Bytes.get();
        size_t Got = std::min(PrefixSize - PrefixTaken, size_t(BlockSize));
        std::memcpy(To, Prefix.get() + PrefixTaken, Got);
        PrefixTaken += Got;
        if (Got < size_t(BlockSize))
            Got += Source.Read(To + Got, BlockSize - Got);
        Blk.First = Read;
        Blk.Count = static_cast<int>(Got);
        Read += static_cast<int64_t>(Got);
        End = Got < size_t(BlockSize);
        ++BlocksRead;
    };
    // Block B goes to the searches once the bytes after it are known: read the next block.
    const auto Publish = [&](int64_t B) {
        if (!End && BlocksRead == B + 1)
            ReadBlock();
        TSplitBlock& Blk = Split->Block(B);
        uint8_t* const After = Blk.Bytes.get() + Blk.Count;
        int Real = 0;
        if (BlocksRead > B + 1) {
            const TSplitBlock& Next = Split->Block(B + 1);
            Real = std::min(Next.Count, Tail);
            std::memcpy(After, Next.Bytes.get(), size_t(Real));
        }
        Blk.Last = Real == 0;
        Blk.InputEnd = End ? Read : INT64_MAX;
        Split->Publish(B);
    };
    int64_t Position = 0;
    const auto CodeBlock = [&](int64_t B) {
        const TSplitBlock& Blk = Split->Block(B);
        const int64_t Stop = Blk.First + Blk.Count;
        const uint8_t* const Data = Blk.Bytes.get();
        const uint32_t* const Found[2] = {Blk.Found[0].get(), Blk.Found[1].get()};
        while (Position < Stop) {
            const int64_t I = Position - Blk.First;
            // The input may end in the block after this one, within a match's reach.
            const int Ahead = static_cast<int>(std::min<int64_t>(Lookahead, Blk.InputEnd - Position));
            Position += CodeStep(Coder, Sink, Found[Blk.Owner[Data[I]]][I], Data[I], Ahead);
        }
    };

    // The caller's thread searches its share and codes: the share follows the time both take.
    using TClock = std::chrono::steady_clock;
    const auto Seconds = [](TClock::time_point From, TClock::time_point To) { return std::chrono::duration<double>(To - From).count(); };
    ReadBlock();
    Publish(0);
    Split->Give(0, 0);
    for (int64_t B = 0;; ++B) {
        const bool Last = Split->Block(B).Last;
        // Dealt ahead, so that the helper can go on to the next block while this one searches.
        if (!Last)
            Publish(B + 1);
        const auto Start = TClock::now();
        Split->Search(0, B);
        const auto Searched = TClock::now();
        if (!Last)
            Split->Give(0, B + 1);
        if (B > 0) {
            Split->AwaitHelper(B - 1);
            const auto Coding = TClock::now();
            CodeBlock(B - 1);
            const double Code = Seconds(Coding, TClock::now());
            const double Mine = Seconds(Start, Searched) + Code;
            const double Helper = Split->HelperTime();
            // Half the step that would even the two out, assuming search time follows the share.
            const double Search = Mine + Helper - Code;
            if (Search > 0)
                Split->Share = std::clamp(Split->Share + (Helper - Mine) / (4 * Search), 0.05, 0.5);
        }
        if (Last) {
            Split->AwaitHelper(B);
            CodeBlock(B);
            break;
        }
    }
    Coder.EndBits(Sink);
    Count = static_cast<int32_t>(Read);
}

} // namespace lzhcodec
