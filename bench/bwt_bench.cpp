// Throughput of the forward and inverse BWT on 10 MiB blocks of five kinds:
// English-like text, random bytes, one repeated byte, a short repeated
// phrase and "mix10m", every file of three corpora (text, binaries, images)
// in path order. The repeated blocks drive the doubling suffix sort through
// the most passes. BM_Bwt and BM_Ibwt run what the program runs (the
// induced sort writing the transform directly, the inverse with many walks
// in flight); BM_SuffixArray* and BM_IbwtPlain time the two suffix sorts
// alone and the plain inverse, the references they replaced, in the same
// run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "transform/bwt.h"
#include "transform/ibwt.h"
#include "transform/sais.h"

namespace {

const std::size_t blockBytes = 10485760;

std::string repeatToBlock(const std::string& unit)
{
    std::string block;
    block.reserve(blockBytes);
    while (block.size() < blockBytes) block.append(unit, 0, std::min(unit.size(), blockBytes - block.size()));
    return block;
}

// Text files of the corpora, concatenated; the last few hundred KB repeat
// the start because the corpora fall short of 10 MiB.
std::string textBlock()
{
    static const char* const names[] = {
        "canterbury-large/bible.txt", "canterbury-large/world192.txt", "calgary/book1",
        "calgary/book2",  "calgary/news",   "calgary/paper1", "calgary/paper2", "calgary/paper3",
        "calgary/paper4", "calgary/paper5", "calgary/paper6", "calgary/bib",    "calgary/trans",
        "calgary/progc",  "calgary/progl",  "calgary/progp",  "canterbury/alice29.txt",
        "canterbury/asyoulik.txt", "canterbury/lcet10.txt", "canterbury/plrabn12.txt",
        "canterbury/cp.html", "canterbury/fields.c",
    };
    std::string text;
    for (const char* name : names) {
        std::ifstream in(std::string(VARN_BENCH_CORPUS_DIR) + "/" + name, std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (text.empty()) text = "The corpus directory was not found; this stands in for English text. ";
    return repeatToBlock(text);
}

// The files of canterbury-large, calgary and canterbury in sorted path
// order, repeated or cut to 10 MiB: the usual mix10m figure.
std::string mixBlock()
{
    namespace fs = std::filesystem;
    std::vector<fs::path> paths;
    for (const char* folder : {"canterbury-large", "calgary", "canterbury"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fs::path(VARN_BENCH_CORPUS_DIR) / folder, ec))
            if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::string mix;
    for (const fs::path& path : paths) {
        std::ifstream in(path, std::ios::binary);
        mix.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (mix.empty()) mix = "The corpus directory was not found; this stands in for the corpora. ";
    return repeatToBlock(mix);
}

std::string randomBlock()
{
    std::mt19937 rng(2027);
    std::string block(blockBytes, '\0');
    for (char& c : block) c = static_cast<char>(rng() >> 24);
    return block;
}

enum Kind { text, random, oneByte, phrase, mix };

const std::string& input(int kind)
{
    static std::map<int, std::string> cache;
    auto it = cache.find(kind);
    if (it != cache.end()) return it->second;
    std::string block;
    switch (kind) {
    case text: block = textBlock(); break;
    case random: block = randomBlock(); break;
    case oneByte: block = std::string(blockBytes, 'a'); break;
    case mix: block = mixBlock(); break;
    default: block = repeatToBlock("the cat sat on the mat. "); break;
    }
    return cache.emplace(kind, std::move(block)).first->second;
}

struct Transformed {
    std::string data;
    unsigned primary;
};

const Transformed& transformed(int kind)
{
    static std::map<int, Transformed> cache;
    auto it = cache.find(kind);
    if (it != cache.end()) return it->second;
    std::string data = input(kind);
    const unsigned primary = bwt<char, unsigned>(&data[0], static_cast<unsigned>(data.size()));
    return cache.emplace(kind, Transformed{std::move(data), primary}).first->second;
}

void BM_Bwt(benchmark::State& state)
{
    const std::string& original = input(static_cast<int>(state.range(0)));
    std::string block;
    for (auto _ : state) {
        state.PauseTiming();
        block = original;
        state.ResumeTiming();
        benchmark::DoNotOptimize(bwt<char, unsigned>(&block[0], static_cast<unsigned>(block.size())));
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * original.size());
}

// The same with the sort given a thread count (second argument): the
// one-block case, where only the sort itself can use a second thread.
void BM_BwtThreads(benchmark::State& state)
{
    const std::string& original = input(static_cast<int>(state.range(0)));
    const unsigned threads = static_cast<unsigned>(state.range(1));
    std::string block;
    for (auto _ : state) {
        state.PauseTiming();
        block = original;
        state.ResumeTiming();
        benchmark::DoNotOptimize(bwt<char, unsigned>(&block[0], static_cast<unsigned>(block.size()), nullptr, threads));
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * original.size());
}

void BM_Ibwt(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const Transformed& t = transformed(kind);
    std::string out(t.data.size(), '\0');
    for (auto _ : state) {
        ibwt<char>(&out[0], t.data.data(), static_cast<unsigned>(t.data.size()), t.primary);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != input(kind)) state.SkipWithError("inverse did not restore the block");
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * t.data.size());
}

void BM_IbwtPlain(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const Transformed& t = transformed(kind);
    std::string out(t.data.size(), '\0');
    for (auto _ : state) {
        ibwtPlain<char>(&out[0], t.data.data(), static_cast<unsigned>(t.data.size()), t.primary);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != input(kind)) state.SkipWithError("inverse did not restore the block");
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * t.data.size());
}

void BM_SuffixArrayFast(benchmark::State& state)
{
    const std::string& block = input(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(suffixArrayFast<unsigned>(block.data(), block.data() + block.size()));
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * block.size());
}

void BM_SuffixArrayDoubling(benchmark::State& state)
{
    const std::string& block = input(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(suffixArray<unsigned>(block.data(), block.data() + block.size()));
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * block.size());
}

void kinds(benchmark::internal::Benchmark* b)
{
    b->ArgName("text0_random1_byte2_phrase3_mix4");
    for (int kind : {text, random, oneByte, phrase, mix}) b->Arg(kind);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Bwt)->Apply(kinds);
BENCHMARK(BM_BwtThreads)
    ->ArgNames({"text0_random1_byte2_phrase3_mix4", "threads"})
    ->ArgsProduct({{1, 4}, {1, 2}})  // random and mix, one and two threads
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Ibwt)->Apply(kinds);
BENCHMARK(BM_SuffixArrayFast)->Apply(kinds);
BENCHMARK(BM_SuffixArrayDoubling)->Apply(kinds);
BENCHMARK(BM_IbwtPlain)->Apply(kinds);


// Distance coding and move-to-front on BWT output of two 10 MiB blocks:
// "mix10m" (the calgary, canterbury and canterbury-large files concatenated
// in sorted path order, repeated to 10 MiB) and random bytes.
#include <cstring>
#include <filesystem>
#include <vector>

#include "transform/distancecodec.h"
#include "transform/mtf.h"

namespace {

// BWT output of mix10m (kind 0) or of random bytes (kind 1).
const std::string& codingInput(int kind)
{
    static std::map<int, std::string> cache;
    auto it = cache.find(kind);
    if (it != cache.end()) return it->second;
    std::string block = kind == 0 ? mixBlock() : input(random);
    bwt<char, unsigned>(&block[0], static_cast<unsigned>(block.size()));
    return cache.emplace(kind, std::move(block)).first->second;
}

template <class Ranks>
void BM_DcEncode(benchmark::State& state)
{
    const std::string& block = codingInput(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        DistanceCoder<char, unsigned, Ranks> coder(256);
        coder.encode(block.data(), block.data() + block.size());
        benchmark::DoNotOptimize(coder.values());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * block.size());
}

template <class Decoder>
void BM_DcDecode(benchmark::State& state)
{
    const std::string& block = codingInput(static_cast<int>(state.range(0)));
    const unsigned n = static_cast<unsigned>(block.size());
    DistanceCoder<char, unsigned> coder(256);
    coder.encode(block.data(), block.data() + n);
    const unsigned* values = coder.values() + coder.valuesBegin();
    const unsigned count = coder.valuesEnd() - coder.valuesBegin();
    std::string out(n, '\0');
    for (auto _ : state) {
        Decoder decoder(256);
        decoder.start(n);
        unsigned k = 0;
        for (; k < count && k < 256; ++k) decoder.feedSymbol(static_cast<char>(k), values[k]);
        for (unsigned s = k; s < 256; ++s) decoder.feedSymbol(static_cast<char>(s), 0);
        unsigned produced = 0;
        auto put = [&](std::pair<char, unsigned> run) {
            std::memset(&out[produced], static_cast<unsigned char>(run.first), run.second);
            produced += run.second;
        };
        for (; k < count; ++k) put(decoder.decode(values[k]));
        while (produced < n) put(decoder.decodeEnding());
        benchmark::DoNotOptimize(out.data());
    }
    if (out != block) state.SkipWithError("distance decoding did not restore the block");
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * n);
}

template <class Coder>
void BM_MtfEncode(benchmark::State& state)
{
    const std::string& block = codingInput(static_cast<int>(state.range(0)));
    std::string ranks(block.size(), '\0');
    for (auto _ : state) {
        Coder coder(256);
        for (std::size_t i = 0; i < block.size(); ++i)
            ranks[i] = static_cast<char>(coder.encode(static_cast<unsigned char>(block[i])));
        benchmark::DoNotOptimize(ranks.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * block.size());
}

template <class Decoder>
void BM_MtfDecode(benchmark::State& state)
{
    const std::string& block = codingInput(static_cast<int>(state.range(0)));
    std::string ranks(block.size(), '\0');
    {
        MTFCoder<unsigned char> coder(256);
        for (std::size_t i = 0; i < block.size(); ++i)
            ranks[i] = static_cast<char>(coder.encode(static_cast<unsigned char>(block[i])));
    }
    std::string out(block.size(), '\0');
    for (auto _ : state) {
        Decoder decoder(256);
        for (std::size_t i = 0; i < block.size(); ++i)
            out[i] = static_cast<char>(decoder.decode(static_cast<unsigned char>(ranks[i])));
        benchmark::DoNotOptimize(out.data());
    }
    if (out != block) state.SkipWithError("move-to-front decoding did not restore the block");
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * block.size());
}

void codingKinds(benchmark::internal::Benchmark* b)
{
    b->ArgName("mix0_random1");
    for (int kind : {0, 1}) b->Arg(kind);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

// Each fast version next to the plain one it replaced.
BENCHMARK_TEMPLATE(BM_DcEncode, distancecoding::RecencyList)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_DcEncode, distancecoding::RecencyRanks)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_DcDecode, DistanceDecoder<char, unsigned>)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_DcDecode, PlainDistanceDecoder<char, unsigned>)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_MtfEncode, MTFCoder<unsigned char>)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_MtfEncode, MTFCoder<unsigned char, false>)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_MtfDecode, MTFDecoder<unsigned char>)->Apply(codingKinds);
BENCHMARK_TEMPLATE(BM_MtfDecode, MTFDecoder<unsigned char, false>)->Apply(codingKinds);

// The bitmap distance decoder the block codec uses, beside the two above.
BENCHMARK_TEMPLATE(BM_DcDecode, BitmapDistanceDecoder<char, unsigned>)->Apply(codingKinds);

BENCHMARK_MAIN();
