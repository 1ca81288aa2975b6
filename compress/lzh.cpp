#include "lzh.h"

#include <algorithm>
#include <bit>
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

#include "core/ByteOrder.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int WindowSize = 4096;
constexpr int WindowMask = WindowSize - 1;
constexpr int Lookahead = 60;
constexpr int Threshold = 2;
constexpr int Symbols = 256 - Threshold + Lookahead;  // 314
constexpr int TreeNodes = 2 * Symbols - 1;             // 627
constexpr int Root = TreeNodes - 1;                    // 626
constexpr unsigned FrequencyLimit = 0x8000;
constexpr int Empty = WindowSize;                      // missing node in the search trees
constexpr int StartPosition = WindowSize - Lookahead;  // 4036
constexpr int Mirror = Lookahead - 1;                  // bytes mirrored past the window
constexpr int RingBytes = WindowSize + Mirror;         // 4155
// Word-wise comparisons may read a little past the mirror; those bytes never decide a result.
constexpr int RingSlack = 16;
constexpr int FirstRoot = WindowSize + 1;              // 4097: roots of the 256 search trees
constexpr int Links = FirstRoot + 256;                 // 4353

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

constexpr TPositionCode PositionCode = MakePositionCode();

} // namespace

// The adaptive code.
struct TLZHTables {
    // Guards past the last node, for the look at the 8 nodes after a node.
    uint16_t Freq[TreeNodes + 9];
    int16_t HuffParent[TreeNodes + Symbols];
    // Zeros past the nodes: a leaf's grandchildren, kept without a test and never used.
    int16_t Child[TreeNodes + Symbols + 1];
    int16_t Grand[2 * TreeNodes];
};

namespace {

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

// How many of the 8 frequencies from F on are below K, for frequencies that never decrease.
inline unsigned CountBelow(const uint16_t* F, unsigned K)
{
#if defined(__SSE2__)
    const __m128i Next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(F));
    const __m128i Below = _mm_cmpeq_epi16(_mm_subs_epu16(Next, _mm_set1_epi16(static_cast<short>(K - 1))),
                                          _mm_setzero_si128());
    // The ones below K come first: their mask bits (two each) are the low ones.
    const unsigned Mask = static_cast<unsigned>(_mm_movemask_epi8(Below)) & 0xFFFF;
    return static_cast<unsigned>(std::countr_one(Mask)) >> 1;
#else
    unsigned D = 0;
    while (D < 8 && F[D] < K)
        ++D;
    return D;
#endif
}

// The decoder's input: the stream's next bits in a register, most significant first. Bits past
// the end of the input read as zeros, and it is known when a code took one of them.
class TBitReader {
public:
    explicit TBitReader(TLZHByteSource& Source) : Source(Source) {}

    // At least 57 bits in the register.
    void Fill()
    {
        if (Count > 56)
            return;
        if (Source.Ahead() >= sizeof(uint64_t)) {
            // The bits under the whole bytes taken are the stream's next ones too: a later fill
            // writes the same bits over them.
            Bits |= GetBE64(Source.Window()) >> Count;
            const int Take = (64 - Count) >> 3;
            Source.Skip(static_cast<size_t>(Take));
            Count += Take * 8;
            return;
        }
        FillSlowly();
    }
    // The next bits, left-aligned: the first Held() of them are the stream's (or zeros past it).
    uint64_t Peek() const { return Bits; }
    int Held() const { return Count; }
    void Skip(int Len)
    {
        Bits <<= Len;
        Count -= Len;
    }
    unsigned Bit()
    {
        Fill();
        const unsigned B = static_cast<unsigned>(Bits >> 63);
        Skip(1);
        return B;
    }
    // Whether the codes taken so far reach into the zeros that stand in for a missing input.
    bool PastEnd() const { return Missing * 8 > Count; }

private:
    void FillSlowly()
    {
        while (Count <= 56) {
            // Once the end is seen the source is not asked again.
            const int B = Missing ? -1 : Source.Get();
            Bits |= uint64_t(B < 0 ? 0 : B) << (56 - Count);
            Count += 8;
            Missing += B < 0;
        }
    }

    TLZHByteSource& Source;
    uint64_t Bits = 0;
    int Count = 0;
    int Missing = 0;  // bytes the source had no more of
};

// One coding run over a set of tables.
class TCoder {
public:
    explicit TCoder(TLZHTables& T) : Freq(T.Freq), HuffParent(T.HuffParent),
        Child(T.Child), Grand(T.Grand) {}

    // KeepGrandchildren: the decoder walks two levels a step and needs Grand kept up.
    void StartHuffman(bool KeepGrandchildren = false);

    void EncodeSymbol(TLZHByteSink& Sink, int C);
    void EncodePosition(TLZHByteSink& Sink, unsigned P)
    {
        const unsigned U = P >> 6;
        const int Len = PositionCode.Length[U];
        PutBits(Sink, (unsigned(PositionCode.Code[U]) >> (8 - Len)) << 6 | (P & 63), Len + 6);
    }
    void EndBits(TLZHByteSink& Sink)
    {
        if (OutCount > 0)
            Sink.Put(static_cast<uint8_t>(OutBits << (8 - OutCount)));
    }

    int DecodeSymbol(TBitReader& In);
    int DecodePosition(TBitReader& In)
    {
        if (In.Held() < 14)
            In.Fill();
        const uint64_t Peek = In.Peek();
        const unsigned B = static_cast<unsigned>(Peek >> 56);
        const int Len = PositionCode.DecodedLength[B];
        const unsigned Low = static_cast<unsigned>(Peek >> (58 - Len)) & 63;
        In.Skip(Len + 6);
        return static_cast<int>(unsigned(PositionCode.DecodedValue[B]) << 6 | Low);
    }

private:
    // The nodes from a symbol's leaf up to the root's child, as found by the coding step.
    static constexpr int PathMax = 64;

    void Update(int C);
    void UpdateAlong(int C, const int16_t* Path, int Depth);
    void UpdateFrom(int N);
    int Promote(int N, unsigned K);
    void Rebuild();
    // Grand[2X + B] is the child value of node X's child B, for an X that is not a leaf.
    void RefreshGrand(int X)
    {
        const int C = Child[X];
        Grand[2 * X] = Child[C];
        Grand[2 * X + 1] = Child[C + 1];
    }
    void RefreshAllGrand()
    {
        for (int X = 0; X < TreeNodes; ++X)
            RefreshGrand(X);
    }

    // Bits are appended at the low end and leave most significant first.
    void PutBits(TLZHByteSink& Sink, uint32_t Value, int Len)
    {
        OutBits = OutBits << Len | Value;
        OutCount += Len;
        while (OutCount >= 8) {
            OutCount -= 8;
            Sink.Put(static_cast<uint8_t>(OutBits >> OutCount));
        }
    }

    uint16_t* Freq;
    int16_t* HuffParent;
    int16_t* Child;
    int16_t* Grand;
    bool KeepGrand = false;
    uint64_t OutBits = 0;
    int OutCount = 0;
    int16_t Path[PathMax];
};

void TCoder::StartHuffman(bool KeepGrandchildren)
{
    KeepGrand = KeepGrandchildren;
    // Fully defined: the two-level walk reads a leaf's entries and then ignores them.
    std::memset(Grand, 0, 2 * TreeNodes * sizeof(Grand[0]));
    std::memset(Child + TreeNodes, 0, (Symbols + 1) * sizeof(Child[0]));
    for (int C = 0; C < Symbols; ++C) {
        Freq[C] = 1;
        Child[C] = static_cast<int16_t>(C + TreeNodes);
        HuffParent[C + TreeNodes] = static_cast<int16_t>(C);
    }
    for (int I = 0, J = Symbols; J <= Root; I += 2, ++J) {
        Freq[J] = static_cast<uint16_t>(Freq[I] + Freq[I + 1]);
        Child[J] = static_cast<int16_t>(I);
        HuffParent[I] = HuffParent[I + 1] = static_cast<int16_t>(J);
    }
    for (int I = TreeNodes; I < TreeNodes + 9; ++I)
        Freq[I] = 0xFFFF;
    HuffParent[Root] = 0;
    if (KeepGrand)
        RefreshAllGrand();
}

void TCoder::Rebuild()
{
    int J = 0;
    for (int I = 0; I < TreeNodes; ++I) {
        if (Child[I] >= TreeNodes) {
            Freq[J] = static_cast<uint16_t>((Freq[I] + 1) / 2);
            Child[J] = Child[I];
            ++J;
        }
    }
    for (int I = 0, Node = Symbols; Node < TreeNodes; I += 2, ++Node) {
        const uint16_t F = static_cast<uint16_t>(Freq[I] + Freq[I + 1]);
        int P = Node - 1;
        while (F < Freq[P])
            --P;
        ++P;
        std::memmove(&Freq[P + 1], &Freq[P], (Node - P) * sizeof(Freq[0]));
        std::memmove(&Child[P + 1], &Child[P], (Node - P) * sizeof(Child[0]));
        Freq[P] = F;
        Child[P] = static_cast<int16_t>(I);
    }
    for (int I = 0; I < TreeNodes; ++I) {
        const int V = Child[I];
        HuffParent[V] = static_cast<int16_t>(I);
        if (V < TreeNodes)
            HuffParent[V + 1] = static_cast<int16_t>(I);
    }
    if (KeepGrand)
        RefreshAllGrand();
}

// Moves node N, whose frequency has just become K, past the run of nodes still below K;
// returns its new index.
int TCoder::Promote(int N, unsigned K)
{
    // Frequencies never decrease with the index: the last node below K is usually a few steps
    // on, and otherwise found by bisection; the guard stops every search.
    // The 8 nodes after N + 1 compared at once: the ones below K come first.
    const unsigned D = CountBelow(Freq + N + 2, K);
    int M = N + 1 + static_cast<int>(D);
    if (D == 8) {
        int Lo = M, Hi = TreeNodes;  // Freq[Lo] < K <= Freq[Hi]
        while (Hi - Lo > 1) {
            const int Mid = (Lo + Hi) >> 1;
            if (Freq[Mid] < K)
                Lo = Mid;
            else
                Hi = Mid;
        }
        M = Lo;
    }
    Freq[N] = Freq[M];
    Freq[M] = static_cast<uint16_t>(K);
    // A leaf has one entry, written twice: no branch on what kind of node moves.
    const int A = Child[N];
    HuffParent[A] = static_cast<int16_t>(M);
    HuffParent[A + (A < TreeNodes)] = static_cast<int16_t>(M);
    const int B = Child[M];
    Child[M] = static_cast<int16_t>(A);
    HuffParent[B] = static_cast<int16_t>(N);
    HuffParent[B + (B < TreeNodes)] = static_cast<int16_t>(N);
    Child[N] = static_cast<int16_t>(B);
    if (KeepGrand) {
        // N and M swap their subtrees, so they swap their grandchildren. Neither is under the
        // other (a parent counts more than its child), and a child is its parent's first child
        // (an even index) or the next one.
        uint32_t RowN, RowM;
        std::memcpy(&RowN, Grand + 2 * N, 4);
        std::memcpy(&RowM, Grand + 2 * M, 4);
        std::memcpy(Grand + 2 * N, &RowM, 4);
        std::memcpy(Grand + 2 * M, &RowN, 4);
        Grand[2 * HuffParent[N] + (N & 1)] = static_cast<int16_t>(B);
        Grand[2 * HuffParent[M] + (M & 1)] = static_cast<int16_t>(A);
    }
    return M;
}

void TCoder::UpdateFrom(int N)
{
    do {
        const unsigned K = ++Freq[N];
        if (K > Freq[N + 1])
            N = Promote(N, K);
        N = HuffParent[N];
    } while (N != 0);
}

void TCoder::Update(int C)
{
    if (Freq[Root] == FrequencyLimit)
        Rebuild();
    UpdateFrom(HuffParent[C + TreeNodes]);
}

// The same update, walking a path the coder has just seen instead of chasing parent links:
// the steps no longer wait on each other's loads. The path holds until the first move.
void TCoder::UpdateAlong(int C, const int16_t* Path, int Depth)
{
    if (Freq[Root] == FrequencyLimit) {
        Rebuild();
        UpdateFrom(HuffParent[C + TreeNodes]);
        return;
    }
    for (int I = 0; I < Depth; ++I) {
        const int N = Path[I];
        const unsigned K = ++Freq[N];
        if (K > Freq[N + 1]) {
            UpdateFrom(HuffParent[Promote(N, K)]);
            return;
        }
    }
    // The root: its frequency stays below the guard's.
    ++Freq[Root];
}

void TCoder::EncodeSymbol(TLZHByteSink& Sink, int C)
{
    // The path from the leaf up; the leaf's bit ends up lowest, so it is sent last.
    uint32_t Code = 0;
    int Len = 0;
    int K = HuffParent[C + TreeNodes];
    do {
        Code |= uint32_t(K & 1) << Len;
        if (Len < PathMax)
            Path[Len] = static_cast<int16_t>(K);
        ++Len;
        K = HuffParent[K];
    } while (K != Root);
    // A tree of 314 leaves under the frequency limit is at most about 22 levels deep, so the
    // whole path fits one call (the accumulator holds 7 pending bits plus 32).
    PutBits(Sink, Code, Len);
    if (Len <= PathMax)
        UpdateAlong(C, Path, Len);
    else
        Update(C);
}

int TCoder::DecodeSymbol(TBitReader& In)
{
    In.Fill();
    // The walk reads its bits from the register and notes its path; the bits are taken
    // afterwards.
    uint64_t Peek = In.Peek();
    int N = Child[Root];
    int16_t* Slot = Path + PathMax;  // filled downwards: the leaf ends up first
    int Used = 0;
    // Two levels a step: the grandchild is loaded together with the child, so the walk waits
    // for one load per two bits. A step takes at most two of the 57 bits held.
    while (N < TreeNodes && Used < PathMax - 8) {
        const int X = N + static_cast<int>(Peek >> 63);
        const int Second = static_cast<int>(Peek >> 62) & 1;
        const int C = Child[X];
        const int Next = Grand[2 * X + Second];
        *--Slot = static_cast<int16_t>(X);
        ++Used;
        if (C >= TreeNodes) {
            N = C;
            break;
        }
        *--Slot = static_cast<int16_t>(C + Second);
        ++Used;
        Peek <<= 2;
        N = Next;
    }
    In.Skip(Used);
    if (N >= TreeNodes) {
        N -= TreeNodes;
        UpdateAlong(N, Slot, Used);
        return N;
    }
    // Deeper than any tree under the frequency limit gets; finished the plain way.
    while (N < TreeNodes)
        N = Child[N + In.Bit()];
    N -= TreeNodes;
    Update(N);
    return N;
}

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


// The coder's step at one position: a literal, or the match the search found there (cut to
// the Ahead bytes left); returns the positions it covers.
inline int CodeStep(TCoder& Coder, TLZHByteSink& Sink, uint32_t Match, uint8_t Literal, int Ahead)
{
    const int MatchLength = std::min(static_cast<int>(Match >> 12), Ahead);
    if (MatchLength <= Threshold) {
        Coder.EncodeSymbol(Sink, Literal);
        return 1;
    }
    Coder.EncodeSymbol(Sink, 255 - Threshold + MatchLength);
    Coder.EncodePosition(Sink, Match & WindowMask);
    return MatchLength;
}

// The search on the coder's thread, over the ring: the finder inserts every position in order
// and notes its match, the coder picks the matches it codes.

// Input bytes and matches held ahead of the coder: the finder needs 60 bytes past a position.
constexpr int PieceBytes = 32768;
constexpr int64_t Span = int64_t(PieceBytes) * 4;

struct TSoloTables {
    TTreeTables Trees;
    uint8_t Input[Span];    // byte J at J % Span
    uint32_t Found[Span];   // position K's match at K % Span: length << 12 | position
};

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

// The search split over two threads. An insertion or deletion only touches the tree of its
// string's first byte, so each thread owns some of the 256 trees (balanced by how often their
// bytes occur) and makes the searches of the positions that start with its bytes. Each keeps
// its own ring, written as the one-thread search writes it: the tree walk then reads strings
// at a node's index, with no sum on its chain of loads (reading them from one linear copy of
// the input, shared by both, made the walk a fifth slower). The input goes in blocks: each
// block says which thread owns which tree, and a tree that changes hands moves between the
// threads' tables at the block's start. The coder (on the caller's thread, which searches too) codes a block once
// both have searched it.

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
    std::unique_ptr<uint8_t[]> Bytes;
    // Each thread's matches for its positions (length << 12 | position), apart so that the two
    // never write to one cache line.
    std::unique_ptr<uint32_t[]> Found[2];
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
    TSplitSearch(int BlockSize, bool Fail);

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
    std::unique_ptr<TSplitPart> Parts[2];
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

// The codec's tables; Fail acts as if memory ran out.
template <typename T>
std::unique_ptr<T> TakeTables(bool Fail)
{
    std::unique_ptr<T> Tables(Fail ? nullptr : new (std::nothrow) T);
    if (!Tables)
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    return Tables;
}

template <typename T>
std::unique_ptr<T[]> TakeArray(size_t Count, bool Fail)
{
    std::unique_ptr<T[]> Array(Fail ? nullptr : new (std::nothrow) T[Count]);
    if (!Array)
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    return Array;
}

TSplitSearch::TSplitSearch(int BlockSize, bool Fail) : BlockSize(BlockSize)
{
    for (TSplitBlock& Blk : Blocks) {
        Blk.Bytes = TakeArray<uint8_t>(size_t(BlockSize) + Tail, Fail);
        for (auto& Found : Blk.Found)
            Found = TakeArray<uint32_t>(size_t(BlockSize), Fail);
    }
    for (auto& Part : Parts) {
        Part = TakeTables<TSplitPart>(Fail);
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
        if (Owner[' '] == P) {
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
    TPrefixedSource(const std::vector<uint8_t>& Prefix, TLZHByteSource& Rest) : Prefix(Prefix), Rest(Rest) {}

protected:
    bool Refill() override
    {
        if (!PrefixGiven) {
            PrefixGiven = true;
            if (!Prefix.empty()) {
                Next = Prefix.data();
                Limit = Next + Prefix.size();
                return true;
            }
        }
        const size_t Got = Rest.Read(Piece, sizeof Piece);
        Next = Piece;
        Limit = Piece + Got;
        return Got > 0;
    }

private:
    const std::vector<uint8_t>& Prefix;
    TLZHByteSource& Rest;
    bool PrefixGiven = false;
    uint8_t Piece[PieceBytes];
};

// The whole encoder on the caller's thread.
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

} // namespace

TLZH::TLZH(bool FailAllocation) : FailAllocation(FailAllocation) {}
TLZH::~TLZH() = default;

void TLZH::Encode(int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink)
{
    const auto Tables = TakeTables<TLZHTables>(FailAllocation);
    const auto Solo = TakeTables<TSoloTables>(FailAllocation);
    TCoder Coder(*Tables);
    Coder.StartHuffman();
    // Two threads need a second core, and enough input to repay starting one: the input is read
    // that far before the choice.
    if (!SearchThread || std::thread::hardware_concurrency() < 2) {
        EncodeAlone(Coder, *Solo, Count, Source, Sink);
        return;
    }
    const int BlockSize = std::max(SplitBlock, Tail);
    std::unique_ptr<TSplitSearch> Split(new (std::nothrow) TSplitSearch(BlockSize, FailAllocation));
    if (!Split)
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    const size_t SplitAt = static_cast<size_t>(std::max(SplitFrom, int32_t(1)));
    std::vector<uint8_t> Prefix;
    try {
        Prefix.resize(SplitAt);
    } catch (const std::bad_alloc&) {
        throw ElzhException("LZH : Cannot get memory for dictionary tables");
    }
    Prefix.resize(Source.Read(Prefix.data(), Prefix.size()));
    if (Prefix.size() < SplitAt) {
        TMemoryByteSource Short(Prefix.data(), Prefix.size());
        EncodeAlone(Coder, *Solo, Count, Short, Sink);
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
        TPrefixedSource Rest(Prefix, Source);
        EncodeAlone(Coder, *Solo, Count, Rest, Sink);
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
        size_t Got = std::min(Prefix.size() - PrefixTaken, size_t(BlockSize));
        std::memcpy(To, Prefix.data() + PrefixTaken, Got);
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
    const auto Tables = TakeTables<TLZHTables>(FailAllocation);
    const auto Window = TakeTables<TDecodeWindow>(FailAllocation);
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
