// The LZH encoder's window and its 256 binary search trees, one per first byte: inserting each
// new position finds its longest match. Shared by the one-thread finder and the split search.
#pragma once

#include <cstdint>

#include "LzhFormat.h"

namespace lzhcodec {

constexpr int Empty = WindowSize;                      // missing node in the search trees
constexpr int Mirror = Lookahead - 1;                  // bytes mirrored past the window
constexpr int RingBytes = WindowSize + Mirror;         // 4155
// Word-wise comparisons may read a little past the mirror; those bytes never decide a result.
constexpr int RingSlack = 16;
constexpr int FirstRoot = WindowSize + 1;              // 4097: roots of the 256 search trees
constexpr int Links = FirstRoot + 256;                 // 4353

// The encoder's window and its 256 search trees, one per first byte.
struct TTreeTables {
    uint8_t Ring[RingBytes + RingSlack];
    // Unsigned: links are 0..4352, and zero-extended indices need no extra step in the walk.
    uint16_t Left[Links];  // only 0..4096 are used; the roots have no left child
    uint16_t Parent[WindowSize + 1];
    uint16_t Right[Links];
};

// The longest match for each new position, found by inserting it into its search tree.
class TMatchTrees {
public:
    explicit TMatchTrees(TTreeTables& T) : Ring(T.Ring), Left(T.Left), Parent(T.Parent), Right(T.Right) {}

    void StartTrees();
    // Kept out of line: inlined into a caller's loop, its walk runs short of registers.
    [[gnu::noinline]] void InsertNode(int R);
    // Most slots asked about hold no string of these trees (or one already replaced).
    void DeleteNode(int P)
    {
        if (Parent[P] != Empty)
            Unlink(P);
    }
    // The same with the unlinking out of line, for the split search's loop, which runs short
    // of registers with it inside.
    void DeleteNodeApart(int P)
    {
        if (Parent[P] != Empty)
            UnlinkApart(P);
    }

    // Moves the tree of first byte V out, as records of node, left, right and parent (the root
    // as its index and its one child); returns the end of the records.
    uint16_t* TakeTree(int V, uint16_t* To);
    void PutTree(const uint16_t* From, const uint16_t* End);

    uint8_t* Ring;
    int MatchPosition = 0;
    int MatchLength = 0;

private:
    void Unlink(int P);
    [[gnu::noinline]] void UnlinkApart(int P) { Unlink(P); }

    uint16_t* Left;
    uint16_t* Parent;
    uint16_t* Right;
};

// Hot in the finders' loops: kept where they can inline it.
inline void TMatchTrees::Unlink(int P)
{
    int Q;
    if (Right[P] == Empty) {
        Q = Left[P];
    } else if (Left[P] == Empty) {
        Q = Right[P];
    } else {
        Q = Left[P];
        if (Right[Q] != Empty) {
            do
                Q = Right[Q];
            while (Right[Q] != Empty);
            Right[Parent[Q]] = Left[Q];
            Parent[Left[Q]] = Parent[Q];
            Left[Q] = Left[P];
            Parent[Left[P]] = static_cast<uint16_t>(Q);
        }
        Right[Q] = Right[P];
        Parent[Right[P]] = static_cast<uint16_t>(Q);
    }
    const int Up = Parent[P];
    Parent[Q] = static_cast<uint16_t>(Up);
    // Which side P hangs on is a coin toss to the branch predictor: pick the slot instead.
    uint16_t* const Slot = Right[Up] == P ? &Right[Up] : &Left[Up];
    *Slot = static_cast<uint16_t>(Q);
    Parent[P] = Empty;
}

// The window before the first position: spaces, then zeros where the input goes.
void StartRing(uint8_t* Ring);

} // namespace lzhcodec
