#include "entropy/plainsymbolstats.h"
#include "entropy/symbolstats.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Both models, the reference and the two-level one, must pass every case.
template <typename Model>
class StatsProbe : public Model {
public:
    using Model::Model;
    std::vector<unsigned> table() const
    {
        std::vector<unsigned> t;
        for (unsigned s = 0; s <= this->num; ++s) t.push_back(this->cumulative(s));
        return t;
    }
    unsigned size() const { return this->num; }
};

template <typename Model>
class SymbolStatsModel : public testing::Test {
};

using Models = testing::Types<PlainSymbolStats<unsigned>, AdaptiveSymbolStats<unsigned>>;
TYPED_TEST_SUITE(SymbolStatsModel, Models);

} // namespace

TYPED_TEST(SymbolStatsModel, FreshModelGivesEverySymbolCountOne)
{
    StatsProbe<TypeParam> m(257);
    EXPECT_EQ(m.getMax(), 257u);
    std::vector<unsigned> tab = m.table();
    for (unsigned s = 0; s <= 257; ++s) ASSERT_EQ(tab[s], s);

    SymbolRange r = m.getRangeThenUpdateAndLimit(0, 16384);
    EXPECT_EQ(r.low, 0u);
    EXPECT_EQ(r.high, 1u);
    EXPECT_EQ(r.total, 257u);
    EXPECT_EQ(m.table()[1], 2u);
    EXPECT_EQ(m.getMax(), 258u);

    // reset rebuilds from scratch, also from an empty model.
    m.reset(4);
    EXPECT_EQ(m.table(), std::vector<unsigned>({0, 1, 2, 3, 4}));
    StatsProbe<TypeParam> empty(0);
    EXPECT_EQ(empty.size(), 0u);
    empty.reset(3);
    EXPECT_EQ(empty.table(), std::vector<unsigned>({0, 1, 2, 3}));
}

TYPED_TEST(SymbolStatsModel, HalvingKeepsCountsAtLeastOne)
{
    StatsProbe<TypeParam> m(5);
    for (unsigned s = 1; s < 5; ++s) m.update(s, s); // counts 1, 2, 3, 4, 5
    EXPECT_EQ(m.table(), std::vector<unsigned>({0, 1, 3, 6, 10, 15}));
    m.limit(14); // below: nothing
    m.limit(16); // above: nothing
    EXPECT_EQ(m.getMax(), 15u);
    m.limit(15);
    EXPECT_EQ(m.table(), std::vector<unsigned>({0, 1, 2, 3, 5, 7}));
}

TYPED_TEST(SymbolStatsModel, TheUpdateThatReachesTheLimitHalvesBeforeReturning)
{
    StatsProbe<TypeParam> m(257);
    for (unsigned i = 0; i < 16126; ++i) m.getRangeThenUpdateAndLimit(0, 16384);
    EXPECT_EQ(m.getMax(), 16383u);
    SymbolRange r = m.getRangeThenUpdateAndLimit(0, 16384);
    EXPECT_EQ(r.low, 0u);
    EXPECT_EQ(r.high, 16127u);
    EXPECT_EQ(r.total, 16383u);
    // Symbol 0 had 16128 and becomes 8064; the other 256 ones stay 1.
    EXPECT_EQ(m.table()[1], 8064u);
    EXPECT_EQ(m.getMax(), 8064u + 256u);

    // A total stepped over the limit is left alone.
    StatsProbe<TypeParam> over(257);
    over.update(3, 16384 - 257 + 1);
    EXPECT_EQ(over.getMax(), 16385u);
    std::vector<unsigned> before = over.table();
    over.limit(16384);
    over.getRangeThenUpdateAndLimit(0, 16384);
    before[1] += 1;
    for (unsigned i = 2; i <= 257; ++i) before[i] += 1;
    EXPECT_EQ(over.table(), before);
}

TYPED_TEST(SymbolStatsModel, GetSymbolFindsTheOwnerOfEveryCode)
{
    std::mt19937 rng(3);
    StatsProbe<TypeParam> m(257);
    for (int i = 0; i < 40000; ++i) m.getRangeThenUpdateAndLimit(rng() % 7 == 0 ? rng() % 257 : rng() % 3, 16384);
    std::vector<unsigned> tab = m.table();
    for (unsigned s : {0u, 1u, 2u, 128u, 256u}) {
        EXPECT_EQ(m.getSymbol(tab[s]), s);
        EXPECT_EQ(m.getSymbol(tab[s + 1] - 1), s);
    }
    unsigned s = 0;
    for (unsigned code = 0; code < m.getMax(); ++code) {
        while (code >= tab[s + 1]) ++s;
        ASSERT_EQ(m.getSymbol(code), s) << "code " << code;
    }

    StatsProbe<TypeParam> two(2);
    two.update(1, 5);
    EXPECT_EQ(two.getSymbol(0), 0u);
    EXPECT_EQ(two.getSymbol(1), 1u);
    EXPECT_EQ(two.getSymbol(6), 1u);
}

