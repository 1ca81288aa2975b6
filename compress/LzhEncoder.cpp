#include "LzhEncoder.h"

#include <algorithm>

namespace lzhcodec {

namespace {

// Inserts the positions into the trees ahead of the coder and notes each one's match.
class TMatchFinder {
public:
    explicit TMatchFinder(TSoloTables& Solo) : Solo(Solo), Trees(Solo.Trees)
    {
        Trees.StartTrees();
        StartRing(Trees.Ring);
    }

    // Makes the searches the input allows, at most up to the position Stop.
    void Advance(int64_t Read, bool End, int64_t Stop);

    int64_t Ready() const { return K; }

private:
    void Note() { Solo.Found[K++ % Span] = uint32_t(Trees.MatchLength) << 12 | uint32_t(Trees.MatchPosition & WindowMask); }

    TSoloTables& Solo;
    TMatchTrees Trees;
    bool Started = false;
    bool Done = false;
    int R = StartPosition, S = 0;
    int Length = 0;  // the bytes ahead of R once the input has ended
    int64_t J = 0;   // the next input byte
    int64_t K = 0;   // the next position
};

void TMatchFinder::Advance(int64_t Read, bool End, int64_t Stop)
{
    if (Done)
        return;
    uint8_t* const Ring = Trees.Ring;
    if (!Started) {
        if (Read < Lookahead && !End)
            return;
        Length = static_cast<int>(Read < Lookahead ? Read : Lookahead);
        for (int I = 0; I < Length; ++I)
            Ring[R + I] = Solo.Input[I];
        J = Length;
        for (int I = 1; I <= Lookahead; ++I)
            Trees.InsertNode(R - I);
        Trees.InsertNode(R);
        Note();
        Started = true;
        if (Length == 0) {
            Done = true;  // the coder handles the empty input alone
            return;
        }
    }
    while (K < Stop && (J < Read || End)) {
        Trees.DeleteNode(S);
        if (J < Read) {
            const uint8_t C = Solo.Input[J++ % Span];
            Ring[S] = C;
            if (S < Mirror)
                Ring[S + WindowSize] = C;
        } else if (--Length == 0) {
            // The input has ended: the window ahead of R shrinks to nothing.
            Done = true;
            break;
        }
        S = (S + 1) & WindowMask;
        R = (R + 1) & WindowMask;
        Trees.InsertNode(R);
        Note();
    }
}

} // namespace

void EncodeAlone(TCoder& Coder, TSoloTables& Solo, int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink)
{
    TMatchFinder Finder(Solo);
    int64_t Read = 0, Position = 0;
    bool End = false;
    // The input is read a span ahead of the coder: the finder needs 60 bytes past each position.
    const auto ReadAhead = [&] {
        while (!End && Read < Position + Span) {
            const int64_t Slot = Read % Span;
            const size_t Want = static_cast<size_t>(std::min({int64_t(PieceBytes), Span - Slot, Position + Span - Read}));
            const size_t Got = Source.Read(Solo.Input + Slot, Want);
            Read += static_cast<int64_t>(Got);
            if (Got < Want)
                End = true;
        }
    };
    ReadAhead();
    Finder.Advance(Read, End, Span);
    if (End && Read == 0) {
        // Nothing to code still sends one literal: the window's cleared byte at the start.
        Coder.EncodeSymbol(Sink, 0);
    }
    while (!(End && Position >= Read)) {
        if (Position >= Finder.Ready()) {
            ReadAhead();
            Finder.Advance(Read, End, Position + Span);
        }
        const int Ahead = End && Read - Position < Lookahead ? static_cast<int>(Read - Position) : Lookahead;
        Position += CodeStep(Coder, Sink, Solo.Found[Position % Span], Solo.Input[Position % Span], Ahead);
    }
    Coder.EndBits(Sink);
    Count = static_cast<int32_t>(Read);
}

} // namespace lzhcodec
