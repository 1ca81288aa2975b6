// Throughput of the two codecs through the whole component (stream mode, in memory), with
// zlib and lz4 run on the same dumps as peers. Ends with the four ratios the engine is held to.
//
// Console output only; for a machine-readable copy add --benchmark_out=FILE
// --benchmark_out_format=json.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "compress/LZRW1.h"
#include "tests/support/SampleDisk.h"

namespace {

struct TDump {
    std::string Label;
    std::vector<uint8_t> Bytes;
};

// The disk the targets are measured on.
const char* const TargetDump = "filled144";

void Report(benchmark::State& State, size_t Original, size_t Compressed)
{
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Original));
    State.counters["compressed"] = double(Compressed);
    State.counters["ratio"] = Original ? double(Compressed) / double(Original) : 0.0;
}

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

void ComponentEncode(benchmark::State& State, const TDump& Dump, TCompressMode Mode)
{
    try {
        TComponentRun Run(Dump.Bytes, Mode);
        size_t Compressed = 0;
        for (auto _ : State)
            Compressed = Run.Compress().size();
        Report(State, Dump.Bytes.size(), Compressed);
    } catch (const std::exception& Error) {
        State.SkipWithError(Error.what());
    }
}

void ComponentDecode(benchmark::State& State, const TDump& Dump, TCompressMode Mode)
{
    try {
        std::vector<uint8_t> Image = TComponentRun(Dump.Bytes, Mode).Compress();
        TComponentRun Run(Image, Mode);
        if (Run.Decompress() != Dump.Bytes) {
            State.SkipWithError("decompressed image differs from the dump");
            return;
        }
        for (auto _ : State)
            benchmark::DoNotOptimize(Run.Decompress().data());
        Report(State, Dump.Bytes.size(), Image.size());
    } catch (const std::exception& Error) {
        State.SkipWithError(Error.what());
    }
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& In)
{
    uLongf Length = compressBound(uLong(In.size()));
    std::vector<uint8_t> Out(Length);
    if (compress2(Out.data(), &Length, In.data(), uLong(In.size()), 6) != Z_OK)
        return {};
    Out.resize(Length);
    return Out;
}

void ZlibDeflate(benchmark::State& State, const TDump& Dump)
{
    std::vector<uint8_t> Out(compressBound(uLong(Dump.Bytes.size())));
    uLongf Length = 0;
    for (auto _ : State) {
        Length = uLongf(Out.size());
        compress2(Out.data(), &Length, Dump.Bytes.data(), uLong(Dump.Bytes.size()), 6);
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Dump.Bytes.size(), Length);
}

void ZlibInflate(benchmark::State& State, const TDump& Dump)
{
    std::vector<uint8_t> Packed = Deflate(Dump.Bytes);
    std::vector<uint8_t> Out(Dump.Bytes.size());
    for (auto _ : State) {
        uLongf Length = uLongf(Out.size());
        if (uncompress(Out.data(), &Length, Packed.data(), uLong(Packed.size())) != Z_OK) {
            State.SkipWithError("inflate failed");
            return;
        }
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Dump.Bytes.size(), Packed.size());
}

std::vector<uint8_t> Lz4Compress(const std::vector<uint8_t>& In)
{
    std::vector<uint8_t> Out(LZ4_compressBound(int(In.size())));
    int Length = LZ4_compress_default(reinterpret_cast<const char*>(In.data()),
                                      reinterpret_cast<char*>(Out.data()), int(In.size()),
                                      int(Out.size()));
    Out.resize(Length > 0 ? size_t(Length) : 0);
    return Out;
}

void Lz4Encode(benchmark::State& State, const TDump& Dump)
{
    std::vector<uint8_t> Out(LZ4_compressBound(int(Dump.Bytes.size())));
    int Length = 0;
    for (auto _ : State) {
        Length = LZ4_compress_default(reinterpret_cast<const char*>(Dump.Bytes.data()),
                                      reinterpret_cast<char*>(Out.data()),
                                      int(Dump.Bytes.size()), int(Out.size()));
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Dump.Bytes.size(), size_t(Length));
}

void Lz4Decode(benchmark::State& State, const TDump& Dump)
{
    std::vector<uint8_t> Packed = Lz4Compress(Dump.Bytes);
    std::vector<uint8_t> Out(Dump.Bytes.size());
    for (auto _ : State) {
        int Length = LZ4_decompress_safe(reinterpret_cast<const char*>(Packed.data()),
                                         reinterpret_cast<char*>(Out.data()),
                                         int(Packed.size()), int(Out.size()));
        if (Length != int(Dump.Bytes.size())) {
            State.SkipWithError("lz4 decompression failed");
            return;
        }
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Dump.Bytes.size(), Packed.size());
}

std::string BenchName(const TDump& Dump, const char* Operation)
{
    return "BM_Codec/" + Dump.Label + "/" + Operation;
}

void RegisterAll(const std::vector<TDump>& Dumps)
{
    for (const TDump& Dump : Dumps) {
        auto Add = [&](const char* Operation, auto Function) {
            benchmark::RegisterBenchmark(BenchName(Dump, Operation).c_str(),
                                         [&Dump, Function](benchmark::State& State) {
                                             Function(State, Dump);
                                         })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        };
        Add("lzh_encode", [](benchmark::State& S, const TDump& D) {
            ComponentEncode(S, D, TCompressMode::Good);
        });
        Add("lzh_decode", [](benchmark::State& S, const TDump& D) {
            ComponentDecode(S, D, TCompressMode::Good);
        });
        Add("lzrw1kh_encode", [](benchmark::State& S, const TDump& D) {
            ComponentEncode(S, D, TCompressMode::Fast);
        });
        Add("lzrw1kh_decode", [](benchmark::State& S, const TDump& D) {
            ComponentDecode(S, D, TCompressMode::Fast);
        });
        Add("zlib6_deflate", ZlibDeflate);
        Add("zlib6_inflate", ZlibInflate);
        Add("lz4_compress", Lz4Encode);
        Add("lz4_decompress", Lz4Decode);
    }
}

// The console table as usual, keeping each benchmark's throughput for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs) {
            if (R.error_occurred)
                continue;
            // With repetitions, the median stands for the name.
            bool Median = R.run_type == Run::RT_Aggregate && R.aggregate_name == "median";
            if (R.run_type != Run::RT_Iteration && !Median)
                continue;
            auto Rate = R.counters.find("bytes_per_second");
            if (Rate != R.counters.end())
                Throughput[R.run_name.function_name] = Rate->second.value;
        }
    }

    double MebibytesPerSecond(const std::string& Name) const
    {
        auto Found = Throughput.find(Name);
        return Found == Throughput.end() ? 0.0 : Found->second / (1024.0 * 1024.0);
    }

private:
    std::map<std::string, double> Throughput;
};

void PrintSummary(const TSummaryReporter& Reporter)
{
    struct TTarget {
        const char* Engine;
        const char* Peer;
        const char* Text;
        double Minimum;
    };
    const TTarget Targets[] = {
        {"lzh_encode", "zlib6_deflate", "LZH encode      / zlib deflate -6", 1.0},
        {"lzh_decode", "zlib6_inflate", "LZH decode      / zlib inflate   ", 0.4},
        {"lzrw1kh_encode", "lz4_compress", "LZRW1/KH encode / lz4 compress   ", 0.5},
        {"lzrw1kh_decode", "lz4_decompress", "LZRW1/KH decode / lz4 decompress ", 0.25},
    };
    TDump Target{TargetDump, {}};
    std::printf("\nTargets on %s (throughput ratio, engine / peer):\n", TargetDump);
    for (const TTarget& T : Targets) {
        double Engine = Reporter.MebibytesPerSecond(BenchName(Target, T.Engine));
        double Peer = Reporter.MebibytesPerSecond(BenchName(Target, T.Peer));
        if (Engine <= 0 || Peer <= 0) {
            std::printf("  %s  not measured in this run\n", T.Text);
            continue;
        }
        double Ratio = Engine / Peer;
        std::printf("  %s  %7.1f / %7.1f MiB/s = %5.2fx  (target >= %.2fx)  %s\n", T.Text,
                    Engine, Peer, Ratio, T.Minimum, Ratio >= T.Minimum ? "met" : "MISSED");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // Made once, before timing: 1.44MB and 2.88MB diskettes with files, and the two extremes.
    const std::vector<TDump> Dumps = {
        {"filled144", MakeSampleDisk(1474560, TSampleKind::Filled)},
        {"filled288", MakeSampleDisk(2949120, TSampleKind::Filled)},
        {"zero144", MakeSampleDisk(1474560, TSampleKind::Zero)},
        {"random144", MakeSampleDisk(1474560, TSampleKind::Random)},
    };
    RegisterAll(Dumps);

    TSummaryReporter Reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                    : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    PrintSummary(Reporter);
    benchmark::Shutdown();
    return 0;
}
