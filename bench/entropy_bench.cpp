// Throughput of the entropy coding core: adaptive coding and decoding of a
// skewed 257-symbol source (the shape of move-to-front ranks with a zero-run
// alphabet) and of uniform symbols (random input), with the 16-bit coder,
// and the 18-bit coder over a fixed table. Each pair runs with the reference
// coder and model (Plain*) and the fast ones. Reports symbols per second and
// bits per symbol.

#include "entropy/arithmeticcodec.h"
#include "entropy/bitstream.h"
#include "entropy/cumulativelookup.h"
#include "entropy/plainarithmeticcodec.h"
#include "entropy/plainsymbolstats.h"
#include "entropy/symbolstats.h"

#include <benchmark/benchmark.h>

#include <random>
#include <type_traits>
#include <string>
#include <streambuf>
#include <vector>

namespace {

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;
using Coder18 = ArithmeticCoder<unsigned, unsigned long long, 18>;
using Decoder18 = ArithmeticDecoder<unsigned, unsigned long long, 18>;
using PlainCoder16 = PlainArithmeticCoder<unsigned, unsigned, 16>;
using PlainDecoder16 = PlainArithmeticDecoder<unsigned, unsigned, 16>;
using PlainCoder18 = PlainArithmeticCoder<unsigned, unsigned long long, 18>;
using PlainDecoder18 = PlainArithmeticDecoder<unsigned, unsigned long long, 18>;
using Model = AdaptiveSymbolStats<unsigned>;
using PlainModel = PlainSymbolStats<unsigned>;

constexpr unsigned alphabet = 257;
constexpr unsigned adaptiveLimit = 16384;
constexpr size_t symbolCount = 1 << 20;


// Mostly small symbols with a long tail: about half are 0, a few percent
// spread over the whole alphabet.
struct Skewed {
    static const std::vector<unsigned>& symbols();
};

// Every symbol equally likely, as the ranks of random bytes are.
struct Uniform {
    static const std::vector<unsigned>& symbols()
    {
        static const std::vector<unsigned> s = [] {
            std::mt19937 rng(77);
            std::vector<unsigned> v(symbolCount);
            for (auto& x : v) x = rng() % alphabet;
            return v;
        }();
        return s;
    }
};

const std::vector<unsigned>& Skewed::symbols()
{
    static const std::vector<unsigned> symbols = [] {
        std::mt19937 rng(2024);
        std::geometric_distribution<unsigned> geo(0.45);
        std::vector<unsigned> s(symbolCount);
        for (auto& x : s) {
            unsigned v = rng() % 32 == 0 ? rng() % alphabet : geo(rng);
            x = v < alphabet ? v : alphabet - 1;
        }
        return s;
    }();
    return symbols;
}

// The buckets of distance coding on text: 48 symbols (a 10 MiB block),
// mostly the first few, halved at 4096.
struct Buckets {
    static constexpr unsigned alphabet = 48;
    static constexpr unsigned limit = 4096;
    static const std::vector<unsigned>& symbols()
    {
        static const std::vector<unsigned> s = [] {
            std::mt19937 rng(48);
            std::geometric_distribution<unsigned> geo(0.3);
            std::vector<unsigned> v(symbolCount);
            for (auto& x : v) {
                const unsigned g = rng() % 16 == 0 ? rng() % alphabet : geo(rng);
                x = g < alphabet ? g : alphabet - 1;
            }
            return v;
        }();
        return s;
    }
};

template <typename M>
void encodeBuckets(std::string& out)
{
    AppendingOutBitStream<std::string> bits(bitStreamWords, &out);
    bits.reset();
    Coder16 coder(&bits);
    M model(Buckets::alphabet);
    for (unsigned s : Buckets::symbols()) {
        SymbolRange r = model.getRangeThenUpdateAndLimit(s, Buckets::limit);
        coder.encode(r.low, r.high, r.total);
    }
    coder.flush();
    bits.flush();
}

template <typename M>
void BM_EncodeBuckets(benchmark::State& state)
{
    for (auto _ : state) {
        std::string out;
        encodeBuckets<M>(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
}

template <typename M>
void BM_DecodeBuckets(benchmark::State& state)
{
    std::string data;
    encodeBuckets<PlainModel>(data);
    for (auto _ : state) {
        MemoryInBitStream bits(bitStreamWords, data.data(), data.size());
        Decoder16 decoder(&bits);
        decoder.start();
        M model(Buckets::alphabet);
        unsigned check = 0;
        for (size_t i = 0; i < symbolCount; ++i) {
            SymbolRange r;
            check += model.findRangeThenUpdateAndLimit(decoder.decode(model.getMax()), Buckets::limit, r);
            decoder.decodeExtract(r.low, r.high, r.total);
        }
        benchmark::DoNotOptimize(check);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
}

// Cumulative table proportional to the source's frequencies, total 65535.
template <typename Source>
std::vector<unsigned> fixedTable()
{
    std::vector<unsigned> freq(alphabet, 0);
    for (unsigned s : Source::symbols()) ++freq[s];
    std::vector<unsigned> tab(alphabet + 1, 0);
    unsigned long long sum = 0;
    for (unsigned s = 0; s < alphabet; ++s) {
        sum += freq[s];
        tab[s + 1] = unsigned(sum * (65535 - alphabet) / symbolCount) + s + 1;
    }
    tab[alphabet] = 65535;
    return tab;
}

template <typename Coder, typename M, typename Source, bool Adaptive>
void encodeAll(std::string& out, const std::vector<unsigned>& tab)
{
    AppendingOutBitStream<std::string> bits(bitStreamWords, &out);
    bits.reset();
    Coder coder(&bits);
    M model(alphabet);
    for (unsigned s : Source::symbols()) {
        if (Adaptive) {
            SymbolRange r = model.getRangeThenUpdateAndLimit(s, adaptiveLimit);
            coder.encode(r.low, r.high, r.total);
        } else {
            coder.encode(tab[s], tab[s + 1], tab[alphabet]);
        }
    }
    coder.flush();
    bits.flush();
}

template <typename Coder, typename M, typename Source, bool Adaptive>
void BM_Encode(benchmark::State& state)
{
    std::vector<unsigned> tab = fixedTable<Source>();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        encodeAll<Coder, M, Source, Adaptive>(out, tab);
        bytes = out.size();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
    state.counters["bits/symbol"] = 8.0 * double(bytes) / double(symbolCount);
}

template <typename Coder, typename Decoder, typename M, typename Source, bool Adaptive>
void BM_Decode(benchmark::State& state)
{
    std::vector<unsigned> tab = fixedTable<Source>();
    std::string data;
    encodeAll<Coder, M, Source, Adaptive>(data, tab);
    for (auto _ : state) {
        MemoryInBitStream bits(bitStreamWords, data.data(), data.size());
        Decoder decoder(&bits);
        decoder.start();
        M model(alphabet);
        CumulativeLookup lookup(tab.data(), alphabet);
        unsigned check = 0;
        for (size_t i = 0; i < symbolCount; ++i) {
            unsigned s;
            if (Adaptive) {
                SymbolRange r;
                s = model.findRangeThenUpdateAndLimit(decoder.decode(model.getMax()), adaptiveLimit, r);
                decoder.decodeExtract(r.low, r.high, r.total);
            } else {
                unsigned count = decoder.decode(tab[alphabet]);
                // The model type picks the search: binary for the plain one.
                if (std::is_same<M, PlainModel>::value)
                    s = findSymbolBinary(tab.data(), alphabet, count);
                else
                    s = lookup.find(count);
                decoder.decodeExtract(tab[s], tab[s + 1], tab[alphabet]);
            }
            check += s;
        }
        benchmark::DoNotOptimize(check);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
}

#define VARN_ADAPTIVE(name, C, D, M, S)                                                          \
    BENCHMARK_TEMPLATE(BM_Encode, C, M, S, true)->Name("AdaptiveEncode16/" name)->Unit(benchmark::kMillisecond); \
    BENCHMARK_TEMPLATE(BM_Decode, C, D, M, S, true)->Name("AdaptiveDecode16/" name)->Unit(benchmark::kMillisecond)
#define VARN_FIXED(name, C, D, M, S)                                                                       \
    BENCHMARK_TEMPLATE(BM_Encode, C, M, S, false)->Name("FixedEncode18/" name)->Unit(benchmark::kMillisecond); \
    BENCHMARK_TEMPLATE(BM_Decode, C, D, M, S, false)->Name("FixedDecode18/" name)->Unit(benchmark::kMillisecond)

VARN_ADAPTIVE("skewed/plain", PlainCoder16, PlainDecoder16, PlainModel, Skewed);
VARN_ADAPTIVE("skewed/fastcoder", Coder16, Decoder16, PlainModel, Skewed);
VARN_ADAPTIVE("skewed/fast", Coder16, Decoder16, Model, Skewed);
VARN_ADAPTIVE("uniform/plain", PlainCoder16, PlainDecoder16, PlainModel, Uniform);
VARN_ADAPTIVE("uniform/fastcoder", Coder16, Decoder16, PlainModel, Uniform);
VARN_ADAPTIVE("uniform/fast", Coder16, Decoder16, Model, Uniform);
// Fixed tables: "plain" is the reference coder with binary search,
// "fastcoder" the fast coder with binary search, "fast" adds the lookup.
VARN_FIXED("skewed/plain", PlainCoder18, PlainDecoder18, PlainModel, Skewed);
VARN_FIXED("skewed/fastcoder", Coder18, Decoder18, PlainModel, Skewed);
VARN_FIXED("skewed/fast", Coder18, Decoder18, Model, Skewed);
VARN_FIXED("uniform/plain", PlainCoder18, PlainDecoder18, PlainModel, Uniform);
VARN_FIXED("uniform/fastcoder", Coder18, Decoder18, PlainModel, Uniform);
VARN_FIXED("uniform/fast", Coder18, Decoder18, Model, Uniform);

// The distance-coding bucket model: reference and two-level.
BENCHMARK_TEMPLATE(BM_EncodeBuckets, PlainModel)->Name("BucketsEncode16/plain")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_EncodeBuckets, Model)->Name("BucketsEncode16/twolevel")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_DecodeBuckets, PlainModel)->Name("BucketsDecode16/plain")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_DecodeBuckets, Model)->Name("BucketsDecode16/twolevel")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
