#include "blockcodec/dcmodel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Exposes the bucket lookup of the distance-coding model.
class BucketProbe : public AACodecBaseForDC {
public:
    using AACodecBaseForDC::AACodecBaseForDC;
    using AACodecBaseForDC::bucketOf;
};

// The definition: the largest bucket below numSymbols whose base is <= value.
unsigned bucketByScan(unsigned value, unsigned numSymbols)
{
    unsigned k = 0;
    while (k + 1 < numSymbols && AACodecBaseForDC::dtab[k + 1].base <= value) ++k;
    return k;
}

TEST(DCBucket, TableCoversAllValuesWithoutGaps)
{
    const DCBucket* t = AACodecBaseForDC::dtab;
    EXPECT_EQ(t[0].base, 0u);
    for (unsigned k = 0; k + 1 < AACodecBaseForDC::bucketCount; ++k)
        EXPECT_EQ(t[k + 1].base, t[k].base + (1u << t[k].bits)) << k;
    for (unsigned k = 32; k < AACodecBaseForDC::bucketCount; ++k) {
        EXPECT_EQ(t[k].bits, k - 25) << k;
        EXPECT_EQ(t[k].base, (1u << (k - 25)) + 384) << k;
    }
    EXPECT_EQ(t[36].bits, 11u);
    const unsigned last = AACodecBaseForDC::bucketCount - 1;
    EXPECT_EQ(last, 56u);
    // The top bucket reaches past 2^32.
    EXPECT_EQ(t[last].base + ((1ull << t[last].bits) - 1), 4294967679ull);
}

TEST(DCBucket, LookupAgreesWithTheTableForEveryBucketEdgeAndBlockSize)
{
    std::vector<unsigned> values;
    for (unsigned v = 0; v < 70000; ++v) values.push_back(v);
    for (const DCBucket& b : AACodecBaseForDC::dtab) {
        for (unsigned d = 0; d < 3; ++d) {
            values.push_back(b.base + d);
            values.push_back(b.base - 1 - d);
        }
    }
    values.push_back(0xFFFFFFFFu);
    // Block sizes whose bucket counts differ, including the smallest ones,
    // where the lookup is capped at the last bucket in use.
    for (unsigned maxValue : {0u, 1u, 2u, 9u, 300u, 900000u, 10485760u, 0xFFFFFFFFu}) {
        BucketProbe probe(maxValue);
        for (unsigned v : values)
            ASSERT_EQ(probe.bucketOf(v), bucketByScan(v, probe.numSymbols)) << v << " of " << maxValue;
    }
}

} // namespace
