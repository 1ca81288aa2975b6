// Insertion (the match search itself), and the moves of whole trees between two sets of tables.
#include "LzhMatchTrees.h"

#include <bit>
#include <cstring>

#include "core/ByteOrder.h"

namespace lzhcodec {

void TMatchTrees::StartTrees()
{
    for (int I = FirstRoot; I < Links; ++I)
        Right[I] = Empty;
    for (int I = 0; I <= WindowSize; ++I)
        Parent[I] = Empty;
}

void TMatchTrees::InsertNode(int R)
{
    const uint8_t* Key = &Ring[R];
    size_t P = FirstRoot + Key[0];
    Left[R] = Right[R] = Empty;
    MatchLength = 0;
    size_t Q = Right[P];  // the first step goes right
    if (Q == Empty) {
        Right[P] = static_cast<uint16_t>(R);
        Parent[R] = static_cast<uint16_t>(P);
        return;
    }
    // The key's first word after the equal first byte, hoisted: most steps decide on it.
    const uint64_t KeyWord = GetBE64(Key + 1);
    // The best match so far as one number: longer wins, then nearer (a smaller position value).
    unsigned Best = 0;
    for (;;) {
        // Unsigned indices: the links load zero-extended, with no widening on the way.
        P = Q;
        // Both children are loaded alongside the comparison, so the next step waits for one
        // load instead of two.
        const size_t LeftChild = Left[P];
        const size_t RightChild = Right[P];
        // Equal leading bytes after the first (which is equal by construction), 8 at a time;
        // as big-endian words the first difference also gives the order.
        const uint8_t* Other = &Ring[P];
        int I = 1;
        uint64_t A = KeyWord;
        uint64_t B = GetBE64(Other + 1);
        while (A == B && I + 8 < Lookahead) {
            I += 8;
            A = GetBE64(Key + I);
            B = GetBE64(Other + I);
        }
        // Equal words to the end leave A == B: the bytes past the key are not looked at.
        I = A == B ? Lookahead : I + (std::countl_zero(A ^ B) >> 3);
        if (I >= Lookahead) {
            // A full-length match: R takes P's place in the tree.
            Best = unsigned(Lookahead) << 12 | (WindowMask - (((R - int(P)) & WindowMask) - 1));
            Parent[R] = Parent[P];
            Left[R] = static_cast<uint16_t>(LeftChild);
            Right[R] = static_cast<uint16_t>(RightChild);
            Parent[LeftChild] = static_cast<uint16_t>(R);
            Parent[RightChild] = static_cast<uint16_t>(R);
            const size_t Up = Parent[P];
            uint16_t* const Slot = Right[Up] == P ? &Right[Up] : &Left[Up];
            *Slot = static_cast<uint16_t>(R);
            Parent[P] = Empty;
            break;
        }
        const unsigned Score = unsigned(I) << 12 | (WindowMask - (((R - int(P)) & WindowMask) - 1));
        if (I > Threshold && Score > Best)
            Best = Score;
        // Both picks from one comparison, without a branch: the order is a coin toss.
        Q = A > B ? RightChild : LeftChild;
        if (Q == Empty) {
            uint16_t* const Slot = A > B ? &Right[P] : &Left[P];
            *Slot = static_cast<uint16_t>(R);
            Parent[R] = static_cast<uint16_t>(P);
            break;
        }
    }
    MatchLength = static_cast<int>(Best >> 12);
    if (Best)
        MatchPosition = WindowMask - static_cast<int>(Best & WindowMask);
}

uint16_t* TMatchTrees::TakeTree(int V, uint16_t* To)
{
    const int Top = FirstRoot + V;
    To[0] = static_cast<uint16_t>(Top);
    To[2] = Right[Top];
    uint16_t* Walk = To + 4;
    To += 4;
    if (Right[Top] != Empty) {
        // The records double as the walk's queue: each node's children are queued behind it.
        *To = Right[Top];
        To += 4;
        for (; Walk < To; Walk += 4) {
            const int X = Walk[0];
            Walk[1] = Left[X];
            Walk[2] = Right[X];
            Walk[3] = Parent[X];
            // Left behind here, a node would look still inserted to a later deletion.
            Parent[X] = Empty;
            if (Left[X] != Empty) {
                *To = Left[X];
                To += 4;
            }
            if (Right[X] != Empty) {
                *To = Right[X];
                To += 4;
            }
        }
    }
    Right[Top] = Empty;
    return To;
}

void TMatchTrees::PutTree(const uint16_t* From, const uint16_t* End)
{
    for (; From < End; From += 4) {
        const int X = From[0];
        Right[X] = From[2];
        if (X < FirstRoot) {
            Left[X] = From[1];
            Parent[X] = From[3];
        }
    }
}

void StartRing(uint8_t* Ring)
{
    std::memset(Ring, ' ', StartPosition);
    // Not yet read: cleared so that the encoder's choice among equal matches is reproducible.
    std::memset(Ring + StartPosition, 0, RingBytes + RingSlack - StartPosition);
}

} // namespace lzhcodec
