#include "transform/sais.h"

#include "diag/coregate.h"
#include "diag/inline.h"
#include "diag/largearray.h"
#include "transform/bytecounts.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Population count without a library call: portable builds have no popcnt
// instruction, and g++ turns the builtin into a call then.
inline unsigned popcount64(std::uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<unsigned>((x * 0x0101010101010101u) >> 56);
}

// Bit k of `less` / `equal`: t[p] < t[p + 1] / t[p] == t[p + 1] for
// p = base + k, for k < 63 and p + 1 < n; the other bits are 0.
template <class SymbolT>
inline void compareNeighboursPlainly(const SymbolT* t, std::size_t n, std::size_t base, std::uint64_t& less,
                                     std::uint64_t& equal)
{
    less = equal = 0;
    const std::size_t end = std::min<std::size_t>(base + 63, n - 1);
    for (std::size_t p = base; p < end; ++p) {
        less |= std::uint64_t(t[p] < t[p + 1]) << (p - base);
        equal |= std::uint64_t(t[p] == t[p + 1]) << (p - base);
    }
}

#if defined(__SSE2__)
// Masks of t[p] < t[p + 1] and t[p] == t[p + 1] over one vector, one bit
// per lane: unsigned order through the signed compares, top bits flipped.
inline void compareLanes(__m128i a, __m128i b, const unsigned char*, unsigned& less, unsigned& equal)
{
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    less = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip))));
    equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
}
inline void compareLanes(__m128i a, __m128i b, const unsigned*, unsigned& less, unsigned& equal)
{
    const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
    const __m128i lt = _mm_cmplt_epi32(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip));
    less = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(lt)));
    equal = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, b))));
}
#endif

// compareNeighboursPlainly(), a vector at a time wherever the word and the
// symbol after it lie in the text.
template <class SymbolT>
inline void compareNeighbours(const SymbolT* t, std::size_t n, std::size_t base, std::uint64_t& less,
                              std::uint64_t& equal)
{
#if defined(__SSE2__)
    if (base + 65 <= n) {
        constexpr unsigned lanes = 16 / sizeof(SymbolT);
        less = equal = 0;
        for (unsigned k = 0; k < 64; k += lanes) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + base + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + base + k + 1));
            unsigned lt, eq;
            compareLanes(a, b, t, lt, eq);
            less |= std::uint64_t(lt) << k;
            equal |= std::uint64_t(eq) << k;
        }
        const std::uint64_t mask = ~(std::uint64_t(1) << 63);
        less &= mask;
        equal &= mask;
        return;
    }
#endif
    compareNeighboursPlainly(t, n, base, less, equal);
}

// Suffix i of a text is S-type when it is less than suffix i + 1 and L-type
// otherwise; the last suffix is L-type because the end of the text follows it
// and is lower than every symbol. Position i > 0 is LMS (leftmost S) when
// suffix i is S-type and suffix i - 1 is L-type. The LMS substring at an LMS
// position runs to the next LMS position, both included (to the end of the
// text for the last one).
//
// The LMS positions of a text as one bit per position. Found once by a
// branch-free scan; the three later walks over them skip 64 positions per
// word instead of re-deriving the types symbol by symbol.
class LmsPositions {
public:
    template <class SymbolT, class IndexT>
    LmsPositions(const SymbolT* t, IndexT n) : words_(n / 64 + 1, 0), before_(n / 64 + 1)
    {
        findIn(t, n, 0, (n - 1) / 64 + 1, 0);
        countWords();
    }
    // For a text of n symbols, positions unset: findIn() the words, then
    // countWords().
    explicit LmsPositions(std::size_t n) : words_(n / 64 + 1, 0), before_(n / 64 + 1) {}

    // Sets words [wordBegin, wordEnd); nextIsS is 1 when the suffix at
    // their top position (the last of the text in the last word) is S-type.
    template <class SymbolT, class IndexT>
    void findIn(const SymbolT* t, IndexT n, std::size_t wordBegin, std::size_t wordEnd, std::uint64_t nextIsS)
    {
        // Word by word from the end. Within a word, the comparisons of
        // neighbours come as bit masks without a chain between positions;
        // the types then follow from them in six doubling steps: suffix p
        // is S-type when t[p] < t[p + 1], or when they are equal and
        // suffix p + 1 is S-type, so a run of equal symbols takes the type
        // at its right end.
        const std::uint64_t top = std::uint64_t(1) << 63;
        for (std::size_t w = wordEnd; w-- > wordBegin;) {
            const std::size_t base = 64 * w;
            std::uint64_t less, equal;
            compareNeighbours(t, std::size_t(n), base, less, equal);
            // Bit 63 is the given type; the end of the text compares as
            // neither, so the last suffix and those past it are L-type.
            std::uint64_t g = (less & ~top) | (nextIsS << 63);
            std::uint64_t p = equal & ~top;
            for (unsigned d = 1; d < 64; d *= 2) {
                g |= p & (g >> d);
                p &= p >> d;
            }
            // LMS: S-type with an L-type suffix before it; for bit 0 the
            // suffix before is the previous word's top one.
            std::uint64_t word = g & ~(g << 1) & ~std::uint64_t(1);
            nextIsS = 0;
            if (base > 0) {
                const SymbolT a = t[base - 1], b = t[base];
                nextIsS = (a < b) | ((a == b) & g & 1);
                word |= g & 1 & ~nextIsS;
            }
            words_[w] = word;
        }
    }
    void countWords()
    {
        for (std::size_t w = 0; w < words_.size(); ++w) {
            before_[w] = static_cast<std::uint32_t>(count_);
            count_ += popcount64(words_[w]);
        }
    }

    std::size_t count() const { return count_; }
    // Number of LMS positions below p, p < n.
    unsigned rank(std::size_t p) const
    {
        const std::uint64_t below = words_[p / 64] & ((std::uint64_t(1) << (p % 64)) - 1);
        return before_[p / 64] + popcount64(below);
    }
    void prefetchRank(std::size_t p) const
    {
        __builtin_prefetch(&words_[p / 64]);
        __builtin_prefetch(&before_[p / 64]);
    }

    // Number of 64-position words, and of LMS positions before word w.
    std::size_t words() const { return words_.size(); }
    unsigned before(std::size_t w) const { return before_[w]; }
    // Calls f(p) for every LMS position p in words [wordBegin, wordEnd),
    // ascending.
    template <class IndexT, class F>
    void forEachIn(std::size_t wordBegin, std::size_t wordEnd, F f) const
    {
        for (std::size_t w = wordBegin; w < wordEnd; ++w) {
            for (std::uint64_t bits = words_[w]; bits != 0; bits &= bits - 1)
                f(static_cast<IndexT>(64 * w + static_cast<unsigned>(__builtin_ctzll(bits))));
        }
    }

    // Calls f(p) for every LMS position p in ascending order.
    template <class IndexT, class F>
    void forEach(F f) const
    {
        forEachIn<IndexT>(0, words_.size(), f);
    }

private:
    std::vector<std::uint64_t> words_;
    std::vector<std::uint32_t> before_;  // LMS positions before each word
    std::size_t count_ = 0;
};

// Prefetch helpers. They are free functions over local copies of the
// arrays: g++ 12 drops a prefetch whose address it reloads from members in
// the scan loops.

// Starts loading the text before the suffix in slot i, if there is one;
// `mask` strips flag bits from the slot value.
// The address is formed as an integer and never dereferenced (a prefetch
// does not fault), so an empty slot costs no branch: a guard here is
// mispredicted about once in ten slots.
template <class SymbolT>
inline void prefetchText(const SymbolT* t, const unsigned* sa, unsigned i, unsigned mask = ~0u)
{
    const unsigned j = (sa[i] & mask) - 1;
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(t) + std::uintptr_t(j) * sizeof(SymbolT)));
}


// The inducing scans prefetch a fixed distance ahead. These run step(i)
// over slots [lo, hi), up or down, with fetch(k) for the slot k that far
// ahead wherever it lies below `limit` (or at or above it): two loops, so
// that the step has no bounds test for the prefetch.
template <unsigned distance, class Fetch, class Step>
VARN_ALWAYS_INLINE void scanUp(unsigned lo, unsigned hi, unsigned limit, Fetch fetch, Step step)
{
    const unsigned split = limit > distance ? std::min(hi, std::max(lo, limit - distance)) : lo;
    unsigned i = lo;
    for (; i < split; ++i) {
        fetch(i + distance);
        step(i);
    }
    for (; i < hi; ++i) step(i);
}

template <unsigned distance, class Fetch, class Step>
VARN_ALWAYS_INLINE void scanDown(unsigned hi, unsigned lo, unsigned limit, Fetch fetch, Step step)
{
    const unsigned split = std::max(lo, std::min(hi, limit + distance));
    unsigned i = hi;
    while (i > split) {
        --i;
        fetch(i - distance);
        step(i);
    }
    while (i > lo) step(--i);
}

// out[i] = the low byte of in[i] for i < n; sixteen at a time where the
// vector instructions every x86-64 has are there (g++ -O2 leaves the plain
// loop scalar).
inline void lowBytes(const unsigned* in, unsigned n, unsigned char* out)
{
    unsigned i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi32(0xFF);
    for (; i + 16 <= n; i += 16) {
        const __m128i* const v = reinterpret_cast<const __m128i*>(in + i);
        // Masked to 0-255, the signed saturating packs keep every value.
        const __m128i a = _mm_and_si128(_mm_loadu_si128(v), low);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(v + 1), low);
        const __m128i c = _mm_and_si128(_mm_loadu_si128(v + 2), low);
        const __m128i d = _mm_and_si128(_mm_loadu_si128(v + 3), low);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<unsigned char>(in[i]);
}

// Calls f(r) for every set bit r < n in words [w0, w1) of the bit set at
// `words`, ascending.
template <class F>
void forEachBitIn(const std::uint64_t* words, unsigned n, std::size_t w0, std::size_t w1, F f)
{
    for (std::size_t w = w0; w < w1; ++w)
        for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1) {
            const unsigned r = static_cast<unsigned>(64 * w + __builtin_ctzll(bits));
            if (r < n) f(r);
        }
}

// The first set bit r with from <= r < n of the bit set at `words`, or n.
inline unsigned nextBit(const std::uint64_t* words, unsigned from, unsigned n)
{
    if (from >= n) return n;
    std::size_t w = from / 64;
    std::uint64_t bits = words[w] & (~std::uint64_t(0) << (from % 64));
    const std::size_t last = (n - 1) / 64;
    while (bits == 0 && w < last) bits = words[++w];
    return bits == 0 ? n : std::min(n, static_cast<unsigned>(64 * w + __builtin_ctzll(bits)));
}

// Calls f(r, end) for every set bit r < n in words [w0, w1) of the bit set
// at `words`, ascending, `end` being the next set bit below n, or n: the
// runs of slots that start at the bits.
template <class F>
void forEachRunIn(const std::uint64_t* words, unsigned n, std::size_t w0, std::size_t w1, F f)
{
    bool any = false;
    unsigned previous = 0;
    forEachBitIn(words, n, w0, w1, [&](unsigned r) {
        if (any) f(previous, r);
        previous = r;
        any = true;
    });
    if (!any) return;
    f(previous, nextBit(words, static_cast<unsigned>(std::min<std::size_t>(64 * w1, n)), n));
}

// Slot values of the first scans of every level, which name the LMS
// substrings while they order them (see ByteSorter): a position, a flag for
// a boundary between unequal prefixes, and a mark on LMS positions. 0 is an
// empty slot as well as suffix 0.
constexpr unsigned boundaryFlag = 1u << 31;
constexpr unsigned lmsFlag = 1u << 30;
constexpr unsigned positionMask = lmsFlag - 1;

// One slot's step of the group count in a right-to-left naming scan: an
// S-type slot adds its own boundary flag; an L-type one adds whether a
// boundary lies left of the slot scanned before it, as far as that slot
// knows (an L-type slot from its flag, an S-type slot always, since an
// L-type or another bucket's suffix is its left neighbour then).
VARN_ALWAYS_INLINE void countGroupDown(unsigned v, bool sType, unsigned& group, unsigned& leftBoundary)
{
    if (sType) {
        group += v >> 31;
        leftBoundary = 1;
    } else {
        group += leftBoundary;
        leftBoundary = v >> 31;
    }
}

// Two threads. A sort given more than one thread, of a text long enough,
// runs the passes that need no order between their steps in pieces shared
// by this thread and one helper thread, and fills the fresh suffix array
// while it looks for the LMS positions. Each placement of an inducing scan
// depends on the ones before it; the byte level's scans are shared in
// blocks (see SharedScan). The first reduced text is sorted by doubling
// instead (see DoublingSorter), whose rounds split between the threads;
// when it is left to induced sorting, the reduced levels' scans stay on one
// thread (their bucket bounds, seeds and sorted-LMS moves go in pieces).
// Every piece writes its own entries; the result is the same as on one
// thread.
// While other blocks are in work (see CoreGate) the helper sits out: every
// pass runs on the caller, by the one-thread code where there is one, and
// the helper joins in at the next pass once the gate opens.
//
// Pieces are claimed one at a time and the caller claims them too, so the
// caller never waits for the helper to start: a helper that the machine
// does not schedule costs nothing, one descheduled in a piece costs the
// wait for that piece. Nor does the caller sleep while the helper finishes
// a piece: it spins a little and then yields, so that on a busy machine it
// does not have to wait for a core to be woken on.

// Texts below this many bytes are sorted on one thread, and passes over
// fewer entries than this are not split.
constexpr unsigned threadedMinimum = 1u << 20;
constexpr unsigned splitMinimum = 1u << 16;
// Reduced texts this long or longer are sorted by doubling on two threads.
constexpr unsigned doublingMinimum = 1u << 18;
// Pieces per pass.
constexpr unsigned pieces = 16;

class PassHelper {
public:
    // No helper thread when threads < 2 or when none can be started; run()
    // then runs every piece on the caller's thread.
    explicit PassHelper(unsigned threads)
    {
        if (threads < 2) return;
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
        }
    }
    PassHelper(const PassHelper&) = delete;
    PassHelper& operator=(const PassHelper&) = delete;
    ~PassHelper()
    {
        if (!thread_.joinable()) return;
        stop_.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_.notify_one();
        }
        thread_.join();
    }

    bool running() const { return thread_.joinable(); }
    // Whether the helper takes part now: it runs and the gate of the thread
    // that made it is open (see CoreGate). Otherwise passes run on the
    // caller alone, and the sort takes its one-thread paths.
    bool active() const { return running() && CoreGate::isOpen(gate_); }

    // Calls piece(k) once for every k < count, on this thread and the
    // helper, and returns when all calls have returned. piece must not
    // throw. `another`: a next pass follows within microseconds, so the
    // helper should watch for it rather than sleep.
    template <class Piece>
    void run(unsigned count, Piece piece, bool another = false)
    {
        if (!active()) {
            for (unsigned k = 0; k < count; ++k) piece(k);
            return;
        }
        assert(count <= 0xFFFF);
        call_.store([](void* context, unsigned k) { (*static_cast<Piece*>(context))(k); }, std::memory_order_relaxed);
        context_.store(&piece, std::memory_order_relaxed);
        done_.store(0, std::memory_order_relaxed);
        another_.store(another, std::memory_order_relaxed);
        const std::uint64_t number = (pass_.load(std::memory_order_relaxed) >> 32) + 1;
        pass_.store(number << 32 | std::uint64_t(count) << 16);
        if (sleeping_.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_.notify_one();
        }
        for (unsigned k; claim(number, k);) {
            piece(k);
            done_.fetch_add(1, std::memory_order_release);
        }
        // The helper's last piece is usually microseconds from done: spin
        // on it first, then yield.
        for (unsigned spin = 0; done_.load(std::memory_order_acquire) != count; ++spin) {
            if (spin < waitSpins)
                pause();
            else
                std::this_thread::yield();
        }
    }

    // Calls part(lo, hi) over [0, n) in pieces, at multiples of 64.
    template <class Part>
    void inPieces(unsigned n, Part part)
    {
        if (!active() || n < splitMinimum) {
            part(0u, n);
            return;
        }
        run(pieces, [n, &part](unsigned k) { part(pieceStart(n, k), pieceEnd(n, k)); });
    }
    // Piece k of [0, n): starts at a multiple of 64, the last one ends at n.
    static unsigned pieceStart(unsigned n, unsigned k)
    {
        return static_cast<unsigned>(std::uint64_t(n) * k / pieces / 64 * 64);
    }
    static unsigned pieceEnd(unsigned n, unsigned k) { return k + 1 == pieces ? n : pieceStart(n, k + 1); }

private:
    // Takes the next piece of pass `number` into k; false when none is left
    // or the pass is no longer the current one.
    bool claim(std::uint64_t number, unsigned& k)
    {
        std::uint64_t word = pass_.load(std::memory_order_acquire);
        for (;;) {
            const unsigned count = (word >> 16) & 0xFFFF, next = word & 0xFFFF;
            if (word >> 32 != number || next == count) return false;
            if (pass_.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                k = next;
                return true;
            }
        }
    }

    void serve()
    {
        std::uint64_t seen = 0;  // the last pass taken part in
        for (;;) {
            // The passes of a shared scan come some microseconds apart:
            // watch for the next one a while before sleeping, so that it
            // does not wait for this thread to be woken. After other passes
            // the caller goes on alone for a while (and another block's
            // thread may want the core), so sleep at once.
            auto fresh = [this, &seen] { return stop_.load() || pass_.load() >> 32 != seen; };
            const unsigned watch = another_.load(std::memory_order_relaxed) ? spinMicroseconds : 0;
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(watch);
            for (unsigned spin = 1; !fresh(); ++spin) {
                pause();
                if (spin % 64 == 0 && std::chrono::steady_clock::now() > until) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    sleeping_.store(true);
                    wake_.wait(lock, fresh);
                    sleeping_.store(false);
                    break;
                }
            }
            if (stop_.load()) return;
            seen = pass_.load(std::memory_order_acquire) >> 32;
            for (unsigned k; claim(seen, k);) {
                // Stable while the claimed piece runs: the caller waits for
                // it before starting another pass.
                call_.load(std::memory_order_relaxed)(context_.load(std::memory_order_relaxed), k);
                done_.fetch_add(1, std::memory_order_release);
            }
        }
    }
    static void pause()
    {
#if defined(__SSE2__)
        _mm_pause();
#endif
    }
    static constexpr unsigned spinMicroseconds = 200;
    static constexpr unsigned waitSpins = 1u << 12;

    // The current pass in one word, so that a piece is claimed by one
    // compare-and-swap: its number (high 32 bits), its piece count and the
    // next piece to take (16 bits each).
    std::atomic<std::uint64_t> pass_{0};
    std::atomic<void (*)(void*, unsigned)> call_{nullptr};
    std::atomic<void*> context_{nullptr};
    std::atomic<unsigned> done_{0};
    std::atomic<bool> another_{false};  // the current pass's `another`
    std::atomic<bool> sleeping_{false};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    const CoreGate* const gate_ = CoreGate::current();
};

// Sets sa[0, n) to `empty` and returns the LMS positions of t[0, n); with a
// helper, the fill (mostly first touches of fresh pages) and the search run
// in pieces side by side.
template <class SymbolT>
LmsPositions clearAndFindLms(const SymbolT* t, unsigned n, unsigned* sa, unsigned empty, PassHelper& helper)
{
    if (!helper.active() || n < splitMinimum) {
        std::fill(sa, sa + n, empty);
        return LmsPositions(t, n);
    }
    LmsPositions lms(n);
    const std::size_t words = (n - 1) / 64 + 1;
    // A piece of the search needs the type of the suffix at its top
    // position; from the top piece down, each run of equal symbols is
    // walked only up to the next piece's top, whose type is known.
    std::uint64_t topIsS[pieces + 1];
    topIsS[pieces] = 0;
    for (unsigned k = pieces; k-- > 0;) {
        const std::size_t w1 = words * (k + 1) / pieces;
        if (w1 == words) {
            topIsS[k] = 0;  // the last suffix is L-type
            continue;
        }
        const std::size_t known = std::min<std::size_t>(64 * (words * (k + 2) / pieces) - 1, n - 1);
        std::size_t p = 64 * w1 - 1;
        while (p < known && t[p] == t[p + 1]) ++p;
        // Equal neighbours have equal types.
        topIsS[k] = p == known ? topIsS[k + 1] : (t[p] < t[p + 1] ? 1 : 0);
    }
    helper.run(2 * pieces, [&](unsigned k) {
        if (k % 2 == 0) {
            const std::size_t w0 = words * (k / 2) / pieces, w1 = words * (k / 2 + 1) / pieces;
            lms.findIn(t, n, w0, w1, topIsS[k / 2]);
        } else {
            std::fill(sa + PassHelper::pieceStart(n, k / 2), sa + PassHelper::pieceEnd(n, k / 2), empty);
        }
    });
    lms.countWords();
    return lms;
}

// Turns the reduced text's order in sa[0, n1) into LMS positions, in
// pieces: `scratch` (n1 entries, disjoint from sa[0, n1)) receives the
// positions in text order, and sa[i] = scratch[sa[i]].
void ranksToPositions(unsigned* sa, unsigned n1, unsigned* scratch, const LmsPositions& lms, PassHelper& helper)
{
    // Each piece of the bit set's words starts at its own count.
    helper.inPieces(static_cast<unsigned>(lms.words()), [scratch, &lms](unsigned lo, unsigned hi) {
        unsigned k = lms.before(lo);
        lms.forEachIn<unsigned>(lo, hi, [scratch, &k](unsigned p) { scratch[k++] = p; });
    });
    const unsigned prefetchDistance = 32;
    helper.inPieces(n1, [sa, scratch](unsigned lo, unsigned hi) {
        for (unsigned i = lo; i < hi; ++i) {
            if (i + prefetchDistance < hi) __builtin_prefetch(scratch + sa[i + prefetchDistance]);
            sa[i] = scratch[sa[i]];
        }
    });
}

// Names the LMS substrings in slots [lo, hi) of the n1 sorted ones at sa
// (boundary flags marking the first of each run of equal ones; `first` is
// the last boundary below lo): writes each name to reduced[rank of its
// position], sets the bits of the boundaries in nameStarts and returns how
// many boundaries there are.
unsigned nameSlots(const unsigned* sa, unsigned lo, unsigned hi, unsigned n1, unsigned first, const LmsPositions& lms,
                   std::uint64_t* nameStarts, unsigned* reduced)
{
    unsigned count = 0;
    const unsigned prefetchDistance = 32;
    for (unsigned i = lo; i < hi; ++i) {
        if (i + prefetchDistance < hi) lms.prefetchRank(sa[i + prefetchDistance] & ~boundaryFlag);
        const unsigned v = sa[i];
        if (v & boundaryFlag) {
            ++count;
            first = i;
            nameStarts[i / 64] |= std::uint64_t(1) << (i % 64);
        }
        const bool unique = (v & boundaryFlag) && (i + 1 == n1 || (sa[i + 1] & boundaryFlag));
        reduced[lms.rank(v & ~boundaryFlag)] = (first << 1) | (unique ? 1u : 0u);
    }
    return count;
}

// Turns the ranks in sa[0, n1) into the LMS positions of those ranks,
// through the n1 slots at `scratch`, and fills sa[n1, n) with `fill`; in
// pieces on the helper's threads when it runs.
template <unsigned fill>
void ranksToPositionsFilling(unsigned* sa, unsigned n, unsigned n1, unsigned* scratch, const LmsPositions& lms,
                             PassHelper& helper)
{
    ranksToPositions(sa, n1, scratch, lms, helper);
    helper.inPieces(n - n1, [sa, n1](unsigned lo, unsigned hi) { std::fill(sa + n1 + lo, sa + n1 + hi, fill); });
}

// After the first scans of a text of n symbols and n1 LMS positions: moves
// the LMS positions, in their order, to sa[0, n1), writes their names (see
// below) in text order to sa[n - n1, n), sets the ranks of the names in
// nameStarts and returns the number of distinct names.
unsigned gatherNames(unsigned* sa, unsigned n, unsigned n1, const LmsPositions& lms, std::uint64_t* nameStarts)
{
    // Every slot is filled. The LMS ones, in order, keep a flag when a
    // boundary lies between them and the previous LMS slot. The flags of
    // L-type slots add nothing: an L-type slot between two LMS slots means
    // they lie in different buckets, and the S-type part of the first
    // bucket ends with a flag anyway.
    unsigned found = 0;
    unsigned boundary = boundaryFlag;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned v = sa[i];
        if (v & lmsFlag) {
            sa[found++] = (v & positionMask) | boundary;
            boundary = 0;
        }
        boundary |= v & boundaryFlag;
    }
    assert(found == n1);
    (void)found;

    // Each name goes straight to its place in text order in the top n1
    // slots, which n1 <= n / 2 keeps clear of the order being read.
    return nameSlots(sa, 0, n1, n1, 0, lms, nameStarts, sa + (n - n1));
}

// gatherNames() in pieces on two threads; the same result.
unsigned gatherNamesInPieces(unsigned* sa, unsigned n, unsigned n1, const LmsPositions& lms,
                             std::uint64_t* nameStarts, PassHelper& helper)
{
    // Each piece moves its LMS slots to its own start; then they go down
    // after the previous pieces' ones, the first of them taking the
    // boundary flags seen after the last LMS slot before it.
    struct Moved {
        unsigned found = 0;
        unsigned boundary = 0;
    } moved[pieces];
    helper.run(pieces, [sa, n, &moved](unsigned k) {
        const unsigned lo = PassHelper::pieceStart(n, k), hi = PassHelper::pieceEnd(n, k);
        unsigned found = 0, boundary = k == 0 ? boundaryFlag : 0u;
        for (unsigned i = lo; i < hi; ++i) {
            const unsigned v = sa[i];
            if (v & lmsFlag) {
                sa[lo + found++] = (v & positionMask) | boundary;
                boundary = 0;
            }
            boundary |= v & boundaryFlag;
        }
        moved[k].found = found;
        moved[k].boundary = boundary;
    });
    unsigned found = moved[0].found;
    unsigned boundary = moved[0].boundary;
    for (unsigned k = 1; k < pieces; ++k) {
        if (moved[k].found == 0) {
            boundary |= moved[k].boundary;
            continue;
        }
        const unsigned lo = PassHelper::pieceStart(n, k);
        sa[lo] |= boundary;
        std::memmove(sa + found, sa + lo, std::size_t(moved[k].found) * sizeof(unsigned));
        found += moved[k].found;
        boundary = moved[k].boundary;
    }
    assert(found == n1);

    // Naming in pieces that start at multiples of 64, so that each sets its
    // own words of nameStarts. A piece starts from the last boundary below
    // its first slot, found from the bottom piece up, each search stopping
    // at the previous piece's start; slot 0 always has a boundary.
    unsigned* const reduced = sa + (n - n1);
    unsigned firstBelow[pieces];
    firstBelow[0] = 0;
    for (unsigned k = 1; k < pieces; ++k) {
        const unsigned previous = PassHelper::pieceStart(n1, k - 1);
        unsigned i = PassHelper::pieceStart(n1, k);
        while (i > previous && (sa[i - 1] & boundaryFlag) == 0) --i;
        firstBelow[k] = i > previous ? i - 1 : firstBelow[k - 1];
    }
    unsigned names[pieces] = {};
    helper.run(pieces, [sa, n1, reduced, &lms, nameStarts, &names, &firstBelow](unsigned k) {
        const unsigned lo = PassHelper::pieceStart(n1, k), hi = PassHelper::pieceEnd(n1, k);
        names[k] = nameSlots(sa, lo, hi, n1, firstBelow[k], lms, nameStarts, reduced);
    });
    unsigned total = 0;
    for (unsigned k = 0; k < pieces; ++k) total += names[k];
    return total;
}

// Names of LMS substrings, the symbols of a reduced text. The name of a
// substring is (r << 1) | u: r is the rank, among all LMS substrings of the
// text above, of the first one equal to it, and u is 1 when no other one
// equals it. Names compare as their substrings do; the bucket of name c in
// the reduced text's suffix array starts at slot c >> 1, so it needs no
// counting, and a unique name's bucket is that one slot, which needs no
// bucket pointer at all. The reduced texts of random bytes have mostly
// unique names (94%), those of text mostly repeated ones.
inline bool isUnique(unsigned name) { return name & 1; }
inline unsigned bucketOf(unsigned name) { return name >> 1; }

// Induced sorting of a reduced text whose symbols are names as above:
//  1. LMS positions go to the ends of their first-symbol buckets; inducing
//     the L-type suffixes from them (left to right) and then the S-type ones
//     (right to left) orders the LMS substrings.
//  2. Each LMS substring is named, by the first scans themselves (see
//     ByteSorter); the names in text order form the next reduced text, at
//     most n / 2 symbols, whose suffix order is the order of the LMS
//     suffixes. It is sorted by the same method when names repeat,
//     directly otherwise.
//  3. The sorted LMS suffixes go to the bucket ends in that order, and the
//     same two inducing scans give the final order.
// The next reduced text lives in the top of the suffix array and its own
// suffix array in the bottom, so every level works inside the n slots.
class ReducedSorter {
public:
    // Marks an unused slot in the final scans. Any slot value v with
    // v - 1 >= n (unsigned) is skipped by them: empty slots and suffix 0.
    // The first scans use the slot values of gatherNames() instead.
    static constexpr unsigned emptySlot = ~0u;

    // Sorts the suffixes of text[0, n) into sa[0, n). 0 < n < 2^30; every
    // symbol is a name of one of n LMS substrings, and bit r of `starts` is
    // set when some name's rank is r. `spare` is scratch of `spareSize`
    // entries, disjoint from sa, for the bucket pointers when they fit.
    ReducedSorter(const unsigned* text, unsigned* sa, unsigned n, unsigned* spare, unsigned spareSize,
                  const std::uint64_t* starts, PassHelper& helper)
        : t_(text), sa_(sa), n_(n), spare_(spare), spareSize_(spareSize), starts_(starts), helper_(helper)
    {
        assert(n > 0 && n < (1u << 30));
        std::size_t names = 0;
        for (std::size_t w = 0; w <= (n - 1) / 64; ++w) names += popcount64(starts[w]);
        // At least 2 * names - n names are unique.
        mostlyUnique_ = 4 * names > 3 * std::size_t(n);
    }

    void sort();

private:
    // The scans are bound by cache misses, not by arithmetic: the text
    // before the suffix in a slot is fetched this many slots ahead of use.
    static constexpr unsigned prefetchDistance = 64;

    // Bucket pointers of the repeated names, indexed by bucketOf(name).
    // (A dense table, one entry per distinct name, takes a rank query per
    // access and measured 5% slower overall, though it fits the caches
    // better when few names repeat.)
    void acquireTable()
    {
        if (spareSize_ >= n_) {
            bucket_ = spare_;
        } else {
            ownTable_.reset(new unsigned[n_]);
            bucket_ = ownTable_.get();
        }
    }
    void releaseTable()
    {
        ownTable_.reset();
        bucket_ = nullptr;
    }
    // Pointers to the first slot (heads) or one past the last (tails) of
    // every repeated name's bucket, and with `clearGroups` the group count
    // after each pointer zeroed. Unique names need neither.
    template <bool tails, bool clearGroups>
    void setBounds()
    {
        if (mostlyUnique_)
            setBoundsOf<tails, clearGroups, true>();
        else
            setBoundsOf<tails, clearGroups, false>();
    }
    template <bool tails, bool clearGroups, bool skipUnique>
    void setBoundsOf();
    // Calls f(r, end) for the bucket [r, end) of every name, in ascending
    // order on one thread, or in pieces on two; f may write only the table
    // entries and slots of its bucket.
    template <class F>
    void forEachBucket(F f)
    {
        const std::size_t words = (n_ - 1) / 64 + 1;
        if (!helper_.active() || n_ < splitMinimum) {
            forEachRunIn(starts_, n_, 0, words, f);
            return;
        }
        helper_.run(pieces, [this, words, &f](unsigned k) {
            forEachRunIn(starts_, n_, words * k / pieces, words * (k + 1) / pieces, f);
        });
    }
    void setHeads() { setBounds<false, false>(); }
    void setTails() { setBounds<true, false>(); }
    // Next slot of bucket `name` from the left, or from the right.
    unsigned pushHead(unsigned name) { return isUnique(name) ? bucketOf(name) : bucket_[bucketOf(name)]++; }
    unsigned pushTail(unsigned name) { return isUnique(name) ? bucketOf(name) : --bucket_[bucketOf(name)]; }
    // Left-to-right scan placing every L-type suffix after the suffix that
    // follows it has been placed.
    void induceL();
    // Right-to-left scan placing every S-type suffix.
    void induceS();
    // The first scans, which also name the LMS substrings as the byte
    // level's do. A repeated name's bucket has two slots or more, so the
    // table entry after its pointer belongs to no other name and holds the
    // group count of the bucket's last placement.
    void induceAndNameL();
    void induceAndNameS();
    // Puts the LMS positions at the ends of their buckets, in text order
    // from the top of each bucket down.
    void placeSeeds(const LmsPositions& lms);
    // Turns ranks of the next reduced text into LMS positions and puts them
    // at the ends of their buckets; all other slots become empty.
    void placeSortedLms(const LmsPositions& lms, unsigned n1);
    // Moves the LMS suffixes of ranks [lo, hi), whose positions are
    // from[lo - offset, hi - offset), to the ends of their buckets, from the
    // greatest down; with `clear`, their old slots (from = sa) become empty.
    void moveSortedLms(const unsigned* from, unsigned offset, unsigned lo, unsigned hi, bool clear);

    const unsigned* const t_;
    unsigned* const sa_;
    const unsigned n_;
    unsigned* const spare_;
    const unsigned spareSize_;
    const std::uint64_t* const starts_;
    unsigned* bucket_ = nullptr;
    bool mostlyUnique_ = false;
    std::unique_ptr<unsigned[]> ownTable_;
    PassHelper& helper_;
};

// One walk over the ranks of the names in order, so the pointers are
// written in ascending order and never counted. A bucket ends where the
// next name's starts; one of a single slot is a unique name's.
template <bool tails, bool clearGroups, bool skipUnique>
void ReducedSorter::setBoundsOf()
{
    unsigned* const b = bucket_;
    // When most names are unique, skipping them saves most of the writes
    // and the test is predictable; otherwise it is not, and every name is
    // written without a branch: a unique name's entry is nobody's, so it
    // takes the zero, and the entry after it, the next name's, is left
    // alone.
    forEachBucket([b](unsigned r, unsigned end) {
        if (skipUnique && end == r + 1) return;
        b[r] = tails ? end : r;
        if (clearGroups) b[r + (end != r + 1)] = 0;
    });
}

void ReducedSorter::sort()
{
    if (n_ == 1) {
        sa_[0] = 0;
        return;
    }
    // Without LMS positions the text never rises: every suffix is L-type and
    // the final scans below order them from the end of the text alone.
    // With a helper the slots are set for the first scans while the LMS
    // positions are found, and set again in the rare case of none.
    const bool cleared = helper_.active() && n_ >= splitMinimum;
    const LmsPositions lms = cleared ? clearAndFindLms(t_, n_, sa_, 0u, helper_) : LmsPositions(t_, n_);
    const unsigned n1 = static_cast<unsigned>(lms.count());
    acquireTable();
    if (n1 == 0) std::fill(sa_, sa_ + n_, emptySlot);
    if (n1 != 0) {
        // The first scans use the slot values of gatherNames().
        if (!cleared) std::fill(sa_, sa_ + n_, 0u);
        placeSeeds(lms);
        // Seeds of one bucket all equal their first symbol: one group each.
        forEachBucket([this](unsigned r, unsigned end) {
            if (end == r + 1) {
                if (sa_[r] != 0) sa_[r] |= boundaryFlag;
            } else if (bucket_[r] != end) {
                sa_[bucket_[r]] |= boundaryFlag;
            }
        });
        induceAndNameL();
        induceAndNameS();
        std::vector<std::uint64_t> nameStarts(n1 / 64 + 1, 0);
        const unsigned names = helper_.active() && n_ >= splitMinimum
                                   ? gatherNamesInPieces(sa_, n_, n1, lms, nameStarts.data(), helper_)
                                   : gatherNames(sa_, n_, n1, lms, nameStarts.data());
        unsigned* const reduced = sa_ + (n_ - n1);
        if (names == n1) {
            for (unsigned i = 0; i < n1; ++i) sa_[bucketOf(reduced[i])] = i;
        } else {
            // The unused slots between the two halves are the next level's
            // spare; an own table goes while it runs.
            const bool own = ownTable_ != nullptr;
            if (own) releaseTable();
            ReducedSorter(reduced, sa_, n1, sa_ + n1, n_ - 2 * n1, nameStarts.data(), helper_).sort();
            if (own) acquireTable();
        }
        placeSortedLms(lms, n1);
    }
    induceL();
    induceS();
}

// This scan, induceAndNameL() and moveSortedLms() are inlined into sort():
// called instead, as g++ 12 chooses for them in this file, they run 0.5 %
// more instructions on mix10m.
VARN_ALWAYS_INLINE void ReducedSorter::induceL()
{
    const unsigned* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned* const bucket = bucket_;
    setHeads();
    // The end of the text is the least suffix, and suffix n - 1 is L-type.
    sa[pushHead(t[n - 1])] = n - 1;
    auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
    scanUp<prefetchDistance>(0, n, n, fetch, [t, sa, n, bucket](unsigned i) VARN_FORCE_INLINE {
        const unsigned j = sa[i] - 1;
        if (j >= n) return;
        // Slots hold only L-type and LMS suffixes here. Before an LMS
        // position the symbol is greater; before an L-type suffix an equal
        // or greater symbol makes an L-type suffix.
        const unsigned c = t[j];
        if (c >= t[j + 1]) sa[isUnique(c) ? bucketOf(c) : bucket[bucketOf(c)]++] = j;
    });
}

void ReducedSorter::induceS()
{
    const unsigned* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned* const bucket = bucket_;
    setTails();
    auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
    scanDown<prefetchDistance>(n, 0, 0, fetch, [t, sa, n, bucket](unsigned i) VARN_FORCE_INLINE {
        const unsigned j = sa[i] - 1;
        if (j >= n) return;
        const unsigned c = t[j];
        const unsigned next = t[j + 1];
        // Suffix j is S-type when its symbol is less than the next one, or
        // equal and suffix j + 1 is S-type. Suffix j + 1 sits in slot i of
        // bucket `next`, whose S-type part is the stretch this scan has
        // filled so far: slots from its pointer up. Equal neighbours mean a
        // repeated name, which has a pointer.
        if (isUnique(c)) {
            // Unique names are never equal to their neighbour.
            if (c < next) sa[bucketOf(c)] = j;
            return;
        }
        unsigned& tail = bucket[bucketOf(c)];
        if (c < next || (c == next && i >= tail)) sa[--tail] = j;
    });
}

VARN_ALWAYS_INLINE void ReducedSorter::induceAndNameL()
{
    const unsigned* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned* const bucket = bucket_;
    setBounds<false, true>();
    unsigned group = 1;
    // Places suffix j, of name c, at the front of its bucket.
    auto place = [&](unsigned c, unsigned j) {
        if (isUnique(c)) {
            sa[bucketOf(c)] = j | boundaryFlag;
            return;
        }
        unsigned* const entry = bucket + bucketOf(c);
        sa[entry[0]++] = j | (entry[1] != group ? boundaryFlag : 0u);
        entry[1] = group;
    };
    // The end of the text is the least suffix and its own group.
    place(t[n - 1], n - 1);
    auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
    scanUp<prefetchDistance>(0, n, n, fetch, [&](unsigned i) VARN_FORCE_INLINE {
        const unsigned v = sa[i];
        group += v >> 31;
        const unsigned j = (v & positionMask) - 1;
        if (j >= n) return;
        const unsigned c = t[j];
        if (c >= t[j + 1]) place(c, j);
    });
}

void ReducedSorter::induceAndNameS()
{
    const unsigned* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned* const bucket = bucket_;
    setBounds<true, true>();
    unsigned group = 1;
    unsigned leftBoundary = 1;  // see countGroupDown()
    auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
    scanDown<prefetchDistance>(n, 0, 0, fetch, [&](unsigned i) VARN_FORCE_INLINE {
        const unsigned v = sa[i];
        const unsigned s = v & positionMask;
        const unsigned next = t[s];
        // A unique name's suffix is S-type when the next name is greater;
        // a repeated name's when it lies in the part of its bucket this
        // scan has filled.
        const bool sType = isUnique(next) ? s + 1 < n && next < t[s + 1] : i >= bucket[bucketOf(next)];
        countGroupDown(v, sType, group, leftBoundary);
        if (s == 0) return;
        const unsigned c = t[s - 1];
        if (c < next || (c == next && sType)) {
            const unsigned value = (s - 1) | (s > 1 && t[s - 2] > c ? lmsFlag : 0u);
            if (isUnique(c)) {
                sa[bucketOf(c)] = value | boundaryFlag;
            } else {
                unsigned* const entry = bucket + bucketOf(c);
                sa[--entry[0]] = value | (entry[1] != group ? boundaryFlag : 0u);
                entry[1] = group;
            }
        }
    });
}

void ReducedSorter::placeSeeds(const LmsPositions& lms)
{
    setTails();
    if (!helper_.active() || n_ < splitMinimum) {
        lms.forEach<unsigned>([this](unsigned p) { sa_[pushTail(t_[p])] = p; });
        return;
    }
    // The names whose buckets start in the lower half of the slots go to
    // one thread, the others to the other; each walks all positions. The
    // names come in no order, so a position that is not the thread's own
    // is written to a spare entry and slot rather than skipped by a branch.
    const unsigned middle = n_ / 2;
    helper_.run(2, [this, &lms, middle](unsigned half) {
        const unsigned* const t = t_;
        unsigned* const sa = sa_;
        unsigned* const bucket = bucket_;
        unsigned spareEntry = 0, spareSlot = 0;
        lms.forEach<unsigned>([&](unsigned p) {
            const unsigned c = t[p];
            const bool own = (bucketOf(c) >= middle) == (half == 1);
            unsigned* const entry = own ? bucket + bucketOf(c) : &spareEntry;
            const unsigned slot = isUnique(c) ? bucketOf(c) : --*entry;
            *(own ? sa + slot : &spareSlot) = p;
        });
    });
}

VARN_ALWAYS_INLINE void ReducedSorter::moveSortedLms(const unsigned* from, unsigned offset, unsigned lo, unsigned hi, bool clear)
{
    const unsigned* const t = t_;
    unsigned* const sa = sa_;
    for (unsigned i = hi; i-- > lo;) {
        if (i >= lo + prefetchDistance) __builtin_prefetch(t + from[i - prefetchDistance - offset]);
        const unsigned p = from[i - offset];
        if (clear) sa[i] = emptySlot;
        sa[pushTail(t[p])] = p;
    }
}

void ReducedSorter::placeSortedLms(const LmsPositions& lms, unsigned n1)
{
    unsigned* const sa = sa_;
    ranksToPositionsFilling<emptySlot>(sa, n_, n1, sa + (n_ - n1), lms, helper_);

    // The LMS suffix of rank i belongs at slot i or above, so filling the
    // bucket ends from the greatest down never overwrites one not yet moved.
    setTails();
    // Ranks are in the order of the names. On two threads the ranks are cut
    // where the name changes, near the middle: the upper part lands at or
    // above the start of its first name's bucket, and the lower part below
    // it. The lower part may land on the upper part's old slots, so those
    // are copied out first.
    unsigned cut = 0;
    if (helper_.active() && n1 >= splitMinimum) {
        const unsigned* const t = t_;
        const unsigned limit = n1 - n1 / 4;
        for (cut = n1 / 2; cut < limit && t[sa[cut]] == t[sa[cut - 1]];) ++cut;
        if (cut == limit) cut = 0;
    }
    if (cut == 0) {
        moveSortedLms(sa, 0, 0, n1, true);
        return;
    }
    std::unique_ptr<unsigned[]> upper(new unsigned[n1 - cut]);
    std::copy(sa + cut, sa + n1, upper.get());
    std::fill(sa + cut, sa + n1, emptySlot);
    helper_.run(2, [&](unsigned part) {
        if (part == 0)
            moveSortedLms(sa, 0, 0, cut, true);
        else
            moveSortedLms(upper.get(), cut, cut, n1, false);
    });
}

// Calls step(k, b) for the slots k of [lo, hi), ascending (bucketsUp) or
// descending (bucketsDown), b being the byte bucket of slot k; `start` holds
// the 257 bucket bounds. Prefetches as scanUp/scanDown do.
template <unsigned distance, class Fetch, class Step>
VARN_ALWAYS_INLINE void bucketsUp(const unsigned* start, unsigned lo, unsigned hi, unsigned n, Fetch fetch, Step step)
{
    unsigned b = static_cast<unsigned>(std::upper_bound(start, start + 257, lo) - start) - 1;
    while (lo < hi) {
        const unsigned end = std::min(hi, start[b + 1]);
        scanUp<distance>(lo, end, n, fetch, [&](unsigned k) VARN_FORCE_INLINE { step(k, b); });
        lo = end;
        ++b;
    }
}

template <unsigned distance, class Fetch, class Step>
VARN_ALWAYS_INLINE void bucketsDown(const unsigned* start, unsigned hi, unsigned lo, Fetch fetch, Step step)
{
    unsigned b = static_cast<unsigned>(std::upper_bound(start, start + 257, hi - 1) - start) - 1;
    while (hi > lo) {
        const unsigned begin = std::max(lo, start[b]);
        scanDown<distance>(hi, begin, 0, fetch, [&](unsigned k) VARN_FORCE_INLINE { step(k, b); });
        hi = begin;
        --b;
    }
}

// Two threads in one inducing scan of the byte level. The scan runs in
// blocks that no placement from the block itself can land in: scanning up,
// every byte's next slot lies at or above the block's end; scanning down,
// at or below its start. The slots of such a block are final before it is
// scanned, so its parts are read side by side, each listing what its slots
// induce and counting it per byte. From the counts every part gets its own
// stretch of each bucket, in the order one thread would have placed them,
// and the parts place side by side. A block has a few parts more than
// threads, so that neither thread waits long for the other's last one.
// Where such a block would be short (a run of one byte induces the slot
// right after), the scan goes on alone for a while. Same result as one
// thread.
//
// A scan type gives:
//  - plain(from, to): the one-thread scan over those slots;
//  - bound: its 256 bucket pointers;
//  - begin(parts): state carried into the parts, before they are read;
//  - collect(part, items): lists the part's placements in scan order;
//  - merge(parts): the parts' pointers from the counts;
//  - place(part, items): writes the part's placements.
// Parts are numbered in scan order.
struct ScanPart {
    unsigned lo = 0, hi = 0;
    unsigned items = 0;         // placements listed, from index lo - block start
    unsigned count[256];        // placements per byte
    unsigned next[256];         // the part's bucket pointers
    unsigned last[256];         // naming scans: group of each bucket's previous placement
    unsigned lastItem[256];     // naming scans: group of the part's last placement per byte
    unsigned groups = 0;        // naming scans: boundaries counted in the part
    unsigned groupBase = 0;     // naming scans: groups before the part
    unsigned leftBoundary = 0;  // naming scan down: in, then out
    unsigned primary = ~0u;     // transform scan down: the slot of suffix 0
};

constexpr unsigned blockParts = 4;

struct ScanItems {
    explicit ScanItems(unsigned size) : value(new unsigned[size]), group(new unsigned[size]), symbol(new unsigned char[size]) {}
    std::unique_ptr<unsigned[]> value;
    std::unique_ptr<unsigned[]> group;
    std::unique_ptr<unsigned char[]> symbol;
};

class SharedScan {
public:
    static constexpr unsigned blockSlots = 1u << 15;
    // Blocks shorter than this are scanned on one thread, this many
    // slots at a time.
    static constexpr unsigned shortBlock = 1u << 11;

    explicit SharedScan(PassHelper& helper) : helper_(helper), items_(blockSlots) {}

    template <class Scan>
    void up(Scan& scan, unsigned lo, unsigned end)
    {
        while (lo < end) {
            unsigned hi = std::min(end - lo, blockSlots) + lo;
            if (!helper_.active()) {
                scan.plain(lo, hi);
                lo = hi;
                continue;
            }
            for (unsigned c = 0; c < 256; ++c)
                if (scan.bound[c] > lo && scan.bound[c] < hi) hi = scan.bound[c];
            if (hi - lo < shortBlock) {
                hi = std::min(end - lo, shortBlock) + lo;
                scan.plain(lo, hi);
                lo = hi;
                continue;
            }
            for (unsigned i = 0; i < blockParts; ++i) {
                part_[i].lo = lo + (hi - lo) / blockParts * i;
                part_[i].hi = i + 1 == blockParts ? hi : lo + (hi - lo) / blockParts * (i + 1);
            }
            share(scan, lo);
            lo = hi;
        }
    }

    // Scans [end, hi) downwards.
    template <class Scan>
    void down(Scan& scan, unsigned hi, unsigned end)
    {
        while (hi > end) {
            unsigned lo = hi - std::min(hi - end, blockSlots);
            if (!helper_.active()) {
                scan.plain(hi, lo);
                hi = lo;
                continue;
            }
            for (unsigned c = 0; c < 256; ++c)
                if (scan.bound[c] < hi && scan.bound[c] > lo) lo = scan.bound[c];
            if (hi - lo < shortBlock) {
                lo = hi - std::min(hi - end, shortBlock);
                scan.plain(hi, lo);
                hi = lo;
                continue;
            }
            for (unsigned i = 0; i < blockParts; ++i) {
                part_[i].hi = hi - (hi - lo) / blockParts * i;
                part_[i].lo = i + 1 == blockParts ? lo : hi - (hi - lo) / blockParts * (i + 1);
            }
            share(scan, lo);
            hi = lo;
        }
    }

private:
    template <class Scan>
    void share(Scan& scan, unsigned lo)
    {
        scan.begin(part_);
        ScanItems& items = items_;
        ScanPart* const part = part_;
        helper_.run(
            blockParts, [&scan, &items, part, lo](unsigned i) { scan.collect(part[i], items, part[i].lo - lo); }, true);
        scan.merge(part_);
        helper_.run(
            blockParts, [&scan, &items, part, lo](unsigned i) { scan.place(part[i], items, part[i].lo - lo); }, true);
    }

    PassHelper& helper_;
    ScanItems items_;
    ScanPart part_[blockParts];
};

// Merge steps shared by the scans: the parts' bucket pointers follow one
// another, scanning up or down. The merge runs between the two halves of
// every block while the helper waits, so the loops go part by part with the
// 256 byte values inside, which the compiler turns into vector steps (five
// times faster than byte by byte with the parts inside).
template <bool up>
inline void mergeBounds(unsigned* __restrict bound, ScanPart* parts)
{
    for (unsigned i = 0; i < blockParts; ++i) {
        unsigned* __restrict const next = parts[i].next;
        const unsigned* __restrict const count = parts[i].count;
        for (unsigned c = 0; c < 256; ++c) {
            next[c] = bound[c];
            bound[c] = up ? bound[c] + count[c] : bound[c] - count[c];
        }
    }
}

// The naming scans' group counts: each part's own count starts after the
// one before it, and a bucket's previous placement is the last one in it of
// the parts before, if any.
inline void mergeGroups(unsigned& group, unsigned* __restrict last, ScanPart* parts)
{
    for (unsigned i = 0; i < blockParts; ++i) {
        parts[i].groupBase = group;
        group += parts[i].groups;
    }
    for (unsigned i = 0; i < blockParts; ++i) {
        unsigned* __restrict const own = parts[i].last;
        const unsigned* __restrict const count = parts[i].count;
        const unsigned* __restrict const lastItem = parts[i].lastItem;
        const unsigned base = parts[i].groupBase;
        for (unsigned c = 0; c < 256; ++c) {
            own[c] = last[c];
            last[c] = count[c] != 0 ? base + lastItem[c] : last[c];
        }
    }
}

// The scans of the byte level (see ByteSorter), each over its own bucket
// pointers `bound`; `start` holds the 257 bucket bounds. A slot's bucket is
// the first byte of its suffix, so the parts of a shared block read it
// from the text.
struct ByteScan {
    static constexpr unsigned distance = 32;
    // The parts of a shared block fetch further ahead: measured faster
    // there, not in the one-thread scans.
    static constexpr unsigned collectDistance = 64;
    const unsigned char* t;
    unsigned* sa;
    unsigned n;
    const unsigned* start;
    unsigned* bound;
};

// The first scans, which order and name the LMS substrings.
struct NameUp : ByteScan {
    unsigned* last;  // group of each bucket's previous placement
    unsigned group;

    void plain(unsigned lo, unsigned hi)
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        const unsigned n = this->n;
        // Local copies: the compiler then knows that the placements do not
        // write them.
        unsigned bound[256], last[256];
        std::copy(this->bound, this->bound + 256, bound);
        std::copy(this->last, this->last + 256, last);
        unsigned group = this->group;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
        bucketsUp<distance>(start, lo, hi, n, fetch, [&](unsigned k, unsigned b) VARN_FORCE_INLINE {
            const unsigned v = sa[k];
            group += v >> 31;
            const unsigned j = (v & positionMask) - 1;
            if (j >= n) return;
            // Slots hold L-type and LMS suffixes only; see
            // ReducedSorter::induceL.
            const unsigned char c = t[j];
            if (c >= b) {
                sa[bound[c]++] = j | (last[c] != group ? boundaryFlag : 0u);
                last[c] = group;
            }
        });
        std::copy(bound, bound + 256, this->bound);
        std::copy(last, last + 256, this->last);
        this->group = group;
    }
    void begin(ScanPart*) {}
    void collect(ScanPart& part, ScanItems& items, unsigned at) const
    {
        const unsigned char* const t = this->t;
        const unsigned* const sa = this->sa;
        const unsigned n = this->n;
        unsigned* const value = items.value.get() + at;
        unsigned* const groups = items.group.get() + at;
        unsigned char* const symbol = items.symbol.get() + at;
        unsigned* const count = part.count;
        unsigned* const lastItem = part.lastItem;
        std::fill(count, count + 256, 0u);
        unsigned m = 0, group = 0;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
        scanUp<collectDistance>(part.lo, part.hi, part.hi, fetch, [&](unsigned k) VARN_FORCE_INLINE {
            const unsigned v = sa[k];
            group += v >> 31;
            const unsigned j = (v & positionMask) - 1;
            if (j >= n) return;
            const unsigned char c = t[j];
            if (c < t[j + 1]) return;
            value[m] = j;
            groups[m] = group;
            symbol[m++] = c;
            ++count[c];
            lastItem[c] = group;
        });
        part.items = m;
        part.groups = group;
    }
    void merge(ScanPart* parts)
    {
        mergeBounds<true>(bound, parts);
        mergeGroups(group, last, parts);
    }
    void place(ScanPart& part, const ScanItems& items, unsigned at) const
    {
        unsigned* const sa = this->sa;
        const unsigned* const value = items.value.get() + at;
        const unsigned* const groups = items.group.get() + at;
        const unsigned char* const symbol = items.symbol.get() + at;
        for (unsigned m = 0; m < part.items; ++m) {
            const unsigned c = symbol[m], group = part.groupBase + groups[m];
            sa[part.next[c]++] = value[m] | (part.last[c] != group ? boundaryFlag : 0u);
            part.last[c] = group;
        }
    }
};

struct NameDown : ByteScan {
    unsigned* last;
    unsigned group;
    unsigned leftBoundary;  // see countGroupDown()

    // Slots hold what this scan has placed (the S-type part of a bucket,
    // from its pointer up) and L-type suffixes.
    void plain(unsigned hi, unsigned lo)
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        unsigned bound[256], last[256];
        std::copy(this->bound, this->bound + 256, bound);
        std::copy(this->last, this->last + 256, last);
        unsigned group = this->group, leftBoundary = this->leftBoundary;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
        bucketsDown<distance>(start, hi, lo, fetch, [&](unsigned k, unsigned b) VARN_FORCE_INLINE {
            const unsigned v = sa[k];
            const unsigned s = v & positionMask;
            const bool sType = k >= bound[b];
            countGroupDown(v, sType, group, leftBoundary);
            if (s == 0) return;
            const unsigned char c = t[s - 1];
            if (c < b || (c == b && sType)) {
                // Suffix s - 1 is S-type; LMS when the byte before is
                // greater.
                const unsigned lms = s > 1 && t[s - 2] > c ? lmsFlag : 0u;
                sa[--bound[c]] = (s - 1) | lms | (last[c] != group ? boundaryFlag : 0u);
                last[c] = group;
            }
        });
        std::copy(bound, bound + 256, this->bound);
        std::copy(last, last + 256, this->last);
        this->group = group;
        this->leftBoundary = leftBoundary;
    }
    // No placement lands in a shared block, so whether a slot of it is in
    // its bucket's S-type part does not change while it is scanned.
    void begin(ScanPart* parts) const
    {
        parts[0].leftBoundary = leftBoundary;
        for (unsigned i = 1; i < blockParts; ++i) {
            const unsigned above = parts[i - 1].lo;
            const unsigned v = sa[above];
            parts[i].leftBoundary = above >= bound[t[v & positionMask]] ? 1u : v >> 31;
        }
    }
    void collect(ScanPart& part, ScanItems& items, unsigned at) const
    {
        const unsigned char* const t = this->t;
        const unsigned* const sa = this->sa;
        const unsigned* const bound = this->bound;
        unsigned* const value = items.value.get() + at;
        unsigned* const groups = items.group.get() + at;
        unsigned char* const symbol = items.symbol.get() + at;
        unsigned* const count = part.count;
        unsigned* const lastItem = part.lastItem;
        std::fill(count, count + 256, 0u);
        unsigned m = 0, group = 0, leftBoundary = part.leftBoundary;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k, positionMask); };
        scanDown<collectDistance>(part.hi, part.lo, part.lo, fetch, [&](unsigned k) VARN_FORCE_INLINE {
            const unsigned v = sa[k];
            const unsigned s = v & positionMask;
            const unsigned char b = t[s];
            const bool sType = k >= bound[b];
            countGroupDown(v, sType, group, leftBoundary);
            if (s == 0) return;
            const unsigned char c = t[s - 1];
            if (c < b || (c == b && sType)) {
                value[m] = (s - 1) | (s > 1 && t[s - 2] > c ? lmsFlag : 0u);
                groups[m] = group;
                symbol[m++] = c;
                ++count[c];
                lastItem[c] = group;
            }
        });
        part.items = m;
        part.groups = group;
        part.leftBoundary = leftBoundary;
    }
    void merge(ScanPart* parts)
    {
        mergeBounds<false>(bound, parts);
        mergeGroups(group, last, parts);
        leftBoundary = parts[blockParts - 1].leftBoundary;
    }
    void place(ScanPart& part, const ScanItems& items, unsigned at) const
    {
        unsigned* const sa = this->sa;
        const unsigned* const value = items.value.get() + at;
        const unsigned* const groups = items.group.get() + at;
        const unsigned char* const symbol = items.symbol.get() + at;
        for (unsigned m = 0; m < part.items; ++m) {
            const unsigned c = symbol[m], group = part.groupBase + groups[m];
            sa[--part.next[c]] = value[m] | (part.last[c] != group ? boundaryFlag : 0u);
            part.last[c] = group;
        }
    }
};

// The final scans writing the transform. A slot that holds flag + byte is
// done: its suffix has induced what it had to and the byte before it is
// its transform byte.
struct TransformUp : ByteScan {
    void plain(unsigned lo, unsigned hi)
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        const unsigned n = this->n;
        unsigned* const bound = this->bound;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
        bucketsUp<distance>(start, lo, hi, n, fetch, [t, sa, n, bound](unsigned k, unsigned b) VARN_FORCE_INLINE {
            const unsigned j = sa[k] - 1;
            if (j >= n) return;  // empty, suffix 0, or done
            const unsigned char c = t[j];
            // An S-type suffix j is left for the S-type scan to place and
            // name.
            if (c >= b) {
                sa[bound[c]++] = j;
                sa[k] = boundaryFlag | c;
            }
        });
    }
    void begin(ScanPart*) {}
    void collect(ScanPart& part, ScanItems& items, unsigned at) const
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        const unsigned n = this->n;
        unsigned* const value = items.value.get() + at;
        unsigned char* const symbol = items.symbol.get() + at;
        unsigned* const count = part.count;
        std::fill(count, count + 256, 0u);
        unsigned m = 0;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
        scanUp<collectDistance>(part.lo, part.hi, part.hi, fetch, [&](unsigned k) VARN_FORCE_INLINE {
            const unsigned j = sa[k] - 1;
            if (j >= n) return;
            const unsigned char c = t[j];
            if (c < t[j + 1]) return;
            value[m] = j;
            symbol[m++] = c;
            ++count[c];
            sa[k] = boundaryFlag | c;
        });
        part.items = m;
    }
    void merge(ScanPart* parts) { mergeBounds<true>(bound, parts); }
    void place(ScanPart& part, const ScanItems& items, unsigned at) const
    {
        unsigned* const sa = this->sa;
        const unsigned* const value = items.value.get() + at;
        const unsigned char* const symbol = items.symbol.get() + at;
        for (unsigned m = 0; m < part.items; ++m) sa[part.next[symbol[m]]++] = value[m];
    }
};

struct TransformDown : ByteScan {
    unsigned primary;  // the slot of suffix 0

    // No slot is empty by now, so 0 is suffix 0. Suffix s is S-type or an
    // L-type one whose predecessor is S-type: the predecessor is S-type
    // unless it is greater.
    void plain(unsigned hi, unsigned lo)
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        unsigned* const bound = this->bound;
        unsigned primary = this->primary;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
        bucketsDown<distance>(start, hi, lo, fetch, [&](unsigned k, unsigned b) VARN_FORCE_INLINE {
            const unsigned s = sa[k];
            if (s & boundaryFlag) return;
            if (s == 0) {
                primary = k;
                return;
            }
            const unsigned char c = t[s - 1];
            if (c <= b) sa[--bound[c]] = s - 1;
            sa[k] = boundaryFlag | c;
        });
        this->primary = primary;
    }
    void begin(ScanPart* parts) const
    {
        for (unsigned i = 0; i < blockParts; ++i) parts[i].primary = ~0u;
    }
    void collect(ScanPart& part, ScanItems& items, unsigned at) const
    {
        const unsigned char* const t = this->t;
        unsigned* const sa = this->sa;
        unsigned* const value = items.value.get() + at;
        unsigned char* const symbol = items.symbol.get() + at;
        unsigned* const count = part.count;
        std::fill(count, count + 256, 0u);
        unsigned m = 0, primary = ~0u;
        auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
        scanDown<collectDistance>(part.hi, part.lo, part.lo, fetch, [&](unsigned k) VARN_FORCE_INLINE {
            const unsigned s = sa[k];
            if (s & boundaryFlag) return;
            if (s == 0) {
                primary = k;
                return;
            }
            const unsigned char c = t[s - 1];
            if (c <= t[s]) {
                value[m] = s - 1;
                symbol[m++] = c;
                ++count[c];
            }
            sa[k] = boundaryFlag | c;
        });
        part.items = m;
        part.primary = primary;
    }
    void merge(ScanPart* parts)
    {
        mergeBounds<false>(bound, parts);
        for (unsigned i = 0; i < blockParts; ++i)
            if (parts[i].primary != ~0u) primary = parts[i].primary;
    }
    void place(ScanPart& part, const ScanItems& items, unsigned at) const
    {
        unsigned* const sa = this->sa;
        const unsigned* const value = items.value.get() + at;
        const unsigned char* const symbol = items.symbol.get() + at;
        for (unsigned m = 0; m < part.items; ++m) sa[--part.next[symbol[m]]] = value[m];
    }
};

// Sorts keyed slots, key in the high half and position in the low, by the
// key only, over its bits [0, keyBits): LSD radix, digitBits a pass, the
// passes whose digit all keys share skipped; `spare` has room for n.
template <unsigned digitBits>
void radixSortKeyed(std::uint64_t* a, std::size_t n, unsigned keyBits, std::uint64_t* spare)
{
    constexpr unsigned digits = 1u << digitBits;
    std::uint64_t* from = a;
    std::uint64_t* to = spare;
    for (unsigned shift = 32; shift < 32 + keyBits; shift += digitBits) {
        unsigned count[digits] = {};
        for (std::size_t i = 0; i < n; ++i) ++count[(from[i] >> shift) & (digits - 1)];
        if (count[(from[0] >> shift) & (digits - 1)] == n) continue;
        unsigned sum = 0;
        for (unsigned d = 0; d < digits; ++d) {
            const unsigned c = count[d];
            count[d] = sum;
            sum += c;
        }
        for (std::size_t i = 0; i < n; ++i) to[count[(from[i] >> shift) & (digits - 1)]++] = from[i];
        std::swap(from, to);
    }
    if (from != a) std::copy(from, from + n, a);
}

// Sorts keyed slots by key (the order of equal keys does not matter):
// small groups by insertion, others by radix over the bits in which their
// keys differ; a group whose keys are all equal is left as it is.
inline void sortKeyed(std::uint64_t* a, std::size_t n, std::uint64_t* spare)
{
    if (n <= 32) {
        for (std::size_t i = 1; i < n; ++i) {
            const std::uint64_t v = a[i];
            std::size_t j = i;
            for (; j > 0 && a[j - 1] > v; --j) a[j] = a[j - 1];
            a[j] = v;
        }
        return;
    }
    std::uint64_t differ = 0;
    for (std::size_t i = 1; i < n; ++i) differ |= a[i] ^ a[0];
    differ >>= 32;
    if (differ == 0) return;
    const unsigned keyBits = 64 - __builtin_clzll(differ);
    if (n <= 1024)
        radixSortKeyed<8>(a, n, keyBits, spare);
    else
        radixSortKeyed<11>(a, n, keyBits, spare);
}

// PassHelper::run() for pieces that may throw (they allocate): the first
// exception is thrown again on the caller once every piece has returned,
// and the pieces not yet started are skipped.
template <class Piece>
void runThrowing(PassHelper& helper, unsigned count, Piece piece)
{
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    helper.run(count, [&](unsigned k) {
        if (failed.load(std::memory_order_relaxed)) return;
        try {
            piece(k);
        } catch (...) {
            if (!failed.exchange(true)) failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
}

// Whether much of a reduced text lies in long repeats: stretches of more
// than `window` symbols that occur elsewhere too. Looked at through
// samples picked by their content (a rolling hash of the window that
// follows them), so that the copies of a repeat are sampled alike; the
// text repeats when an eighth of the samples or more have a twin, or when
// there are too few samples to tell.
bool repeatsLong(const unsigned* t, unsigned m, PassHelper& helper)
{
    constexpr unsigned window = 32;
    constexpr std::uint64_t base = 0x100000001B3u, mix = 0x9E3779B97F4A7C15u;
    if (m < 2 * window) return false;
    std::uint64_t top = 1;  // base^(window - 1)
    for (unsigned j = 1; j < window; ++j) top *= base;
    const unsigned last = m - window;  // the last window starts here
    std::vector<std::uint64_t> samples[pieces];
    runThrowing(helper, pieces, [&](unsigned k) {
        const unsigned lo = static_cast<unsigned>(std::uint64_t(last + 1) * k / pieces);
        const unsigned hi = static_cast<unsigned>(std::uint64_t(last + 1) * (k + 1) / pieces);
        if (lo == hi) return;
        std::uint64_t hash = 0;
        for (unsigned j = 0; j < window; ++j) hash = hash * base + t[lo + j];
        for (unsigned i = lo;;) {
            // One position in 128.
            if ((hash * mix) >> 57 == 0) samples[k].push_back(hash);
            if (++i == hi) break;
            hash = (hash - t[i - 1] * top) * base + t[i + window - 1];
        }
    });
    std::vector<std::uint64_t> all;
    for (const auto& piece : samples) all.insert(all.end(), piece.begin(), piece.end());
    // A text made of a few windows over and over gives a few samples
    // (m / 128 are expected) or none at all.
    if (all.size() < m / 512) return true;
    std::sort(all.begin(), all.end());
    std::size_t twinned = 0;
    for (std::size_t i = 0; i < all.size(); ++i)
        twinned += (i > 0 && all[i] == all[i - 1]) || (i + 1 < all.size() && all[i] == all[i + 1]);
    return twinned * 8 >= all.size();
}

// Sorting a reduced text's suffixes by prefix doubling, on two threads.
//
// Induced sorting places each suffix after others, one at a time, so its
// scans stay on one thread; at the first reduced level of text they take
// about half of the sort's time on two threads. Doubling splits instead:
// the suffixes with equal ranks form a group, and a round sorts every group
// by the ranks of the suffixes h symbols on, after which the ranks order
// the suffixes by their first 2h symbols. The groups of a round are
// independent, so the two threads share them; the new ranks are written
// once every group of the round is sorted. The names give the first
// ranks: a name's rank is where its bucket starts.
//
// On one thread doubling does more work than induced sorting (each round
// fetches a rank for every suffix still in a group), so it is used with a
// helper only. Long repeats keep their suffixes in groups for many rounds:
// a text with many is left to induced sorting from the start (see
// repeatsLong()), and the rounds stop at a limit of work. sort() then
// returns false, and the caller sorts by induction.
class DoublingSorter {
public:
    // The suffixes of text[0, m) into sa[0, m); `rank` is scratch of m
    // entries; `starts` as for ReducedSorter.
    DoublingSorter(const unsigned* text, unsigned m, unsigned* sa, unsigned* rank, const std::uint64_t* starts,
                   PassHelper& helper)
        : t_(text), m_(m), sa_(sa), rank_(rank), starts_(starts), bounds_((m - 1) / 64 + 1), helper_(helper)
    {
    }

    bool sort();

private:
    struct Group {
        unsigned lo, hi;  // slots [lo, hi)
    };
    // Slots of the groups [first, last) of the list: a piece of a round.
    struct Piece {
        std::size_t first, last;
        std::vector<Group> next;  // its groups of the next round
    };

    // Puts every suffix in its name's bucket sorted by the next name, sets
    // the ranks and lists the groups; false when one name's bucket holds an
    // eighth of the suffixes or more.
    bool start();
    // Places the suffixes staged for the slots [lo, hi) of a region in
    // their buckets, sorted by the next name, marking in bounds_ where that
    // changes; the vectors are scratch.
    void placeRegion(unsigned lo, unsigned hi, const unsigned* staged, std::vector<unsigned>& pointer,
                     std::vector<std::uint64_t>& keyed, std::vector<std::uint64_t>& spare);
    // The pieces' lists of groups into one.
    void gatherGroups();
    // Cuts the list into pieces of about equal numbers of slots.
    void cut();
    // Sorts the groups of piece k by the ranks h on, marking in bounds_
    // where the keys change.
    void sortGroups(unsigned k, unsigned h);
    // The new ranks of piece k's slots, and its groups of the next round.
    void rankGroups(unsigned k);
    // Sets bit i of bounds_; bits in the first and last word of a piece's
    // slots may be set by the neighbouring piece at the same time.
    void mark(unsigned i, std::size_t edgeLo, std::size_t edgeHi)
    {
        const std::size_t w = i / 64;
        const std::uint64_t bit = std::uint64_t(1) << (i % 64);
        if (w == edgeLo || w == edgeHi)
            __atomic_fetch_or(&bounds_[w], bit, __ATOMIC_RELAXED);
        else
            bounds_[w] |= bit;
    }

    const unsigned* const t_;
    const unsigned m_;
    unsigned* const sa_;
    unsigned* const rank_;
    const std::uint64_t* const starts_;
    // Set at the first slot of every group, old or new.
    std::vector<std::uint64_t> bounds_;
    std::vector<Group> groups_;  // the groups of two slots or more, in slot order
    std::size_t slots_ = 0;      // slots in them
    Piece pieces_[pieces];
    PassHelper& helper_;

    static constexpr unsigned regionsMaximum = 2048;
    static constexpr unsigned textAhead = 32;
    static constexpr unsigned workLimit = 6;
};

bool DoublingSorter::start()
{
    const unsigned m = m_;
    const unsigned* const t = t_;
    const std::size_t words = bounds_.size();
    std::copy(starts_, starts_ + words, bounds_.begin());
    bool huge = false;
    helper_.run(pieces, [this, words, &huge](unsigned k) {
        bool big = false;
        forEachRunIn(starts_, m_, words * k / pieces, words * (k + 1) / pieces,
                     [this, &big](unsigned r, unsigned end) { big |= end - r >= m_ / 8; });
        if (big) __atomic_store_n(&huge, true, __ATOMIC_RELAXED);
    });
    if (huge) return false;

    // The first round comes with the placing: the suffixes go to their
    // names' buckets and are sorted there by the next name. Scattering them
    // straight to millions of buckets would miss the caches at every
    // suffix, so they go first to regions of ranks (a few thousand slots
    // each) in rank_, which is free until the ranks are set, and from
    // there to their buckets. Region d holds the names of ranks from
    // d << shift, and its slots start at the first bucket there.
    unsigned shift = 0;
    while ((std::uint64_t(m) >> shift) > regionsMaximum) ++shift;
    const unsigned regions = ((m - 1) >> shift) + 1;
    std::vector<unsigned> regionStart(regions + 1);
    for (unsigned d = 0; d <= regions; ++d) regionStart[d] = nextBit(starts_, std::min(m, d << shift), m);
    // Each half of the text goes to its own part of every region.
    std::vector<unsigned> next[2] = {std::vector<unsigned>(regions), std::vector<unsigned>(regions)};
    helper_.run(2, [&next, t, m, shift](unsigned half) {
        unsigned* const count = next[half].data();
        for (unsigned i = half == 0 ? 0 : m / 2, end = half == 0 ? m / 2 : m; i < end; ++i) ++count[bucketOf(t[i]) >> shift];
    });
    for (unsigned d = 0; d < regions; ++d) {
        const unsigned first = next[0][d];
        next[0][d] = regionStart[d];
        next[1][d] = regionStart[d] + first;
    }
    unsigned* const staged = rank_;
    helper_.run(2, [&next, t, m, shift, staged](unsigned half) {
        unsigned* const to = next[half].data();
        for (unsigned i = half == 0 ? 0 : m / 2, end = half == 0 ? m / 2 : m; i < end; ++i)
            staged[to[bucketOf(t[i]) >> shift]++] = i;
    });
    runThrowing(helper_, pieces, [this, &regionStart, regions, staged](unsigned k) {
        std::vector<unsigned> pointer;
        std::vector<std::uint64_t> keyed, spare;
        for (unsigned d = regions * k / pieces; d < regions * (k + 1) / pieces; ++d)
            placeRegion(regionStart[d], regionStart[d + 1], staged, pointer, keyed, spare);
    });
    // Ranks from the groups, and the list of groups.
    runThrowing(helper_, pieces, [this, words](unsigned k) {
        std::vector<Group>& list = pieces_[k].next;
        list.clear();
        forEachRunIn(bounds_.data(), m_, words * k / pieces, words * (k + 1) / pieces, [this, &list](unsigned r, unsigned end) {
            for (unsigned i = r; i < end; ++i) rank_[sa_[i]] = r;
            if (end - r > 1) list.push_back({r, end});
        });
    });
    gatherGroups();
    return true;
}

void DoublingSorter::placeRegion(unsigned lo, unsigned hi, const unsigned* staged, std::vector<unsigned>& pointer,
                                 std::vector<std::uint64_t>& keyed, std::vector<std::uint64_t>& spare)
{
    if (lo == hi) return;
    const unsigned* const t = t_;
    const unsigned m = m_;
    const unsigned size = hi - lo;
    if (pointer.size() < size) {
        pointer.resize(size);
        keyed.resize(size);
        spare.resize(size);
    }
    const std::size_t w0 = lo / 64, w1 = (hi - 1) / 64 + 1;
    forEachBitIn(starts_, hi, w0, w1, [&pointer, lo](unsigned r) {
        if (r >= lo) pointer[r - lo] = r - lo;
    });
    for (unsigned j = lo; j < hi; ++j) {
        if (j + textAhead < hi) __builtin_prefetch(t + staged[j + textAhead]);
        const unsigned p = staged[j];
        const unsigned c = t[p];
        // Past the end of the text counts lowest.
        const std::uint64_t key = p + 1 < m ? std::uint64_t(bucketOf(t[p + 1])) + 1 : 0;
        keyed[isUnique(c) ? bucketOf(c) - lo : pointer[bucketOf(c) - lo]++] = key << 32 | p;
    }
    const std::size_t edgeLo = lo / 64, edgeHi = (hi - 1) / 64;
    forEachRunIn(starts_, hi, w0, w1, [&](unsigned r, unsigned end) {
        if (r < lo || end - r < 2) return;
        std::uint64_t* const at = keyed.data() + (r - lo);
        sortKeyed(at, end - r, spare.data());
        for (unsigned i = 1; i < end - r; ++i)
            if ((at[i] ^ at[i - 1]) >> 32) mark(r + i, edgeLo, edgeHi);
    });
    for (unsigned i = 0; i < size; ++i) sa_[lo + i] = static_cast<unsigned>(keyed[i]);
}

void DoublingSorter::gatherGroups()
{
    groups_.clear();
    slots_ = 0;
    for (const Piece& piece : pieces_) {
        groups_.insert(groups_.end(), piece.next.begin(), piece.next.end());
        for (const Group& g : piece.next) slots_ += g.hi - g.lo;
    }
}

void DoublingSorter::cut()
{
    std::size_t g = 0, done = 0;
    for (unsigned k = 0; k < pieces; ++k) {
        pieces_[k].first = g;
        const std::size_t goal = slots_ * (k + 1) / pieces;
        while (g < groups_.size() && (done < goal || k + 1 == pieces)) {
            done += groups_[g].hi - groups_[g].lo;
            ++g;
        }
        pieces_[k].last = g;
    }
}

void DoublingSorter::sortGroups(unsigned k, unsigned h)
{
    const Piece& piece = pieces_[k];
    if (piece.first == piece.last) return;
    unsigned* const sa = sa_;
    const unsigned* const rank = rank_;
    const unsigned m = m_;
    const std::size_t edgeLo = groups_[piece.first].lo / 64, edgeHi = (groups_[piece.last - 1].hi - 1) / 64;
    // A batch of groups at a time: their positions side by side, so that
    // the ranks are fetched well ahead of use, then each group sorted.
    constexpr std::size_t batch = 4096, ahead = 64;
    std::vector<std::uint64_t> keyed(batch), spare(batch);
    for (std::size_t g = piece.first; g < piece.last;) {
        std::size_t end = g, count = 0;
        while (end < piece.last && (count == 0 || count + (groups_[end].hi - groups_[end].lo) <= batch)) {
            count += groups_[end].hi - groups_[end].lo;
            ++end;
        }
        if (keyed.size() < count) {
            keyed.resize(count);
            spare.resize(count);
        }
        std::uint64_t* const out = keyed.data();
        std::size_t filled = 0;
        for (std::size_t x = g; x < end; ++x)
            for (unsigned i = groups_[x].lo; i < groups_[x].hi; ++i) out[filled++] = sa[i];
        for (std::size_t i = 0; i < count; ++i) {
            if (i + ahead < count) __builtin_prefetch(rank + static_cast<unsigned>(out[i + ahead]) + h);
            const unsigned p = static_cast<unsigned>(out[i]);
            // Past the end of the text counts lowest.
            const std::uint64_t key = p + h < m ? std::uint64_t(rank[p + h]) + 1 : 0;
            out[i] = key << 32 | p;
        }
        std::uint64_t* at = out;
        for (; g < end; ++g) {
            const unsigned lo = groups_[g].lo, size = groups_[g].hi - lo;
            sortKeyed(at, size, spare.data());
            sa[lo] = static_cast<unsigned>(at[0]);
            for (unsigned i = 1; i < size; ++i) {
                sa[lo + i] = static_cast<unsigned>(at[i]);
                if ((at[i] ^ at[i - 1]) >> 32) mark(lo + i, edgeLo, edgeHi);
            }
            at += size;
        }
    }
}

void DoublingSorter::rankGroups(unsigned k)
{
    Piece& piece = pieces_[k];
    piece.next.clear();
    const unsigned* const sa = sa_;
    unsigned* const rank = rank_;
    const std::uint64_t* const bounds = bounds_.data();
    for (std::size_t g = piece.first; g < piece.last; ++g) {
        const unsigned lo = groups_[g].lo, hi = groups_[g].hi;
        unsigned first = lo;
        for (unsigned i = lo; i < hi; ++i) {
            if (i > lo && (bounds[i / 64] >> (i % 64) & 1)) {
                if (i - first > 1) piece.next.push_back({first, i});
                first = i;
            }
            rank[sa[i]] = first;
        }
        if (hi - first > 1) piece.next.push_back({first, hi});
    }
}

bool DoublingSorter::sort()
{
    if (repeatsLong(t_, m_, helper_) || !start()) return false;
    // start() sorted by two symbols. A round's work is the slots still in
    // groups; the rounds may take this many times the text's length in
    // all, about what induced sorting costs, before giving up.
    std::size_t budget = std::size_t(m_) * workLimit;
    for (unsigned h = 2; !groups_.empty() && h < m_; h *= 2) {
        if (slots_ > budget) return false;
        budget -= slots_;
        cut();
        runThrowing(helper_, pieces, [this, h](unsigned k) { sortGroups(k, h); });
        runThrowing(helper_, pieces, [this](unsigned k) { rankGroups(k); });
        gatherGroups();
    }
    return groups_.empty();
}

// The byte level of the sort, where most of the time goes. Same three
// steps as ReducedSorter, with these differences:
//  - the symbols are counted once and the bucket bounds rebuilt from the
//    counts, 256 entries on the stack;
//  - slot value 0 stands for an empty slot as well as for suffix 0: neither
//    induces anything, and no scan needs to tell them apart except the
//    final S-type scan, which never reads an empty slot;
//  - the first scans name the LMS substrings as they order them (below), so
//    the substrings are never compared symbol by symbol;
//  - the final scans can write the transform instead of the order: a slot
//    whose suffix has induced what it had to is overwritten by the byte
//    before that suffix, so no pass gathers bytes from the order afterwards.
//
// Naming during the first scans: their order sorts each suffix by its prefix
// up to and including the next LMS position (an LMS seed: its first symbol
// only), and equal prefixes are adjacent. The top bit of a slot flags a
// boundary between unequal prefixes. The L-type scan flags a slot that
// differs from its left neighbour, the S-type scan one that differs from its
// right neighbour; each bucket's L-type part starts with a flag and its
// S-type part ends with one. A scan counts the boundaries it has crossed in
// `group`; two suffixes induced into one bucket have equal prefixes exactly
// when their sources had, that is when no boundary lies between the
// sources. So a placement is flagged when the count differs from the one of
// the bucket's previous placement.
class ByteSorter {
public:
    static constexpr unsigned flag = boundaryFlag;
    static constexpr unsigned lmsBit = lmsFlag;
    static constexpr unsigned prefetchDistance = 32;

    // 1 < n < 2^30; sa has n entries. With a running helper some passes
    // run on two threads.
    ByteSorter(const unsigned char* text, unsigned* sa, unsigned n, PassHelper& helper)
        : t_(text), sa_(sa), n_(n), helper_(helper)
    {
        assert(n > 1 && n < lmsBit);
        std::fill(counts_, counts_ + 256, 0u);
        if (helper.running() && n >= splitMinimum) {
            countInPieces();
            shared_.reset(new SharedScan(helper));
        } else {
            countBytes(text, n, counts_);
        }
        start_[0] = 0;
        for (unsigned c = 0; c < 256; ++c) start_[c + 1] = start_[c] + counts_[c];
    }

    // The number of each byte value in the text, into counts[0, 256).
    void counts(unsigned* counts) const { std::copy(counts_, counts_ + 256, counts); }
    // Leaves the LMS suffixes in their final order at their bucket ends and
    // every other slot empty.
    void placeLmsSuffixes();
    // The final scans: the suffix array into sa.
    void induceSuffixArray();
    // The final scans: the transform into out (which may be the text), and
    // the rank of suffix 0 returned.
    unsigned induceTransform(unsigned char* out);

private:
    void heads(unsigned* b) const { std::copy(start_, start_ + 256, b); }
    void tails(unsigned* b) const { std::copy(start_ + 1, start_ + 257, b); }
    // Runs a scan over all slots, shared with the helper when there is one.
    template <class Scan>
    void runUp(Scan& scan)
    {
        if (shared_)
            shared_->up(scan, 0, n_);
        else
            scan.plain(0, n_);
    }
    template <class Scan>
    void runDown(Scan& scan)
    {
        if (shared_)
            shared_->down(scan, n_, 0);
        else
            scan.plain(n_, 0);
    }
    void induceAndNameL();
    void induceAndNameS();
    void countInPieces()
    {
        unsigned counts[pieces][256] = {};
        const unsigned char* const t = t_;
        const unsigned n = n_;
        helper_.run(pieces, [t, n, &counts](unsigned k) {
            const unsigned lo = PassHelper::pieceStart(n, k);
            countBytes(t + lo, PassHelper::pieceEnd(n, k) - lo, counts[k]);
        });
        for (unsigned k = 0; k < pieces; ++k)
            for (unsigned c = 0; c < 256; ++c) counts_[c] += counts[k][c];
    }

    const unsigned char* const t_;
    unsigned* const sa_;
    const unsigned n_;
    PassHelper& helper_;
    unsigned counts_[256];
    unsigned start_[257];  // bucket bounds
    std::unique_ptr<SharedScan> shared_;
};

void ByteSorter::placeLmsSuffixes()
{
    unsigned* const sa = sa_;
    const unsigned char* const t = t_;
    const LmsPositions lms = clearAndFindLms(t, n_, sa, 0u, helper_);
    const unsigned n1 = static_cast<unsigned>(lms.count());
    if (n1 == 0) return;

    // seeds[c]: where bucket c's LMS suffixes start, at the end of the
    // bucket.
    unsigned seeds[256];
    tails(seeds);
    if (helper_.active()) {
        // In pieces of positions: each piece's seeds of a byte go below
        // those of the pieces before it, as one thread would place them.
        unsigned next[pieces][256] = {};
        const std::size_t words = lms.words();
        auto each = [&lms, words](unsigned k, auto f) {
            lms.forEachIn<unsigned>(words * k / pieces, words * (k + 1) / pieces, f);
        };
        helper_.run(pieces, [t, &next, &each](unsigned k) {
            unsigned* const count = next[k];
            each(k, [t, count](unsigned p) { ++count[t[p]]; });
        });
        for (unsigned c = 0; c < 256; ++c)
            for (unsigned k = 0; k < pieces; ++k) {
                const unsigned count = next[k][c];
                next[k][c] = seeds[c];
                seeds[c] -= count;
            }
        helper_.run(pieces, [sa, t, &next, &each](unsigned k) {
            unsigned* const top = next[k];
            each(k, [sa, t, top](unsigned p) { sa[--top[t[p]]] = p; });
        });
    } else {
        lms.forEach<unsigned>([sa, t, &seeds](unsigned p) { sa[--seeds[t[p]]] = p; });
    }
    // Seeds of one bucket all equal their first symbol: one group each.
    for (unsigned c = 0; c < 256; ++c)
        if (seeds[c] != start_[c + 1]) sa[seeds[c]] |= flag;
    induceAndNameL();
    induceAndNameS();
    std::vector<std::uint64_t> nameStarts(n1 / 64 + 1, 0);
    const unsigned names = helper_.active() ? gatherNamesInPieces(sa, n_, n1, lms, nameStarts.data(), helper_)
                                             : gatherNames(sa, n_, n1, lms, nameStarts.data());

    // The reduced text's order into sa[0, n1), in the unused middle slots.
    unsigned* const reduced = sa + (n_ - n1);
    if (names == n1) {
        for (unsigned i = 0; i < n1; ++i) sa[bucketOf(reduced[i])] = i;
    } else {
        bool doubled = false;
        if (helper_.active() && n1 >= doublingMinimum) {
            // The ranks go between the two halves when they fit there (a
            // reduced text is a third of the text or less, most often).
            LargeArray<unsigned> own;
            if (n_ - 2 * n1 < n1) own = LargeArray<unsigned>(n1);
            unsigned* const rank = own.size() != 0 ? own.get() : sa + n1;
            doubled = DoublingSorter(reduced, n1, sa, rank, nameStarts.data(), helper_).sort();
        }
        if (!doubled) ReducedSorter(reduced, sa, n1, sa + n1, n_ - 2 * n1, nameStarts.data(), helper_).sort();
    }

    // Ranks to positions, then back to where the seeds were. The LMS
    // suffixes of one bucket are a run of ranks, which moves whole to the
    // bucket's end; every run moves up (the slots of other suffixes below
    // it outnumber the LMS ones), so going from the greatest bucket down
    // never overwrites one not yet moved. Then the slots left between the
    // runs are cleared; those from n1 up already are.
    ranksToPositionsFilling<0u>(sa, n_, n1, reduced, lms, helper_);
    unsigned from = n1;
    for (unsigned c = 256; c-- > 0;) {
        const unsigned run = start_[c + 1] - seeds[c];
        from -= run;
        std::memmove(sa + seeds[c], sa + from, std::size_t(run) * sizeof(unsigned));
    }
    for (unsigned c = 0; c < 256 && start_[c] < n1; ++c)
        std::fill(sa + start_[c], sa + std::min(seeds[c], n1), 0u);
}

void ByteSorter::induceAndNameL()
{
    const unsigned char* const t = t_;
    unsigned head[256];
    heads(head);
    unsigned last[256] = {};
    // The end of the text is the least suffix and its own group.
    NameUp scan{{t, sa_, n_, start_, head}, last, 1};
    last[t[n_ - 1]] = 1;
    sa_[head[t[n_ - 1]]++] = (n_ - 1) | flag;
    runUp(scan);
}

void ByteSorter::induceAndNameS()
{
    unsigned tail[256];
    tails(tail);
    unsigned last[256] = {};
    NameDown scan{{t_, sa_, n_, start_, tail}, last, 1, 1};
    runDown(scan);
}

void ByteSorter::induceSuffixArray()
{
    const unsigned char* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned bound[256];
    heads(bound);
    sa[bound[t[n - 1]]++] = n - 1;
    auto fetch = [t, sa](unsigned k) { prefetchText(t, sa, k); };
    bucketsUp<prefetchDistance>(start_, 0, n, n, fetch, [&](unsigned k, unsigned b) VARN_FORCE_INLINE {
        const unsigned j = sa[k] - 1;
        if (j >= n) return;
        const unsigned char c = t[j];
        if (c >= b) sa[bound[c]++] = j;
    });
    tails(bound);
    bucketsDown<prefetchDistance>(start_, n, 0, fetch, [&](unsigned k, unsigned b) VARN_FORCE_INLINE {
        const unsigned j = sa[k] - 1;
        if (j >= n) return;
        const unsigned char c = t[j];
        if (c < b || (c == b && k >= bound[c])) sa[--bound[c]] = j;
    });
}

unsigned ByteSorter::induceTransform(unsigned char* out)
{
    const unsigned char* const t = t_;
    unsigned* const sa = sa_;
    const unsigned n = n_;
    unsigned bound[256];
    heads(bound);
    sa[bound[t[n - 1]]++] = n - 1;
    TransformUp up{{t, sa, n, start_, bound}};
    runUp(up);
    tails(bound);
    TransformDown down{{t, sa, n, start_, bound}, 0};
    runDown(down);
    const unsigned primary = down.primary;
    // Suffix 0 has no predecessor; the last byte stands in for it.
    const unsigned char last = t[n - 1];
    if (helper_.active()) {
        helper_.inPieces(n, [sa, out](unsigned lo, unsigned hi) { lowBytes(sa + lo, hi - lo, out + lo); });
    } else {
        lowBytes(sa, n, out);
    }
    out[primary] = last;
    return primary;
}

}  // namespace

template <class IndexT>
std::unique_ptr<IndexT[]> suffixArrayFast(const char* begin, const char* end, unsigned threads)
{
    static_assert(std::is_same<IndexT, unsigned>::value, "the byte level sorts into unsigned slots");
    if (begin == end) return nullptr;
    assert(static_cast<std::size_t>(end - begin) < static_cast<std::size_t>(ByteSorter::lmsBit));
    const IndexT n = static_cast<IndexT>(end - begin);
    std::unique_ptr<IndexT[]> sa(new IndexT[n]);
    if (n == 1) {
        sa[0] = 0;
        return sa;
    }
    PassHelper helper(n >= threadedMinimum ? threads : 1);
    ByteSorter sorter(reinterpret_cast<const unsigned char*>(begin), sa.get(), n, helper);
    sorter.placeLmsSuffixes();
    sorter.induceSuffixArray();
    return sa;
}

unsigned bwtFromSais(const unsigned char* in, unsigned char* out, unsigned n, unsigned threads, unsigned* byteCounts)
{
    if (byteCounts != nullptr) std::fill(byteCounts, byteCounts + 256, 0u);
    if (n == 0) return 0;
    assert(n < ByteSorter::lmsBit);
    if (n == 1) {
        if (byteCounts != nullptr) byteCounts[in[0]] = 1;
        out[0] = in[0];
        return 0;
    }
    LargeArray<unsigned> sa(n);
    PassHelper helper(n >= threadedMinimum ? threads : 1);
    ByteSorter sorter(in, sa.get(), n, helper);
    if (byteCounts != nullptr) sorter.counts(byteCounts);
    sorter.placeLmsSuffixes();
    return sorter.induceTransform(out);
}

template std::unique_ptr<unsigned[]> suffixArrayFast<unsigned>(const char* begin, const char* end, unsigned threads);
