#include "entropy/cumulativelookup.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Cumulative table of `num` symbols with the given frequencies.
std::vector<unsigned> cumulativeOf(const std::vector<unsigned>& freq)
{
    std::vector<unsigned> tab{0};
    for (unsigned f : freq) tab.push_back(tab.back() + f);
    return tab;
}

// Every code of every table: the lookup agrees with the binary search and
// lands in a non-empty interval holding the code.
TEST(CumulativeLookup, FindsTheSameSymbolAsTheBinarySearchForEveryCode)
{
    std::mt19937 rng(41);
    std::vector<std::vector<unsigned>> freqs;
    freqs.push_back({1});                       // one symbol, total 1
    freqs.push_back({0, 0, 5, 0});              // empty intervals around the only one
    freqs.push_back({65535});                   // one symbol, the largest total
    freqs.push_back(std::vector<unsigned>(257, 255));  // 65535 in equal parts
    for (unsigned total : {2u, 4095u, 4096u, 4097u, 8193u, 65535u}) {
        for (unsigned num : {2u, 256u, 257u}) {
            // Random frequencies, many zero, summing to `total`.
            std::vector<unsigned> f(num, 0);
            for (unsigned i = 0; i < total; ++i) {
                const unsigned s = rng() % 2 ? rng() % 3 : rng() % num;
                ++f[rng() % 5 == 0 ? num - 1 - s % num : s % num];
            }
            freqs.push_back(f);
            // A skewed table: one huge symbol, the rest 1 or 0 (the tail
            // crowds many interval ends into one bucket).
            std::vector<unsigned> g(num, 0);
            for (unsigned s = 1; s < num && s < total; ++s) g[s] = rng() % 4 != 0;
            unsigned rest = total;
            for (unsigned s = 1; s < num; ++s) rest -= g[s];
            g[0] = rest;
            freqs.push_back(g);
        }
    }
    for (const auto& f : freqs) {
        const std::vector<unsigned> tab = cumulativeOf(f);
        const unsigned num = unsigned(f.size());
        const CumulativeLookup lookup(tab.data(), num);
        for (unsigned code = 0; code < tab[num]; ++code) {
            const unsigned s = lookup.find(code);
            ASSERT_EQ(s, findSymbolBinary(tab.data(), num, code)) << "total " << tab[num] << " code " << code;
            ASSERT_TRUE(tab[s] <= code && code < tab[s + 1]);
        }
    }
}

} // namespace
