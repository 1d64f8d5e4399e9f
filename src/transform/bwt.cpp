#include "transform/bwt.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <limits>
#include <string>
#include <type_traits>

#include "transform/bytecounts.h"
#include "transform/sais.h"

namespace {

// Larsson-Sadakane prefix-doubling suffix sort. Suffixes that agree on their
// first h bytes form a group occupying a contiguous range of slots; each pass
// splits every unfinished group by the group of the suffix h bytes further on
// and then doubles h. The empty suffix (position n) takes part as the unique
// least suffix in slot 0 and is dropped from the result.
//
// Slot values: a suffix start position, or a run marker (top bit set, length
// in the other bits) in the first slot of a stretch of finished slots whose
// other slots are stale. Group numbers are exclusive slot ends, so a suffix
// alone in its group sits in slot groupOf - 1.
template <class IndexT>
class Sadakane {
    static_assert(std::is_unsigned<IndexT>::value, "slot values are unsigned");

public:
    static constexpr IndexT runMarker = IndexT(1) << (std::numeric_limits<IndexT>::digits - 1);

    // Buckets positions 0..n-1 by their first byte. Requires begin < end and
    // fewer than runMarker - 1 bytes.
    void makeTables(const char* begin, const char* end);
    // Runs doubling passes until all slots form one finished stretch.
    void suffixSort();
    // Releases the slots, builds the n-entry suffix array from the group
    // numbers, then releases those.
    std::unique_ptr<IndexT[]> recoverSuffixArray();

private:
    static bool isRunMarker(IndexT value) { return (value & runMarker) != 0; }
    static IndexT median3(IndexT a, IndexT b, IndexT c)
    {
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    }

    // Orders a group found by the pass scan; its members already carry hi
    // as group number. hi - lo >= 1.
    void sortNonEmpty(IndexT lo, IndexT hi);
    // Orders a part produced by a split and gives its members group
    // numbers within [lo, hi). hi - lo >= 0. `budget` is the number of
    // partition rounds left before ternaryQuickSort gives up on its pivots.
    void sort(IndexT lo, IndexT hi, unsigned budget);
    void sort2(IndexT lo);
    void sort3(IndexT lo);
    void sort4(IndexT lo);
    // Splits members already ordered by key into runs of equal key.
    void settleRuns(IndexT lo, const IndexT* members, const IndexT* keys, unsigned count);
    void ternaryQuickSort(IndexT lo, IndexT hi, unsigned budget);
    // Orders [lo, hi) by the keys as they stand and makes every run of
    // equal keys a group, in O(m log m) for any key order. Taken when the
    // pivots keep splitting off tiny parts.
    void sortByKeysAndSettle(IndexT lo, IndexT hi);
    static unsigned partitionBudget(IndexT size);

    std::unique_ptr<IndexT[]> suffixes;
    std::unique_ptr<IndexT[]> groupOf;
    const IndexT* keyOf = nullptr;  // groupOf shifted by the current depth h
    IndexT numSuffixes = 0;
};

template <class IndexT>
void Sadakane<IndexT>::makeTables(const char* begin, const char* end)
{
    assert(begin < end);
    assert(static_cast<std::size_t>(end - begin) < static_cast<std::size_t>(runMarker - 1));
    const IndexT n = static_cast<IndexT>(end - begin);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(begin);
    suffixes.reset(new IndexT[n + 1]);
    groupOf.reset(new IndexT[n + 1]);
    IndexT* const slot = suffixes.get();
    IndexT* const group = groupOf.get();

    IndexT start[256] = {};
    for (IndexT i = 0; i < n; ++i) ++start[bytes[i]];
    IndexT sum = 0;
    for (unsigned c = 0; c < 256; ++c) {
        const IndexT count = start[c];
        start[c] = sum;
        sum += count;
    }
    // Ascending positions within each bucket; slot 0 is kept for the empty
    // suffix, hence the offset of one.
    for (IndexT i = 0; i < n; ++i) slot[1 + start[bytes[i]]++] = i;
    // start[c] is now the end of bucket c, counted without slot 0.
    for (IndexT s = 0; s < n; ++s) group[s] = 1 + start[bytes[s]];
    slot[0] = n;
    group[n] = 1;
    numSuffixes = n + 1;
}

template <class IndexT>
void Sadakane<IndexT>::suffixSort()
{
    IndexT* const slot = suffixes.get();
    const IndexT allFinished = runMarker + numSuffixes;
    for (IndexT h = 1; slot[0] != allFinished; h *= 2) {
        // Unfinished members s satisfy s + h <= n, so the shifted view stays
        // inside groupOf. The last, merge-only pass may have h > n; it reads
        // no key, and clamping keeps the pointer inside the array.
        keyOf = groupOf.get() + std::min(h, numSuffixes);
        IndexT i = 0;
        while (i < numSuffixes) {
            const IndexT s = slot[i];
            if (isRunMarker(s)) {
                // Merge adjacent finished stretches so later passes skip
                // them in one step.
                IndexT j = i;
                do {
                    j += slot[j] - runMarker;
                } while (j < numSuffixes && isRunMarker(slot[j]));
                slot[i] = runMarker + (j - i);
                i = j;
            } else {
                const IndexT g = groupOf[s];
                sortNonEmpty(i, g);
                i = g;
            }
        }
    }
}

template <class IndexT>
std::unique_ptr<IndexT[]> Sadakane<IndexT>::recoverSuffixArray()
{
    const IndexT n = numSuffixes - 1;
    numSuffixes = n;
    // The slots go first so that the result never coexists with them.
    suffixes.reset();
    std::unique_ptr<IndexT[]> result(new IndexT[n]);
    const IndexT* const group = groupOf.get();
    // Every suffix is alone in its group: its final slot is groupOf - 1,
    // and slot 0 held the empty suffix.
    for (IndexT s = 0; s < n; ++s) result[group[s] - 2] = s;
    groupOf.reset();
    return result;
}

template <class IndexT>
void Sadakane<IndexT>::sortNonEmpty(IndexT lo, IndexT hi)
{
    assert(hi > lo);
    if (hi - lo == 1) {
        suffixes[lo] = runMarker + 1;
        return;
    }
    sort(lo, hi, partitionBudget(hi - lo));
}

template <class IndexT>
unsigned Sadakane<IndexT>::partitionBudget(IndexT size)
{
    // Twice the depth of a balanced partition tree, as introsort allows.
    unsigned log2 = 0;
    while (size >>= 1) ++log2;
    return 2 * log2;
}

template <class IndexT>
void Sadakane<IndexT>::sort(IndexT lo, IndexT hi, unsigned budget)
{
    switch (hi - lo) {
    case 0:
        return;
    case 1:
        groupOf[suffixes[lo]] = hi;
        suffixes[lo] = runMarker + 1;
        return;
    case 2:
        sort2(lo);
        return;
    case 3:
        sort3(lo);
        return;
    case 4:
        sort4(lo);
        return;
    default:
        ternaryQuickSort(lo, hi, budget);
        return;
    }
}

// One compare-exchange of a network over members and their keys. It swaps
// only on a strictly greater key, so members with equal keys keep their
// slot order.
template <class IndexT>
inline void compareExchange(IndexT* member, IndexT* key, int a, int b)
{
    if (key[a] > key[b]) {
        std::swap(key[a], key[b]);
        std::swap(member[a], member[b]);
    }
}

template <class IndexT>
void Sadakane<IndexT>::sort2(IndexT lo)
{
    IndexT member[2] = {suffixes[lo], suffixes[lo + 1]};
    IndexT key[2] = {keyOf[member[0]], keyOf[member[1]]};
    if (key[0] == key[1]) {
        // Still one group; the slots keep their members.
        groupOf[member[0]] = groupOf[member[1]] = lo + 2;
        return;
    }
    compareExchange(member, key, 0, 1);
    settleRuns(lo, member, key, 2);
}

template <class IndexT>
void Sadakane<IndexT>::sort3(IndexT lo)
{
    IndexT member[3] = {suffixes[lo], suffixes[lo + 1], suffixes[lo + 2]};
    IndexT key[3] = {keyOf[member[0]], keyOf[member[1]], keyOf[member[2]]};
    compareExchange(member, key, 0, 1);
    compareExchange(member, key, 1, 2);
    compareExchange(member, key, 0, 1);
    settleRuns(lo, member, key, 3);
}

template <class IndexT>
void Sadakane<IndexT>::sort4(IndexT lo)
{
    IndexT member[4] = {suffixes[lo], suffixes[lo + 1], suffixes[lo + 2], suffixes[lo + 3]};
    IndexT key[4] = {keyOf[member[0]], keyOf[member[1]], keyOf[member[2]], keyOf[member[3]]};
    compareExchange(member, key, 0, 1);
    compareExchange(member, key, 2, 3);
    compareExchange(member, key, 0, 2);
    compareExchange(member, key, 1, 3);
    compareExchange(member, key, 1, 2);
    settleRuns(lo, member, key, 4);
}

template <class IndexT>
void Sadakane<IndexT>::settleRuns(IndexT lo, const IndexT* members, const IndexT* keys,
                                  unsigned count)
{
    IndexT* const slot = suffixes.get();
    unsigned singlesStart = 0;
    unsigned singles = 0;  // length of the current stretch of one-member runs
    for (unsigned i = 0; i < count;) {
        unsigned j = i + 1;
        while (j < count && keys[j] == keys[i]) ++j;
        for (unsigned k = i; k < j; ++k) groupOf[members[k]] = lo + j;
        if (j - i == 1) {
            if (singles++ == 0) singlesStart = i;
        } else {
            if (singles != 0) slot[lo + singlesStart] = runMarker + singles;
            singles = 0;
            for (unsigned k = i; k < j; ++k) slot[lo + k] = members[k];
        }
        i = j;
    }
    if (singles != 0) slot[lo + singlesStart] = runMarker + singles;
}

template <class IndexT>
void Sadakane<IndexT>::ternaryQuickSort(IndexT lo, IndexT hi, unsigned budget)
{
    IndexT* const slot = suffixes.get();
    const IndexT* const key = keyOf;
    for (;;) {
        assert(hi - lo >= 5);
        // Median-of-three pivots can be driven to split off one member per
        // round (a block of one repeated byte does it in its last passes),
        // which is quadratic and deepens the stack by the group size.
        if (budget-- == 0) {
            sortByKeysAndSettle(lo, hi);
            return;
        }
        const IndexT v =
            median3(key[slot[lo]], key[slot[(lo + hi) / 2]], key[slot[hi - 1]]);

        // Invariant: [lo, lt) < v, [lt, eq) = v, (j, hi) > v. Some member
        // has key v, so the first scan stops inside the group.
        IndexT lt = lo;
        IndexT j = hi - 1;
        for (;;) {
            while (key[slot[lt]] < v) ++lt;
            if (key[slot[lt]] == v) break;
            std::swap(slot[lt], slot[j]);
            --j;
        }
        IndexT eq = lt + 1;
        for (;;) {
            // Slot eq - 1 has key v, so this scan stops at eq - 1 at worst.
            while (key[slot[j]] > v) --j;
            const IndexT kj = key[slot[j]];
            if (kj < v) {
                // The lower member goes to lt, the equal member from lt to
                // eq, and the unexamined member from eq to j.
                const IndexT equal = slot[lt];
                slot[lt] = slot[j];
                slot[j] = slot[eq];
                slot[eq] = equal;
                ++lt;
                ++eq;
            } else if (j > eq) {
                std::swap(slot[eq], slot[j]);
                ++eq;
            } else {
                if (j == eq) ++eq;
                break;
            }
        }

        // Lower part first, so its new group numbers are in place before the
        // equal part's and before the upper part reads its keys.
        sort(lo, lt, budget);
        for (IndexT k = lt; k < eq; ++k) groupOf[slot[k]] = eq;
        // An equal part of two or more is left for the next pass.
        if (eq - lt == 1) slot[lt] = runMarker + 1;

        // Upper part in tail position: only lower parts deepen the stack.
        if (hi - eq < 5) {
            sort(eq, hi, budget);
            return;
        }
        lo = eq;
    }
}

template <class IndexT>
void Sadakane<IndexT>::sortByKeysAndSettle(IndexT lo, IndexT hi)
{
    IndexT* const slot = suffixes.get();
    const IndexT* const key = keyOf;
    // Nothing is written to groupOf while the keys are compared, so they
    // form one consistent snapshot.
    std::sort(slot + lo, slot + hi, [key](IndexT a, IndexT b) { return key[a] < key[b]; });
    // Tag the last slot of every run of equal keys before any group number
    // changes: renumbering a run can change the keys of members of later
    // runs, and the runs must follow the keys the order was built from.
    // Members are below runMarker, so the top bit is free for the tag.
    for (IndexT k = lo; k + 1 < hi; ++k)
        if (key[slot[k]] != key[slot[k + 1]]) slot[k] |= runMarker;
    slot[hi - 1] |= runMarker;
    IndexT first = lo;
    for (IndexT k = lo; k < hi; ++k) {
        if (!isRunMarker(slot[k])) continue;
        slot[k] -= runMarker;
        for (IndexT m = first; m <= k; ++m) groupOf[slot[m]] = k + 1;
        if (k == first) slot[k] = runMarker + 1;
        first = k + 1;
    }
}

}  // namespace

template <class IndexT>
std::unique_ptr<IndexT[]> suffixArray(const char* begin, const char* end)
{
    if (begin == end) return nullptr;
    Sadakane<IndexT> sorter;
    sorter.makeTables(begin, end);
    sorter.suffixSort();
    return sorter.recoverSuffixArray();
}

template <class CharT, class IndexT>
IndexT bwt(CharT* data, IndexT size, SuffixArrayListener* listener, unsigned threads, unsigned* byteCounts)
{
    static_assert(sizeof(CharT) == 1, "bwt sorts bytes");
    // Without a listener nobody needs the order itself: the sort writes the
    // transform directly and skips the gather below.
    if (listener == nullptr || size == 0) {
        unsigned char* const block = reinterpret_cast<unsigned char*>(data);
        return bwtFromSais(block, block, size, threads, byteCounts);
    }
    if (byteCounts != nullptr) {
        std::fill(byteCounts, byteCounts + 256, 0u);
        countBytes(reinterpret_cast<const unsigned char*>(data), static_cast<unsigned>(size), byteCounts);
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::unique_ptr<IndexT[]> sa = suffixArrayFast<IndexT>(bytes, bytes + size, threads);

    if (listener != nullptr) listener->suffixArraySorted(bytes, size, sa.get());

    // Each suffix is replaced by the byte before it; suffix 0 has none, and
    // the block's last byte stands in for it, so the inverse can start its
    // walk from the primary row. The bytes are gathered into the suffix
    // array's own entries, which are no longer needed, so the block needs no
    // copy; the reads jump around the block, hence the prefetch.
    const unsigned char* const in = reinterpret_cast<const unsigned char*>(data);
    IndexT* const order = sa.get();
    const IndexT prefetchDistance = 32;
    IndexT primary = 0;
    for (IndexT r = 0; r < size; ++r) {
        if (size - r > prefetchDistance) {
            const IndexT ahead = order[r + prefetchDistance];
            __builtin_prefetch(in + (ahead != 0 ? ahead - 1 : 0));
        }
        const IndexT s = order[r];
        if (s == 0) {
            primary = r;
            order[r] = in[size - 1];
        } else {
            order[r] = in[s - 1];
        }
    }
    for (IndexT r = 0; r < size; ++r) data[r] = static_cast<CharT>(order[r]);
    return primary;
}

template std::unique_ptr<unsigned[]> suffixArray<unsigned>(const char* begin, const char* end);
template unsigned bwt<char, unsigned>(char* data, unsigned size, SuffixArrayListener* listener, unsigned threads,
                                      unsigned* byteCounts);
