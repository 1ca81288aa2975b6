// The coder's rarer work: its start, the rebuild at the frequency limit, the moves that keep
// the tree ordered, and the encoder's symbol step.
#include "LzhCoder.h"

namespace lzhcodec {

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

} // namespace lzhcodec
