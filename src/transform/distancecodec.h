#pragma once
// Distance coding of a BWT output block.
//
// For every run of equal symbols the coder records how far away the next run
// of the same symbol starts, counting only positions the decoder does not
// already know; run lengths are never stored, because a run ends where the
// next known run start begins. The sequence is a 256-entry header (where each
// symbol first occurs) followed by one entry per run, with trailing zeros
// removed. DistanceDecoder rebuilds the block run by run from that sequence.

#include "diag/exception.h"
#include "diag/inline.h"
#include "diag/largearray.h"
#include "transform/bytecounts.h"
#include "transform/mtf.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace distancecoding {

// Ranks symbols by recency of use: touch() makes a symbol the most recent,
// newerThan() counts the symbols touched after it. Each touch gets a time
// stamp; a Fenwick tree over the stamps answers the count in O(log W). When
// the stamps run out, the live ones are renumbered 1..m in order, which costs
// O(W) once every W - alphabetSize touches.
class RecencyRanks {
public:
    explicit RecencyRanks(unsigned alphabetSize)
        : width_(stampWidth(alphabetSize)),
          tree_(width_ + 1, 0),
          symbolAt_(width_ + 1, 0),
          stampOf_(alphabetSize, 0)
    {
    }

    // Number of distinct symbols touched since `symbol` was last touched.
    // `symbol` must have been touched before.
    unsigned newerThan(unsigned symbol) const
    {
        assert(stampOf_[symbol] != 0);
        return live_ - prefix(stampOf_[symbol]);
    }

    // touch() returning what newerThan() gave before it; 0 for a symbol
    // not touched before.
    unsigned touchRank(unsigned symbol)
    {
        const unsigned newer = stampOf_[symbol] != 0 ? newerThan(symbol) : 0;
        touch(symbol);
        return newer;
    }

    void touch(unsigned symbol)
    {
        if (nextStamp_ > width_) renumber();
        if (stampOf_[symbol] != 0)
            add(stampOf_[symbol], -1);
        else
            ++live_;
        stampOf_[symbol] = nextStamp_;
        symbolAt_[nextStamp_] = symbol;
        add(nextStamp_, +1);
        ++nextStamp_;
    }

    // Recency order of the touched symbols, 1 = least recent; 0 = untouched.
    // Valid until the next touch().
    const std::vector<unsigned>& compactOrder()
    {
        renumber();
        return stampOf_;
    }

private:
    static unsigned stampWidth(unsigned alphabetSize)
    {
        unsigned w = 64;
        while (w < 4 * alphabetSize) w *= 2;
        return w;
    }

    unsigned prefix(unsigned i) const
    {
        unsigned sum = 0;
        for (; i > 0; i &= i - 1) sum += tree_[i];
        return sum;
    }

    void add(unsigned i, int delta)
    {
        for (; i <= width_; i += i & (0u - i)) tree_[i] += static_cast<unsigned>(delta);
    }

    // Gives the live stamps the numbers 1..live_ in their present order and
    // rebuilds the tree over them in linear time.
    void renumber()
    {
        unsigned m = 0;
        for (unsigned s = 1; s < nextStamp_; ++s) {
            unsigned symbol = symbolAt_[s];
            if (stampOf_[symbol] == s) {
                ++m;
                stampOf_[symbol] = m;
                symbolAt_[m] = symbol;
            }
        }
        assert(m == live_);
        for (unsigned i = 1; i <= width_; ++i) tree_[i] = i <= m ? 1 : 0;
        for (unsigned i = 1; i <= width_; ++i) {
            unsigned parent = i + (i & (0u - i));
            if (parent <= width_) tree_[parent] += tree_[i];
        }
        nextStamp_ = m + 1;
    }

    unsigned width_;
    std::vector<unsigned> tree_;      // Fenwick tree over stamps 1..width_
    std::vector<unsigned> symbolAt_;  // symbol that received each stamp
    std::vector<unsigned> stampOf_;   // latest stamp of each symbol, 0 = none
    unsigned nextStamp_ = 1;
    unsigned live_ = 0;               // symbols touched at least once
};

// The same ranks for byte symbols from a move-to-front list of all 256
// values: the touched ones in recency order, most recent first, then the
// untouched ones. The rank of a touched symbol is its place in the list.
// Searching and shifting go 16 entries at a time, which beats the tree's
// logarithmic walks for an alphabet this small.
class RecencyList {
public:
    // The list always holds all 256 byte values, whatever `alphabetSize`.
    explicit RecencyList(unsigned /*alphabetSize*/)
    {
        for (unsigned i = 0; i < 256; ++i) list_[i] = static_cast<unsigned char>(i);
    }

    unsigned newerThan(unsigned symbol) const
    {
        assert(symbol < 256);
        const unsigned p = find(symbol);
        assert(p < live_);
        return p;
    }

    void touch(unsigned symbol) { touchRank(symbol); }

    // The symbol at place p (< 256) of the list: touched ones from the
    // most recent on, then the untouched ones.
    unsigned symbolAt(unsigned p) const { return list_[p]; }

    // touch() returning what newerThan() gave before it, for a symbol that
    // was touched before; for a new symbol the result is meaningless.
    unsigned touchRank(unsigned symbol)
    {
        assert(symbol < 256);
        const unsigned p = mtfdetail::symbolToFront(list_, static_cast<unsigned char>(symbol));
        if (p >= live_) ++live_;
        return p;
    }

    // Recency order of the touched symbols, 1 = least recent; 0 = untouched.
    // Valid until the next touch().
    const std::vector<unsigned>& compactOrder()
    {
        order_.assign(256, 0);
        for (unsigned p = 0; p < live_; ++p) order_[list_[p]] = live_ - p;
        return order_;
    }

private:
    unsigned find(unsigned symbol) const
    {
        unsigned p = 0;
        while (list_[p] != symbol) ++p;
        return p;
    }

    alignas(16) unsigned char list_[256];
    unsigned live_ = 0;
    std::vector<unsigned> order_;
};


// The faster ranks where they apply (byte symbols), the tree otherwise.
template <typename Symbol>
using DefaultRanks = std::conditional_t<sizeof(Symbol) == 1, RecencyList, RecencyRanks>;

} // namespace distancecoding

// Turns a block into its distance-coding sequence. One object codes one block.
template <typename Symbol, typename Count, typename Ranks = distancecoding::DefaultRanks<Symbol>>
class DistanceCoder {
public:
    // `alphabetSize`: number of symbol values (256 for bytes).
    explicit DistanceCoder(Count alphabetSize) : alphabetSize_(alphabetSize) {}
    DistanceCoder(const DistanceCoder&) = delete;
    DistanceCoder& operator=(const DistanceCoder&) = delete;

    // Computes the sequence of the symbols in [begin, end); call once. The
    // result is values()[valuesBegin()] ... values()[valuesEnd() - 1]: first
    // the header (entry s is 0 when s is absent, otherwise first(s) + 1 minus
    // the smaller symbols that occur earlier), then one entry per run (0 for
    // the last run of its symbol, otherwise the distance to its next run minus
    // the distinct symbols in between), trailing zeros removed.
    void encode(const Symbol* begin, const Symbol* end);

    const Count* values() const { return values_.get(); }
    Count valuesBegin() const { return valuesBegin_; }
    Count valuesEnd() const { return valuesEnd_; }

private:
    using Unsigned = std::make_unsigned_t<Symbol>;

    // The start of the run that ends at begin[b].
    static Count runStart(const Symbol* begin, Count b)
    {
        const Symbol c = begin[b];
        Count a = b;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if constexpr (sizeof(Symbol) == 1) {
            // Eight symbols at a time, the nearest in the word's top byte:
            // the leading zero bytes of word ^ pattern are the run's part
            // of the word. The exit test rarely fails, where a byte loop's
            // exit comes after a guessed number of steps.
            const std::uint64_t pattern = 0x0101010101010101ull * static_cast<Unsigned>(c);
            while (a >= 8) {
                std::uint64_t word;
                std::memcpy(&word, begin + a - 8, 8);
                const std::uint64_t differ = word ^ pattern;
                if (differ != 0) return a - static_cast<Count>(__builtin_clzll(differ) / 8);
                a -= 8;
            }
        }
#endif
        while (a > 0 && begin[a - 1] == c) --a;
        return a;
    }

    Count alphabetSize_;
    LargeArray<Count> values_;
    Count valuesCapacity_ = 0;
    Count valuesBegin_ = 0;
    Count valuesEnd_ = 0;
};

template <typename Symbol, typename Count, typename Ranks>
void DistanceCoder<Symbol, Count, Ranks>::encode(const Symbol* begin, const Symbol* end)
{
    assert(!values_.get() && "encode is called once per object");
    const Count n = static_cast<Count>(end - begin);
    valuesCapacity_ = n + alphabetSize_;
    values_ = LargeArray<Count>(valuesCapacity_);
    Count* values = values_.get();

    // nextStart[s]: start of the nearest run of s to the right of the current
    // position; meaningful once s has been seen.
    std::vector<Count> nextStart(alphabetSize_, 0);
    std::vector<unsigned char> seen(alphabetSize_, 0);
    // Symbols ordered by nextStart are symbols ordered by how recently their
    // run was passed, so "values with nextStart < L" is a recency rank.
    Ranks ranks(alphabetSize_);

    // Backward pass: run entries are written from the end of `values` down.
    Count w = valuesCapacity_;
    Count i = n;
    while (i > 0) {
        const Count b = i - 1;
        const Symbol c = begin[b];
        const Count a = runStart(begin, b);
        const unsigned s = static_cast<Unsigned>(c);
        const unsigned newer = ranks.touchRank(s);
        if (!seen[s]) {
            seen[s] = 1;
            values[--w] = 0;
        } else {
            // Every value with a run start below L has exactly one run start
            // in (b, L): the distinct values between this run and the next.
            const Count L = nextStart[s];
            values[--w] = (L - b) - newer;
        }
        nextStart[s] = a;
        i = a;
    }

    // Header: the 256 entries right before the first run entry. The values
    // t < s with first(t) < first(s) are the ones already visited in this
    // ascending walk whose recency order is newer than that of s.
    valuesBegin_ = w - alphabetSize_;
    const std::vector<unsigned>& order = ranks.compactOrder();
    std::vector<std::uint64_t> visited((alphabetSize_ + 64) / 64, 0);
    for (Count s = 0; s < alphabetSize_; ++s) {
        Count entry = 0;
        if (seen[s]) {
            const unsigned r = order[s];
            unsigned earlier = 0;
            const unsigned word = r / 64;
            earlier += __builtin_popcountll(visited[word] & ~((std::uint64_t(2) << (r % 64)) - 1));
            for (unsigned k = word + 1; k < visited.size(); ++k) earlier += __builtin_popcountll(visited[k]);
            entry = nextStart[s] + 1 - earlier;
            visited[word] |= std::uint64_t(1) << (r % 64);
        }
        values[valuesBegin_ + s] = entry;
    }

    valuesEnd_ = valuesCapacity_;
    while (valuesEnd_ > valuesBegin_ && values[valuesEnd_ - 1] == 0) --valuesEnd_;
}

// The sequence of DistanceCoder, made front to back so that another thread
// can code its values while the rest of the block is still being read
// (DistanceCoder stays the reference it is tested against). A run's entry
// is final once the next run of its symbol is reached, or at once when the
// run holds its symbol's last occurrences (a histogram taken first tells);
// the header is final once every symbol of the block has been met. A symbol
// that comes back only much later would hold every later entry back, so its
// entry is then settled by searching ahead for its next run and for the
// symbols not seen since its last one. The values are the same, in the same
// order. Byte symbols only.
//
// Use: start() on the thread that owns the object, then advance() until
// finished(), possibly on another thread; after each advance() the entries
// [0, ready()) of values() are final and belong to the sequence.
template <typename Symbol, typename Count>
class ForwardDistanceCoder {
    static_assert(sizeof(Symbol) == 1, "the forward coder handles byte symbols");

public:
    static constexpr unsigned alphabetSize = 256;

    ForwardDistanceCoder() = default;
    ForwardDistanceCoder(const ForwardDistanceCoder&) = delete;
    ForwardDistanceCoder& operator=(const ForwardDistanceCoder&) = delete;

    // Takes the block [begin, end), which must stay unchanged from
    // released() on until finished(), and allocates the sequence (the only
    // allocation; std::bad_alloc propagates). Call once. `histogram`, when
    // given, is the number of each symbol in the block (256 entries), which
    // the first advance() then need not count.
    void start(const Symbol* begin, const Symbol* end, const Count* histogram = nullptr)
    {
        assert(!values_.get() && "start is called once per object");
        begin_ = begin;
        size_ = static_cast<Count>(end - begin);
        values_ = LargeArray<Count>(std::size_t(size_) + alphabetSize);
        if (histogram != nullptr) {
            std::copy(histogram, histogram + alphabetSize, left_);
            histogramGiven_ = true;
        }
    }

    // Goes over the next `runs` runs (fewer at the block's end). The first
    // call also takes the histogram of the whole block. An entry that would
    // keep more than `lagLimit` later entries from being final is settled by
    // looking ahead for its symbol's next run. Allocates nothing, throws
    // nothing.
    void advance(Count runs, Count lagLimit = ~Count(0));

    bool finished() const { return histogramTaken_ && at_ == size_; }

    // Entries [0, ready()) of values() are final; once finished(), ready()
    // is the length of the sequence (trailing zeros removed), as
    // DistanceCoder::valuesEnd() - valuesBegin().
    Count ready() const { return ready_; }
    const Count* values() const { return values_.get(); }

    // The block's first released() bytes are not read any more.
    Count released() const { return histogramTaken_ ? at_ : 0; }

private:
    using Unsigned = std::make_unsigned_t<Symbol>;
    static constexpr Count none = ~Count(0);
    enum : unsigned char { absent, present, met };

    // One past the run that starts at `a`.
    Count runEnd(Count a) const
    {
        const Symbol c = begin_[a];
        Count e = a + 1;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Eight symbols at a time, the nearest in the word's low byte.
        const std::uint64_t pattern = 0x0101010101010101ull * static_cast<Unsigned>(c);
        while (size_ - e >= 8) {
            std::uint64_t word;
            std::memcpy(&word, begin_ + e, 8);
            const std::uint64_t differ = word ^ pattern;
            if (differ != 0) return e + static_cast<Count>(__builtin_ctzll(differ) / 8);
            e += 8;
        }
#endif
        while (e < size_ && begin_[e] == c) ++e;
        return e;
    }

    void takeHistogram();
    void finishHeader();
    void updateReady(Count lagLimit);
    void settleAhead(unsigned s);

    // Whether `t` occurs in [at_, end). What a search finds stays valid
    // until at_ passes it: the next position of t (ahead_), or that there
    // is none before clearOf_. So each symbol's searches cover disjoint
    // stretches, at most the block each.
    bool occursBefore(unsigned t, Count end)
    {
        if (ahead_[t] != none && ahead_[t] >= at_) return ahead_[t] < end;
        const Count from = std::max(at_, clearOf_[t]);
        if (from >= end) return false;
        const void* p = std::memchr(begin_ + from, static_cast<int>(t), end - from);
        if (p == nullptr) {
            clearOf_[t] = end;
            return false;
        }
        ahead_[t] = static_cast<Count>(static_cast<const Symbol*>(p) - begin_);
        return true;
    }

    const Symbol* begin_ = nullptr;
    Count size_ = 0;
    LargeArray<Count> values_;
    bool histogramTaken_ = false;
    bool histogramGiven_ = false;
    bool headerFinal_ = false;
    Count at_ = 0;                      // start of the next run
    Count next_ = alphabetSize;         // entry of the next run
    unsigned distinct_ = 0;             // symbols in the block
    unsigned met_ = 0;                  // of them met so far
    unsigned char state_[alphabetSize] = {};  // absent, present, or met
    Count left_[alphabetSize] = {};     // occurrences not yet passed
    Count first_[alphabetSize] = {};    // first position, once met
    Count lastEnd_[alphabetSize] = {};  // last position of the pending run
    Count pending_[alphabetSize] = {};  // entry waiting for the next run, or none
    Count ahead_[alphabetSize] = {};    // see occursBefore(), or none
    Count clearOf_[alphabetSize] = {};  // see occursBefore()
    Count scanned_ = 0;                 // entries below this were looked at by updateReady()
    Count ready_ = 0;
    distancecoding::RecencyList ranks_{alphabetSize};
};

template <typename Symbol, typename Count>
void ForwardDistanceCoder<Symbol, Count>::takeHistogram()
{
    if (!histogramGiven_) countBytes(reinterpret_cast<const unsigned char*>(begin_), size_, left_);
    for (unsigned s = 0; s < alphabetSize; ++s) {
        if (left_[s] != 0) {
            state_[s] = present;
            ++distinct_;
        }
        pending_[s] = none;
        ahead_[s] = none;
    }
    histogramTaken_ = true;
    if (distinct_ == 0) finishHeader();
}

template <typename Symbol, typename Count>
void ForwardDistanceCoder<Symbol, Count>::finishHeader()
{
    // Entry s: first(s) + 1 minus the smaller symbols met before s; once,
    // at most 256 * 256 steps.
    Count* values = values_.get();
    for (unsigned s = 0; s < alphabetSize; ++s) {
        Count entry = 0;
        if (state_[s] == met) {
            Count earlier = 0;
            for (unsigned t = 0; t < s; ++t) earlier += state_[t] == met && first_[t] < first_[s];
            entry = first_[s] + 1 - earlier;
        }
        values[s] = entry;
    }
    headerFinal_ = true;
}

template <typename Symbol, typename Count>
void ForwardDistanceCoder<Symbol, Count>::settleAhead(unsigned s)
{
    // The distinct symbols between the pending run and the next run of s:
    // those touched since s (all before at_), and the older or untouched
    // ones that occur before the next run.
    const bool found = occursBefore(s, size_);
    assert(found && ahead_[s] >= at_);
    (void)found;
    const Count next = ahead_[s];
    const unsigned rank = ranks_.newerThan(s);
    Count between = rank;
    for (unsigned p = rank + 1; p < alphabetSize; ++p) {
        const unsigned t = ranks_.symbolAt(p);
        if (left_[t] != 0 && occursBefore(t, next)) ++between;
    }
    values_.get()[pending_[s]] = (next - lastEnd_[s]) - between;
    pending_[s] = none;
}

template <typename Symbol, typename Count>
void ForwardDistanceCoder<Symbol, Count>::updateReady(Count lagLimit)
{
    if (!headerFinal_) return;
    // Every entry below the oldest pending one is final; of those, the ones
    // after the last non-zero entry may turn out to be trailing zeros.
    Count settled;
    for (;;) {
        settled = next_;
        unsigned oldest = 0;
        for (unsigned s = 0; s < alphabetSize; ++s) {
            if (pending_[s] < settled) {
                settled = pending_[s];
                oldest = s;
            }
        }
        if (next_ - settled <= lagLimit) break;
        settleAhead(oldest);
    }
    const Count* values = values_.get();
    for (Count j = settled; j > scanned_; --j) {
        if (values[j - 1] != 0) {
            ready_ = j;
            break;
        }
    }
    scanned_ = std::max(scanned_, settled);
}

template <typename Symbol, typename Count>
void ForwardDistanceCoder<Symbol, Count>::advance(Count runs, Count lagLimit)
{
    if (!histogramTaken_) takeHistogram();
    Count* values = values_.get();
    for (; runs > 0 && at_ < size_; --runs) {
        const Count a = at_;
        const unsigned s = static_cast<Unsigned>(begin_[a]);
        const Count e = runEnd(a);
        const unsigned newer = ranks_.touchRank(s);
        if (state_[s] != met) {
            state_[s] = met;
            first_[s] = a;
            if (++met_ == distinct_) finishHeader();
        } else if (pending_[s] != none) {
            // The distinct symbols since the symbol's last run each have one
            // known run start in between. (Not pending: settled ahead.)
            values[pending_[s]] = (a - lastEnd_[s]) - newer;
        }
        const Count entry = next_++;
        left_[s] -= e - a;
        if (left_[s] == 0) {
            values[entry] = 0;
            pending_[s] = none;
        } else {
            pending_[s] = entry;
            lastEnd_[s] = e - 1;
        }
        at_ = e;
    }
    updateReady(lagLimit);
}

// The first decoder, one table of (position, symbol) entries: the reference
// that DistanceDecoder below is tested against. Same contract and calling
// order as DistanceDecoder.
template <typename Symbol, typename Count>
class PlainDistanceDecoder {
public:
    // `capacity`: most run starts known at once, the alphabet size.
    explicit PlainDistanceDecoder(Count capacity)
        : capacity_(capacity), room_(4 * capacity + 2), buffer_(new Entry[room_])
    {
    }
    PlainDistanceDecoder(const PlainDistanceDecoder&) = delete;
    PlainDistanceDecoder& operator=(const PlainDistanceDecoder&) = delete;

    // Sets the block length n.
    void start(Count size) { size_ = size; }

    // Consumes the header entry of `symbol`: a non-zero `distance` d places
    // its first run at the d-th position not taken by an earlier symbol.
    void feedSymbol(Symbol symbol, Count distance);

    // Produces the next run as (symbol, length) and consumes its run entry: a
    // non-zero `distance` d places the symbol's next run at the d-th position
    // after this run that is not already known.
    std::pair<Symbol, Count> decode(Count distance);

    // Produces the next run once the sequence is exhausted; same as decode(0).
    std::pair<Symbol, Count> decodeEnding() { return decode(0); }

private:
    struct Entry {
        Count pos;
        Symbol symbol;
    };

    // Run starts at or past the block end mean the sequence was not made
    // from a block of size_ symbols.
    void requireInside(bool inside) const
    {
        if (!inside)
            throw Exception("Corrupt distance-coded block: a run would start past the end of a block of " +
                            std::to_string(size_) + " bytes.");
    }

    Entry* tab() const { return buffer_.get() + head_; }

    // The walk that places a run: starting at entry `from` with `target`,
    // every entry at or before the target pushes it one position further.
    // Returns the index of the first entry not passed. Entry i is passed when
    // tab[i].pos <= target + (i - from), that is tab[i].pos - i <= target -
    // from; as positions are distinct and ascending, tab[i].pos - i never
    // decreases, so after a short linear look (small distances are the common
    // case) the rest is a binary search.
    Count skipKnown(Count from, Count target) const
    {
        const Entry* t = tab();
        const Count key = target - from;
        Count i = from;
        for (const Count linearEnd = std::min<Count>(tabn_, from + 8); i < linearEnd; ++i)
            if (t[i].pos - i > key) return i;
        if (i == tabn_) return i;
        // The answer lies in [i, i + n]; the halving step is written so that
        // it compiles to a conditional move, as its outcome is unpredictable.
        Count n = tabn_ - i;
        while (n > 1) {
            const Count half = n / 2;
            i = t[i + half].pos - (i + half) <= key ? i + half : i;
            n -= half;
        }
        return i + (t[i].pos - i <= key ? 1 : 0);
    }

    // Makes room for one more entry after the last one. The table slides
    // towards the end of the buffer as runs are consumed from its front;
    // moving it back happens once per 3 * capacity consumed runs at most.
    void roomAtEnd()
    {
        if (head_ + tabn_ < room_) return;
        std::memmove(buffer_.get(), tab(), tabn_ * sizeof(Entry));
        head_ = 0;
    }

    Count capacity_;
    Count room_;                       // buffer length in entries
    std::unique_ptr<Entry[]> buffer_;  // the table lives in [head_, head_ + tabn_)
    Count head_ = 0;
    Count tabn_ = 0;                   // known run starts, ascending pos
    Count pos_ = 0;
    Count size_ = 0;
};

template <typename Symbol, typename Count>
void PlainDistanceDecoder<Symbol, Count>::feedSymbol(Symbol symbol, Count distance)
{
    if (distance == 0) return;
    assert(tabn_ < capacity_ && "at most one header entry per symbol");
    // Compared before adding so that no huge distance can wrap around.
    requireInside(distance <= size_ - pos_);
    const Count i = skipKnown(0, pos_ + distance - 1);
    const Count target = pos_ + distance - 1 + i;
    requireInside(target < size_);
    roomAtEnd();
    Entry* t = tab();
    std::memmove(t + i + 1, t + i, (tabn_ - i) * sizeof(Entry));
    t[i] = Entry{target, symbol};
    ++tabn_;
}

template <typename Symbol, typename Count>
std::pair<Symbol, Count> PlainDistanceDecoder<Symbol, Count>::decode(Count distance)
{
    if (tabn_ == 0)
        throw Exception("Corrupt distance-coded block: no run is known at position " + std::to_string(pos_) + ".");
    Entry* t = tab();
    if (t[0].pos != pos_)
        throw Exception("Corrupt distance-coded block: no run starts at position " + std::to_string(pos_) + ".");

    const Symbol symbol = t[0].symbol;
    if (tabn_ == 1) {
        // Nothing else is known: this run fills the rest of the block.
        tabn_ = 0;
        return {symbol, size_ - pos_};
    }
    const Count length = t[1].pos - t[0].pos;
    pos_ = t[1].pos;

    if (distance == 0) {
        ++head_;
        --tabn_;
        return {symbol, length};
    }

    // Drop entry 0 and insert the symbol's next run start before entry i.
    // The new first entry sits at pos_ and is always passed, hence
    // pos_ + distance rather than - 1.
    requireInside(distance < size_ - pos_);
    const Count i = skipKnown(2, pos_ + distance);
    const Count target = pos_ + distance + (i - 2);
    requireInside(target < size_);
    if (i - 1 <= tabn_ - i) {
        // Fewer entries before the insertion point: move them down one.
        std::memmove(t, t + 1, (i - 1) * sizeof(Entry));
        t[i - 1] = Entry{target, symbol};
    } else {
        // Fewer after it: drop entry 0 by advancing the head, move the tail up.
        roomAtEnd();
        t = tab();
        std::memmove(t + i + 1, t + i, (tabn_ - i) * sizeof(Entry));
        t[i] = Entry{target, symbol};
        ++head_;
    }
    return {symbol, length};
}

// Rebuilds a block from its distance-coding sequence. One object per block.
// Calling order: start(n); feedSymbol(s, header entry s) for s = 0..255 in
// ascending order (0 for entries that were trimmed); decode(entry) for each
// remaining run entry; decodeEnding() until n symbols have been produced.
// A sequence that is not the coding of a block of n symbols throws Exception
// (a run placed at or past n, or no run known where the next one must start);
// every returned run lies within the block. The table of known run starts
// keeps positions and symbols in two arrays, so that the searches read only
// positions and an insertion moves 4 + 1 bytes per entry rather than a
// padded 8; results and exceptions are PlainDistanceDecoder's for every
// input.
template <typename Symbol, typename Count>
class DistanceDecoder {
public:
    // `capacity`: most run starts known at once, the alphabet size.
    explicit DistanceDecoder(Count capacity)
        : capacity_(capacity), room_(4 * capacity + 2), pos_(new Count[room_]), symbol_(new Symbol[room_])
    {
    }
    DistanceDecoder(const DistanceDecoder&) = delete;
    DistanceDecoder& operator=(const DistanceDecoder&) = delete;

    // Sets the block length n.
    void start(Count size) { size_ = size; }

    // Consumes the header entry of `symbol`: a non-zero `distance` d places
    // its first run at the d-th position not taken by an earlier symbol.
    void feedSymbol(Symbol symbol, Count distance);

    // Produces the next run as (symbol, length) and consumes its run entry: a
    // non-zero `distance` d places the symbol's next run at the d-th position
    // after this run that is not already known.
    std::pair<Symbol, Count> decode(Count distance);

    // Produces the next run once the sequence is exhausted; same as decode(0).
    std::pair<Symbol, Count> decodeEnding() { return decode(0); }

private:
    void requireInside(bool inside) const
    {
        if (!inside)
            throw Exception("Corrupt distance-coded block: a run would start past the end of a block of " +
                            std::to_string(size_) + " bytes.");
    }

    Count* positions() const { return pos_.get() + head_; }
    Symbol* symbols() const { return symbol_.get() + head_; }

    // As PlainDistanceDecoder::skipKnown: the first entry from `from` on
    // that the walk towards `target` does not pass. Past a short linear look,
    // the passed entries are counted rather than bisected: first every 16th
    // entry, then the 16 entries of the block where the walk stops. The loads
    // of each count are independent of one another, where a bisection's
    // depend each on the last.
    Count skipKnown(Count from, Count target) const
    {
        const Count* t = positions();
        const Count key = target - from;
        Count i = from;
        for (const Count linearEnd = std::min<Count>(tabn_, from + 8); i < linearEnd; ++i)
            if (t[i] - i > key) return i;
        // Passed entries form a prefix, so the counts find where it ends.
        Count blocks = 0;
        for (Count probe = i + 15; probe < tabn_; probe += 16) blocks += t[probe] - probe <= key ? 1 : 0;
        i += 16 * blocks;
#if defined(__SSE2__)
        if constexpr (sizeof(Count) == 4) {
            if (tabn_ - i >= 16) return i + passedInBlock(t + i, key + i);
        }
#endif
        const Count end = std::min<Count>(tabn_, i + 16);
        Count passed = 0;
        for (Count q = i; q < end; ++q) passed += t[q] - q <= key ? 1 : 0;
        return i + passed;
    }

#if defined(__SSE2__)
    // Of the 16 positions p[0..15], how many have p[q] - q <= bound, that is
    // p[q] <= bound + q; compared as signed numbers after flipping the top
    // bit, as SSE2 has no unsigned comparison. bound + 15 does not wrap: it
    // is below the block end plus the table length.
    static Count passedInBlock(const Count* p, Count bound)
    {
        const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
        const __m128i limit = _mm_xor_si128(_mm_set1_epi32(static_cast<int>(bound)), flip);
        unsigned mask = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const __m128i steps = _mm_set_epi32(4 * k + 3, 4 * k + 2, 4 * k + 1, 4 * k);
            const __m128i v = _mm_xor_si128(
                _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * k)), steps), flip);
            mask |= static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(v, limit)))) << (4 * k);
        }
        // The entries past `bound + q` are the ones not passed.
        return 16 - static_cast<Count>(__builtin_popcount(mask));
    }
#endif

    // Moves entries [from, from + count) of the table by `by` places (-1 or +1).
    void slide(Count from, Count count, int by)
    {
        Count* p = positions() + from;
        Symbol* s = symbols() + from;
        if (count <= 4) {
            // Short slides, the common case after a BWT, without library calls.
            if (by < 0) {
                Count* const pd = p - 1;
                Symbol* const sd = s - 1;
                for (Count k = 0; k < count; ++k) pd[k] = p[k], sd[k] = s[k];
            } else {
                for (Count k = count; k-- > 0;) p[k + 1] = p[k], s[k + 1] = s[k];
            }
            return;
        }
        std::memmove(p + by, p, count * sizeof(Count));
        std::memmove(s + by, s, count * sizeof(Symbol));
    }

    void put(Count i, Count position, Symbol symbol)
    {
        positions()[i] = position;
        symbols()[i] = symbol;
    }

    // Makes room for one more entry after the last one (see
    // PlainDistanceDecoder::roomAtEnd).
    void roomAtEnd()
    {
        if (head_ + tabn_ < room_) return;
        std::memmove(pos_.get(), positions(), tabn_ * sizeof(Count));
        std::memmove(symbol_.get(), symbols(), tabn_ * sizeof(Symbol));
        head_ = 0;
    }

    Count capacity_;
    Count room_;                       // length of both arrays in entries
    std::unique_ptr<Count[]> pos_;     // the table lives in [head_, head_ + tabn_)
    std::unique_ptr<Symbol[]> symbol_; // of both arrays
    Count head_ = 0;
    Count tabn_ = 0;                   // known run starts, ascending position
    Count at_ = 0;                     // start of the next run to hand out
    Count size_ = 0;
};

template <typename Symbol, typename Count>
void DistanceDecoder<Symbol, Count>::feedSymbol(Symbol symbol, Count distance)
{
    if (distance == 0) return;
    assert(tabn_ < capacity_ && "at most one header entry per symbol");
    requireInside(distance <= size_ - at_);
    const Count i = skipKnown(0, at_ + distance - 1);
    const Count target = at_ + distance - 1 + i;
    requireInside(target < size_);
    roomAtEnd();
    slide(i, tabn_ - i, +1);
    put(i, target, symbol);
    ++tabn_;
}

template <typename Symbol, typename Count>
std::pair<Symbol, Count> DistanceDecoder<Symbol, Count>::decode(Count distance)
{
    if (tabn_ == 0)
        throw Exception("Corrupt distance-coded block: no run is known at position " + std::to_string(at_) + ".");
    const Count* t = positions();
    if (t[0] != at_)
        throw Exception("Corrupt distance-coded block: no run starts at position " + std::to_string(at_) + ".");

    const Symbol symbol = symbols()[0];
    if (tabn_ == 1) {
        tabn_ = 0;
        return {symbol, size_ - at_};
    }
    const Count length = t[1] - t[0];
    at_ = t[1];

    if (distance == 0) {
        ++head_;
        --tabn_;
        return {symbol, length};
    }

    requireInside(distance < size_ - at_);
    const Count i = skipKnown(2, at_ + distance);
    const Count target = at_ + distance + (i - 2);
    requireInside(target < size_);
    if (i - 1 <= tabn_ - i) {
        slide(1, i - 1, -1);
        put(i - 1, target, symbol);
    } else {
        roomAtEnd();
        slide(i, tabn_ - i, +1);
        put(i, target, symbol);
        ++head_;
    }
    return {symbol, length};
}

namespace distancecoding {

// selectTable.at[b][k]: place of the set bit of byte b with k set bits below it.
struct ByteSelectTable {
    unsigned char at[256][8];
    constexpr ByteSelectTable() : at{}
    {
        for (unsigned b = 0; b < 256; ++b) {
            unsigned k = 0;
            for (unsigned bit = 0; bit < 8; ++bit)
                if (b >> bit & 1) at[b][k++] = static_cast<unsigned char>(bit);
        }
    }
};
inline constexpr ByteSelectTable selectTable{};

// Bit tricks on 64-bit words, written out: a build for the baseline x86-64
// turns __builtin_popcountll into a library call.
struct WordBits {
    static constexpr std::uint64_t ones8 = 0x0101010101010101ull;
    static constexpr std::uint64_t highs8 = 0x8080808080808080ull;

    // Byte j of the result: the set bits of x in bytes 0..j (at most 64).
    static std::uint64_t bytePrefixCounts(std::uint64_t x)
    {
        x = x - ((x >> 1) & 0x5555555555555555ull);
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
        return x * ones8;
    }

    // Place of the set bit of x that has `rank` set bits below it, given
    // bytePrefixCounts(x); x must have more than `rank` set bits.
    static unsigned select(std::uint64_t x, std::uint64_t prefix, unsigned rank)
    {
        // A byte's high bit stays set where its prefix count is <= rank; the
        // counts stay below 128, so no byte borrows from the next.
        const std::uint64_t below = ((rank | 0x80u) * ones8 - prefix) & highs8;
        const unsigned byte = static_cast<unsigned>(((below >> 7) * ones8) >> 56);
        const unsigned before = static_cast<unsigned>(((prefix << 8) >> (8 * byte)) & 0xff);
        return 8 * byte + selectTable.at[(x >> (8 * byte)) & 0xff][rank - before];
    }
};

} // namespace distancecoding

// The same decoder for long blocks with many symbols in play (random-like
// data, where the table of known run starts holds up to 256 entries and each
// run would walk and shift most of it). Known run starts are bits in a
// bitmap over the block, their symbols sit in a position-indexed array, and
// every 64-bit word and every group of 8 words keeps its count of known
// positions: placing a run counts free positions a word or a group at a time
// and picks the last one inside a word, the next run start is the next set
// bit. Nothing is sorted or moved. Extra memory: about 1.15 bytes per block
// position (for byte symbols). The walks over the bitmap add up to at most
// the span of each symbol's runs, so a whole block costs O(n * alphabet / 64)
// word steps at worst. Same contract, results and exceptions as
// PlainDistanceDecoder for every input.
template <typename Symbol, typename Count>
class BitmapDistanceDecoder {
public:
    // `capacity`: most run starts known at once, the alphabet size.
    explicit BitmapDistanceDecoder(Count capacity) : capacity_(capacity) {}
    BitmapDistanceDecoder(const BitmapDistanceDecoder&) = delete;
    BitmapDistanceDecoder& operator=(const BitmapDistanceDecoder&) = delete;

    // Sets the block length n and allocates the bitmap; call once.
    // With `symbolStore` (`size` entries, not owned) the symbols of pending
    // run starts are kept there instead of in an array of the decoder's own:
    // the block being rebuilt can serve, since a run's bytes never cover a
    // pending start and its own start gets the symbol stored there.
    void start(Count size, Symbol* symbolStore = nullptr);

    void feedSymbol(Symbol symbol, Count distance);
    std::pair<Symbol, Count> decode(Count distance)
    {
        Count length;
        const Symbol symbol = step(distance, length);
        return {symbol, length};
    }
    std::pair<Symbol, Count> decodeEnding() { return decode(0); }

    // decode() with the run written into the symbol store given to start(),
    // which must be the block being rebuilt: the run's first symbol is there
    // already, and its other places are free (no pending start lies inside
    // a run). Returns the end of the run, the start of the next one; the
    // block is complete once it reaches the block length. Throws as
    // decode() does.
    VARN_FORCE_INLINE Count decodeInto(Count distance)
    {
        const Count from = at_;
        Count length;
        const Symbol symbol = step(distance, length);
        fill(symbolAt_ + from + 1, length - 1, symbol);
        return from + length;
    }

    // decodeInto(0), for the runs after the last entry.
    Count decodeEndingInto() { return decodeInto(0); }

private:
    using Bits = distancecoding::WordBits;

    // The run at at_: its symbol and length, the placing of its symbol's
    // next run, and at_ moved to the next run (left as it is after the
    // last one). Inline, so that decode() and decodeInto() each get the
    // whole step.
    VARN_ALWAYS_INLINE Symbol step(Count distance, Count& length);

    // n copies of `symbol` from p on. Runs after a BWT are mostly a few
    // symbols long, too short to be worth a library call.
    static void fill(Symbol* p, Count n, Symbol symbol)
    {
        if constexpr (sizeof(Symbol) == 1) {
            // Bytes: two stores of a word that may overlap cover 2..16.
            if (n <= 16) {
                const std::uint64_t x = 0x0101010101010101ull * static_cast<unsigned char>(symbol);
                if (n >= 8) {
                    std::memcpy(p, &x, 8);
                    std::memcpy(p + n - 8, &x, 8);
                } else if (n >= 4) {
                    std::memcpy(p, &x, 4);
                    std::memcpy(p + n - 4, &x, 4);
                } else if (n >= 2) {
                    std::memcpy(p, &x, 2);
                    std::memcpy(p + n - 2, &x, 2);
                } else if (n == 1) {
                    *p = symbol;
                }
            } else {
                std::memset(p, static_cast<unsigned char>(symbol), n);
            }
        } else {
            std::fill(p, p + n, symbol);
        }
    }
    static constexpr unsigned groupWords = 8;

    void requireInside(bool inside) const
    {
        if (!inside)
            throw Exception("Corrupt distance-coded block: a run would start past the end of a block of " +
                            std::to_string(size_) + " bytes.");
    }

    bool isKnown(std::size_t p) const { return (bits_[p / 64] >> (p % 64)) & 1; }

    void mark(std::size_t p, Symbol symbol)
    {
        bits_[p / 64] |= std::uint64_t(1) << (p % 64);
        ++wordCount_[p / 64];
        ++groupCount_[p / 64 / groupWords];
        symbolAt_[p] = symbol;
        ++known_;
    }

    void unmark(std::size_t p)
    {
        bits_[p / 64] &= ~(std::uint64_t(1) << (p % 64));
        --wordCount_[p / 64];
        --groupCount_[p / 64 / groupWords];
        --known_;
    }

    // The first known position at or after p; one must exist.
    std::size_t nextKnown(std::size_t p) const
    {
        std::size_t w = p / 64;
        std::uint64_t x = bits_[w] & (~std::uint64_t(0) << (p % 64));
        while (x == 0) x = bits_[++w];
        return 64 * w + static_cast<unsigned>(__builtin_ctzll(x));
    }

    // The d-th (from 1) position at or after `from` that is not known. The
    // caller guarantees d <= n - from; as at most capacity_ positions are
    // known, the answer lies below n + capacity_, inside the padded bitmap.
    // The common case, an answer in the word of `from`, is inline; the
    // rest goes to nthFreeAfter().
    std::size_t nthFree(std::size_t from, Count d) const
    {
        assert(d >= 1);
        const std::size_t w = from / 64;
        const std::uint64_t open = ~bits_[w] & (~std::uint64_t(0) << (from % 64));
        const std::uint64_t prefix = Bits::bytePrefixCounts(open);
        const Count inWord = static_cast<Count>(prefix >> 56);
        if (d <= inWord) return 64 * w + Bits::select(open, prefix, static_cast<unsigned>(d - 1));
        return nthFreeAfter(w, d - inWord);
    }

    // The d-th free position after word w.
    __attribute__((noinline)) std::size_t nthFreeAfter(std::size_t w, Count d) const;

    Count capacity_;
    Count size_ = 0;
    Count at_ = 0;     // start of the next run to hand out
    Count known_ = 0;  // known run starts, all at or after at_
    std::unique_ptr<std::uint64_t[]> bits_;
    std::unique_ptr<unsigned char[]> wordCount_;   // known positions per word
    std::unique_ptr<std::uint16_t[]> groupCount_;  // known positions per group
    std::unique_ptr<Symbol[]> ownSymbols_;         // the symbol store when none is given
    Symbol* symbolAt_ = nullptr;                   // meaningful where a bit is set
};

template <typename Symbol, typename Count>
void BitmapDistanceDecoder<Symbol, Count>::start(Count size, Symbol* symbolStore)
{
    assert(!bits_ && "start is called once per object");
    size_ = size;
    // Whole groups up to n + capacity_, one spare.
    const std::size_t groups = (std::size_t(size) + capacity_) / (64 * groupWords) + 2;
    const std::size_t words = groups * groupWords;
    bits_.reset(new std::uint64_t[words]());
    wordCount_.reset(new unsigned char[words]());
    groupCount_.reset(new std::uint16_t[groups]());
    if (symbolStore == nullptr) {
        ownSymbols_.reset(new Symbol[size]);
        symbolStore = ownSymbols_.get();
    }
    symbolAt_ = symbolStore;
}

template <typename Symbol, typename Count>
std::size_t BitmapDistanceDecoder<Symbol, Count>::nthFreeAfter(std::size_t w, Count d) const
{
    for (;;) {
        ++w;
        if (w % groupWords == 0) {
            // Whole groups first, then the words of the one it ends in.
            std::size_t g = w / groupWords;
            for (Count f; d > (f = 64 * groupWords - groupCount_[g]); ++g) d -= f;
            w = g * groupWords;
            for (Count f; d > (f = 64 - wordCount_[w]); ++w) d -= f;
            break;
        }
        const Count f = 64 - wordCount_[w];
        if (d <= f) break;
        d -= f;
    }
    const std::uint64_t open = ~bits_[w];
    return 64 * w + Bits::select(open, Bits::bytePrefixCounts(open), static_cast<unsigned>(d - 1));
}

template <typename Symbol, typename Count>
void BitmapDistanceDecoder<Symbol, Count>::feedSymbol(Symbol symbol, Count distance)
{
    if (distance == 0) return;
    assert(known_ < capacity_ && "at most one header entry per symbol");
    requireInside(distance <= size_ - at_);
    const std::size_t target = nthFree(at_, distance);
    requireInside(target < size_);
    mark(target, symbol);
}

template <typename Symbol, typename Count>
inline Symbol BitmapDistanceDecoder<Symbol, Count>::step(Count distance, Count& length)
{
    if (known_ == 0)
        throw Exception("Corrupt distance-coded block: no run is known at position " + std::to_string(at_) + ".");
    if (!isKnown(at_))
        throw Exception("Corrupt distance-coded block: no run starts at position " + std::to_string(at_) + ".");

    const Symbol symbol = symbolAt_[at_];
    unmark(at_);
    if (known_ == 0) {
        length = size_ - at_;
        return symbol;
    }
    const Count next = static_cast<Count>(nextKnown(std::size_t(at_) + 1));
    length = next - at_;
    at_ = next;
    if (distance == 0) return symbol;

    // The run at `next` is known, so the count starts after it.
    requireInside(distance < size_ - next);
    const std::size_t target = nthFree(std::size_t(next) + 1, distance);
    requireInside(target < size_);
    mark(target, symbol);
    return symbol;
}
