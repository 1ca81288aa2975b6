// Throughput of the two codecs through the whole component (stream mode, in memory), with zlib
// and lz4 run on the same dumps as peers. Every repetition runs each operation once, ours and the
// peer's one after the other, so a ratio compares runs made under the same load; the table gives
// the minimum and the median over the repetitions and ends with the ratios the engine is held to.
//
// marrowtide-bench [--dumps=DIR] [--reps=N] [--only=TEXT] [--ops=TEXT,...]
//   --dumps  a folder with real720.img, real144.img and real288.img (bench/make-real-diskette);
//            without it only the generated dumps are measured
//   --reps   repetitions (default 15)
//   --only   only the dumps whose label contains TEXT
//   --ops    only the operations named (lzh_decode,zlib6_inflate ...)
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compress/LZRW1.h"
#include "compress/lzh.h"
#include "tests/support/SampleDisk.h"

namespace {

struct TDump {
    std::string Label;
    std::vector<uint8_t> Bytes;
};

// The disk the targets are measured on, and the one used when it is missing.
const char* const TargetDump = "real144";
const char* const FallbackDump = "filled144";

// One component set up for stream mode between two memory streams.
class TComponentRun {
public:
    TComponentRun(const std::vector<uint8_t>& Input, TCompressMode Mode) : In(Input)
    {
        Component.UseStream = true;
        Component.CompressMode = Mode;
        Component.InputStream = &In;
        Component.OutputStream = &Out;
        Out.Bytes.reserve(Input.size() * 9 / 8 + 64 * 1024);
    }
    const std::vector<uint8_t>& Compress()
    {
        Rewind();
        Component.Compress();
        return Out.Bytes;
    }
    const std::vector<uint8_t>& Decompress()
    {
        Rewind();
        Component.Decompress();
        return Out.Bytes;
    }

private:
    void Rewind()
    {
        In.Pos = 0;
        Out.Bytes.clear();
        Out.Pos = 0;
    }
    Tlzrw1 Component;
    TMemoryStream In;
    TMemoryStream Out;
};

// One operation on one dump: Run does it once and returns the size of its compressed side.
struct TCase {
    std::string Dump;
    std::string Operation;
    size_t Original = 0;
    std::function<size_t()> Run;
    std::vector<double> Seconds;
    size_t Compressed = 0;
    std::string Error;

    double Min() const { return *std::min_element(Seconds.begin(), Seconds.end()); }
    double Median() const
    {
        std::vector<double> S = Seconds;
        std::sort(S.begin(), S.end());
        const size_t N = S.size();
        return N % 2 ? S[N / 2] : (S[N / 2 - 1] + S[N / 2]) / 2;
    }
    double Rate(double Time) const { return double(Original) / Time / (1024.0 * 1024.0); }
};

// The operations of one dump, each checked once before it is timed.
void AddCases(const TDump& Dump, std::vector<TCase>& Cases)
{
    const std::vector<uint8_t>& Plain = Dump.Bytes;
    auto Add = [&](const char* Operation, std::function<size_t()> Run) {
        TCase C;
        C.Dump = Dump.Label;
        C.Operation = Operation;
        C.Original = Plain.size();
        C.Run = std::move(Run);
        Cases.push_back(std::move(C));
    };
    for (TCompressMode Mode : {TCompressMode::Good, TCompressMode::Fast}) {
        const bool Lzh = Mode == TCompressMode::Good;
        auto Packer = std::make_shared<TComponentRun>(Plain, Mode);
        auto Image = std::make_shared<std::vector<uint8_t>>(Packer->Compress());
        auto Unpacker = std::make_shared<TComponentRun>(*Image, Mode);
        if (Unpacker->Decompress() != Plain)
            throw std::runtime_error(Dump.Label + ": the image does not decompress to the dump");
        Add(Lzh ? "lzh_encode" : "lzrw1kh_encode", [Packer] { return Packer->Compress().size(); });
        Add(Lzh ? "lzh_decode" : "lzrw1kh_decode", [Unpacker, Image] {
            benchmark::DoNotOptimize(Unpacker->Decompress().data());
            return Image->size();
        });
        if (Lzh) {
            // The codec alone, its search on the coder's thread and on a thread of its own.
            for (bool Thread : {false, true}) {
                Add(Thread ? "lzh_encode_2t" : "lzh_encode_1t", [&Plain, Thread] {
                    TLZH Codec;
                    Codec.SearchThread = Thread;
                    TMemoryByteSource Source(Plain.data(), Plain.size());
                    TVectorByteSink Sink;
                    int32_t Count = 0;
                    Codec.Encode(Count, Source, Sink);
                    return Sink.Bytes().size();
                });
            }
        }
    }

    auto Out = std::make_shared<std::vector<uint8_t>>(compressBound(uLong(Plain.size())));
    Add("zlib6_deflate", [&Plain, Out] {
        uLongf Length = uLongf(Out->size());
        if (compress2(Out->data(), &Length, Plain.data(), uLong(Plain.size()), 6) != Z_OK)
            throw std::runtime_error("deflate failed");
        return size_t(Length);
    });
    auto Deflated = std::make_shared<std::vector<uint8_t>>(*Out);
    uLongf DeflatedLength = uLongf(Deflated->size());
    compress2(Deflated->data(), &DeflatedLength, Plain.data(), uLong(Plain.size()), 6);
    Deflated->resize(DeflatedLength);
    auto Inflated = std::make_shared<std::vector<uint8_t>>(Plain.size());
    Add("zlib6_inflate", [Deflated, Inflated] {
        uLongf Length = uLongf(Inflated->size());
        if (uncompress(Inflated->data(), &Length, Deflated->data(), uLong(Deflated->size())) != Z_OK)
            throw std::runtime_error("inflate failed");
        benchmark::DoNotOptimize(Inflated->data());
        return Deflated->size();
    });

    auto Lz4Out = std::make_shared<std::vector<uint8_t>>(size_t(LZ4_compressBound(int(Plain.size()))));
    Add("lz4_compress", [&Plain, Lz4Out] {
        return size_t(LZ4_compress_default(reinterpret_cast<const char*>(Plain.data()),
                                           reinterpret_cast<char*>(Lz4Out->data()), int(Plain.size()),
                                           int(Lz4Out->size())));
    });
    auto Lz4Packed = std::make_shared<std::vector<uint8_t>>(*Lz4Out);
    Lz4Packed->resize(size_t(LZ4_compress_default(reinterpret_cast<const char*>(Plain.data()),
                                                  reinterpret_cast<char*>(Lz4Packed->data()),
                                                  int(Plain.size()), int(Lz4Packed->size()))));
    auto Lz4Back = std::make_shared<std::vector<uint8_t>>(Plain.size());
    Add("lz4_decompress", [Lz4Packed, Lz4Back] {
        const int Length = LZ4_decompress_safe(reinterpret_cast<const char*>(Lz4Packed->data()),
                                               reinterpret_cast<char*>(Lz4Back->data()),
                                               int(Lz4Packed->size()), int(Lz4Back->size()));
        if (Length != int(Lz4Back->size()))
            throw std::runtime_error("lz4 decompression failed");
        benchmark::DoNotOptimize(Lz4Back->data());
        return Lz4Packed->size();
    });
}

// Every repetition runs every case once, in the same order.
void RunAll(std::vector<TCase>& Cases, int Repetitions)
{
    for (int Rep = 0; Rep < Repetitions; ++Rep) {
        for (TCase& C : Cases) {
            if (!C.Error.empty())
                continue;
            try {
                const auto Start = std::chrono::steady_clock::now();
                C.Compressed = C.Run();
                const auto End = std::chrono::steady_clock::now();
                benchmark::ClobberMemory();
                C.Seconds.push_back(std::chrono::duration<double>(End - Start).count());
            } catch (const std::exception& Error) {
                C.Error = Error.what();
            }
        }
    }
}

const TCase* Find(const std::vector<TCase>& Cases, const std::string& Dump, const std::string& Operation)
{
    for (const TCase& C : Cases)
        if (C.Dump == Dump && C.Operation == Operation && C.Error.empty() && !C.Seconds.empty())
            return &C;
    return nullptr;
}

void PrintTable(const std::vector<TCase>& Cases, int Repetitions)
{
    std::printf("%d repetitions, each running every operation once in this order\n\n", Repetitions);
    std::printf("%-10s %-15s %8s %9s %9s %10s %10s\n", "dump", "operation", "size", "min ms",
                "median ms", "MiB/s min", "MiB/s med");
    for (const TCase& C : Cases) {
        if (!C.Error.empty()) {
            std::printf("%-10s %-15s  failed: %s\n", C.Dump.c_str(), C.Operation.c_str(), C.Error.c_str());
            continue;
        }
        std::printf("%-10s %-15s %8.4f %9.2f %9.2f %10.1f %10.1f\n", C.Dump.c_str(), C.Operation.c_str(),
                    double(C.Compressed) / double(C.Original), C.Min() * 1e3, C.Median() * 1e3,
                    C.Rate(C.Min()), C.Rate(C.Median()));
    }
}

void PrintRatios(const std::vector<TCase>& Cases, const std::vector<std::string>& Dumps)
{
    struct TPair {
        const char* Engine;
        const char* Peer;
        const char* Text;
        double Target;  // 0: no target
    };
    const TPair Pairs[] = {
        {"lzh_encode", "zlib6_deflate", "LZH encode      / zlib deflate -6", 0.55},
        {"lzh_decode", "zlib6_inflate", "LZH decode      / zlib inflate   ", 0.25},
        {"lzrw1kh_encode", "lz4_compress", "LZRW1/KH encode / lz4 compress   ", 0.5},
        {"lzrw1kh_decode", "lz4_decompress", "LZRW1/KH decode / lz4 decompress ", 0.25},
        {"lzh_encode_1t", "zlib6_deflate", "LZH encode, 1 thread  / deflate -6", 0},
        {"lzh_encode_2t", "zlib6_deflate", "LZH encode, 2 threads / deflate -6", 0},
        {"lzh_encode_2t", "lzh_encode_1t", "LZH encode, 2 threads / 1 thread  ", 0},
    };
    std::string Target = Find(Cases, TargetDump, "lzh_decode") ? TargetDump : FallbackDump;
    for (const std::string& Dump : Dumps) {
        std::printf("\nRatios on %s (throughput, engine / peer: of the minima, of the medians)%s:\n",
                    Dump.c_str(), Dump == Target ? ", with the targets" : "");
        for (const TPair& P : Pairs) {
            const TCase* E = Find(Cases, Dump, P.Engine);
            const TCase* Peer = Find(Cases, Dump, P.Peer);
            if (!E || !Peer) {
                std::printf("  %s  not measured\n", P.Text);
                continue;
            }
            const double Min = Peer->Min() / E->Min(), Median = Peer->Median() / E->Median();
            std::printf("  %s  %5.2fx  %5.2fx", P.Text, Min, Median);
            if (P.Target > 0 && Dump == Target)
                std::printf("  (target >= %.2fx)  %s", P.Target, Min >= P.Target ? "met" : "MISSED");
            std::printf("\n");
        }
    }
}

std::vector<uint8_t> ReadFile(const std::string& Path)
{
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv)
{
    std::string DumpFolder, Only, Ops;
    int Repetitions = 15;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg.rfind("--dumps=", 0) == 0) {
            DumpFolder = Arg.substr(8);
        } else if (Arg.rfind("--reps=", 0) == 0) {
            Repetitions = std::max(1, std::atoi(Arg.c_str() + 7));
        } else if (Arg.rfind("--only=", 0) == 0) {
            Only = Arg.substr(7);
        } else if (Arg.rfind("--ops=", 0) == 0) {
            Ops = "," + Arg.substr(6) + ",";
        } else {
            std::fprintf(stderr, "usage: marrowtide-bench [--dumps=DIR] [--reps=N] [--only=TEXT] [--ops=TEXT,...]\n");
            return 2;
        }
    }

    // Real diskettes first: the ones the targets are about.
    std::vector<TDump> Dumps;
    if (!DumpFolder.empty()) {
        for (const char* Label : {"real144", "real288", "real720"}) {
            TDump Dump{Label, ReadFile(DumpFolder + "/" + Label + ".img")};
            if (Dump.Bytes.empty())
                std::fprintf(stderr, "marrowtide-bench: no %s/%s.img\n", DumpFolder.c_str(), Label);
            else
                Dumps.push_back(std::move(Dump));
        }
    }
    Dumps.push_back({"filled144", MakeSampleDisk(1474560, TSampleKind::Filled)});
    Dumps.push_back({"filled288", MakeSampleDisk(2949120, TSampleKind::Filled)});
    Dumps.push_back({"zero144", MakeSampleDisk(1474560, TSampleKind::Zero)});
    Dumps.push_back({"random144", MakeSampleDisk(1474560, TSampleKind::Random)});

    std::vector<TCase> Cases;
    std::vector<std::string> Labels;
    try {
        for (const TDump& Dump : Dumps) {
            if (Dump.Label.find(Only) == std::string::npos)
                continue;
            AddCases(Dump, Cases);
            Labels.push_back(Dump.Label);
        }
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "marrowtide-bench: %s\n", Error.what());
        return 1;
    }
    if (!Ops.empty())
        std::erase_if(Cases, [&](const TCase& C) { return Ops.find("," + C.Operation + ",") == std::string::npos; });
    RunAll(Cases, Repetitions);
    PrintTable(Cases, Repetitions);
    PrintRatios(Cases, Labels);
    return 0;
}
