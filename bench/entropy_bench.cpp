// Throughput of the entropy coding core: adaptive coding and decoding of a
// skewed 257-symbol source (the shape of move-to-front ranks with a zero-run
// alphabet), with the 16-bit coder, and the 18-bit coder over a fixed table
// for comparison. Reports symbols per second and bits per symbol.

#include "entropy/arithmeticcodec.h"
#include "entropy/bitstream.h"
#include "entropy/symbolstats.h"

#include <benchmark/benchmark.h>

#include <random>
#include <sstream>
#include <streambuf>
#include <vector>

namespace {

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;
using Coder18 = ArithmeticCoder<unsigned, unsigned long long, 18>;
using Decoder18 = ArithmeticDecoder<unsigned, unsigned long long, 18>;

constexpr unsigned alphabet = 257;
constexpr unsigned adaptiveLimit = 16384;
constexpr size_t symbolCount = 1 << 20;

// A sink that only counts bytes, so the benchmark measures coding alone.
class CountingSink : public std::streambuf {
public:
    size_t bytes = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        bytes += size_t(n);
        return n;
    }
};

// Mostly small symbols with a long tail: about half are 0, a few percent
// spread over the whole alphabet.
const std::vector<unsigned>& skewedSymbols()
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

// Cumulative table proportional to the source's frequencies, total 65535.
std::vector<unsigned> fixedTable()
{
    std::vector<unsigned> freq(alphabet, 0);
    for (unsigned s : skewedSymbols()) ++freq[s];
    std::vector<unsigned> tab(alphabet + 1, 0);
    unsigned long long sum = 0;
    for (unsigned s = 0; s < alphabet; ++s) {
        sum += freq[s];
        tab[s + 1] = unsigned(sum * (65535 - alphabet) / symbolCount) + s + 1;
    }
    tab[alphabet] = 65535;
    return tab;
}

template <typename Coder, bool Adaptive>
void encodeAll(std::ostream& out, const std::vector<unsigned>& tab)
{
    StreamOutBitStream bits(bitStreamWords, &out);
    bits.reset();
    Coder coder(&bits);
    AdaptiveSymbolStats<unsigned> model(alphabet);
    for (unsigned s : skewedSymbols()) {
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

template <typename Coder, bool Adaptive>
void BM_Encode(benchmark::State& state)
{
    std::vector<unsigned> tab = fixedTable();
    size_t bytes = 0;
    for (auto _ : state) {
        CountingSink sink;
        std::ostream out(&sink);
        encodeAll<Coder, Adaptive>(out, tab);
        bytes = sink.bytes;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
    state.counters["bits/symbol"] = 8.0 * double(bytes) / double(symbolCount);
}

template <typename Coder, typename Decoder, bool Adaptive>
void BM_Decode(benchmark::State& state)
{
    std::vector<unsigned> tab = fixedTable();
    std::ostringstream coded;
    encodeAll<Coder, Adaptive>(coded, tab);
    const std::string data = coded.str();
    for (auto _ : state) {
        std::istringstream in(data);
        StreamInBitStream bits(bitStreamWords, &in);
        Decoder decoder(&bits);
        decoder.start();
        AdaptiveSymbolStats<unsigned> model(alphabet);
        unsigned check = 0;
        for (size_t i = 0; i < symbolCount; ++i) {
            unsigned s;
            if (Adaptive) {
                s = model.getSymbol(decoder.decode(model.getMax()));
                SymbolRange r = model.getRangeThenUpdateAndLimit(s, adaptiveLimit);
                decoder.decodeExtract(r.low, r.high, r.total);
            } else {
                unsigned count = decoder.decode(tab[alphabet]);
                s = unsigned(std::upper_bound(tab.begin(), tab.end(), count) - tab.begin()) - 1;
                decoder.decodeExtract(tab[s], tab[s + 1], tab[alphabet]);
            }
            check += s;
        }
        benchmark::DoNotOptimize(check);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(symbolCount));
}

BENCHMARK_TEMPLATE(BM_Encode, Coder16, true)->Name("AdaptiveEncode16")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Decode, Coder16, Decoder16, true)->Name("AdaptiveDecode16")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Encode, Coder18, false)->Name("FixedEncode18")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Decode, Coder18, Decoder18, false)->Name("FixedDecode18")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
