#pragma once
// Integer arithmetic coder and decoder (Witten, Neal and Cleary scheme).
//
// Template parameters: I is the type of the interval ends, P the type of the
// range and of the products range * count (it must hold range * symbolHigh),
// N the precision in bits. Instances in use:
//   <unsigned, unsigned, 16>           totals up to 16384, 32-bit arithmetic
//   <unsigned, unsigned long long, 18> totals up to 65535, 64-bit products
//
// Symbols are passed as cumulative-count triples: the symbol owns
// [symbolLow, symbolHigh) out of symbolTotal. The decoder must be driven with
// exactly the triples the coder saw, in the same order.
//
// These classes give the very same bits as PlainArithmeticCoder/Decoder
// (plainarithmeticcodec.h), with two shortcuts: divisions by the total
// become multiplications by an exact reciprocal (reciprocal.h), and every
// renormalisation takes at most two shifts, one for the settled leading
// bits and one for the whole run of middle-half steps.

#include "diag/inline.h"
#include "entropy/bitstream.h"
#include "entropy/reciprocal.h"

#include <cassert>
#include <cstddef>

// The coder's and decoder's steps (VARN_ALWAYS_INLINE) go whole into the
// caller's loop, which can then keep a local coder's interval in registers.

namespace arithmetic_detail {

// floor(x / total) for x = range * count, range <= 2^N and count <= total.
template <typename P, unsigned N, bool Wide = (sizeof(P) > 4)>
class TotalDivider;

// 32-bit products (N <= 16): x < 2^31 for every total up to QUARTER + 2,
// divided through the shared table.
template <typename P, unsigned N>
class TotalDivider<P, N, false> {
public:
    static_assert(N <= 16, "32-bit products hold range * total only up to 16 bits of precision");
    P divide(P x, unsigned total)
    {
        if (total > maxReciprocalDivisor) return x / total;  // beyond any total in use
        return P(divideByTable(unsigned(x), total));
    }
};

// 64-bit products: numerators below 2^(2N), one cached multiplier.
template <typename P, unsigned N>
class TotalDivider<P, N, true> {
public:
    P divide(P x, unsigned total) { return P(divider.divide(x, total)); }

private:
    CachedDivider<2 * N> divider;
};

} // namespace arithmetic_detail

template <typename I, typename P, unsigned N>
class ArithmeticCoder {
public:
    static_assert(N >= 3 && N < 8 * sizeof(I), "precision must fit the interval type");
    static_assert(sizeof(I) <= sizeof(unsigned), "renormalisation counts leading bits of an unsigned");

    static constexpr I TOP = (I(1) << N) - 1;       // mask after each shift
    static constexpr I HALF = I(1) << (N - 1);      // bit N-1
    static constexpr I QUARTER = I(1) << (N - 2);   // bit N-2

    // Starts with the whole interval. `os` may be set here or later, but
    // before the first encode().
    explicit ArithmeticCoder(OutBitStream* os = NULL) : os(os) { reset(); }

    void reset()
    {
        low = 0;
        high = TOP;
        underflowBits = 0;
    }

    // Codes the symbol owning [symbolLow, symbolHigh) of symbolTotal.
    // Requires symbolLow < symbolHigh <= symbolTotal and symbolTotal no larger
    // than the current range (guaranteed while symbolTotal <= QUARTER + 2).
    VARN_ALWAYS_INLINE void encode(unsigned symbolLow, unsigned symbolHigh, unsigned symbolTotal)
    {
        assert(os != NULL);
        assert((symbolLow < symbolHigh) && (symbolHigh <= symbolTotal));
        const P range = P(high) - P(low) + 1;
        assert(range >= symbolTotal);
        high = I(low + divider.divide(range * symbolHigh, symbolTotal) - 1);
        low = I(low + divider.divide(range * symbolLow, symbolTotal));
        renormalise();
    }

    // Codes `value` as one of 2^bits equally likely values: the same bits as
    // encode(value, value + 1, 1u << bits), with shifts for the divisions.
    // Requires 1 <= bits and 2^bits within the range, as for encode().
    VARN_ALWAYS_INLINE void encodeUniform(unsigned value, unsigned bits)
    {
        assert(os != NULL);
        assert(bits >= 1 && (value >> bits) == 0);
        const P range = P(high) - P(low) + 1;
        assert(range >= (P(1) << bits));
        high = I(low + ((range * (value + 1)) >> bits) - 1);
        low = I(low + ((range * value) >> bits));
        renormalise();
    }

    // Writes the underflowBits + 2 bits that end the code string: they pick
    // a value inside the final interval whatever bits follow. Called once,
    // after the last symbol and before the bit stream's flush().
    void flush()
    {
        assert(os != NULL);
        const unsigned bit = (low & QUARTER) ? 1 : 0;
        os->putBit(bit);
        if (bit)
            os->putZeros(underflowBits + 1);
        else
            os->putOnes(underflowBits + 1);
        underflowBits = 0;
    }

    OutBitStream* os;  // bit sink; not owned

protected:
    // Shifts out every settled leading bit, then every middle-half step.
    // Settled bits come first and all at once: once the interval has been
    // narrowed into the middle half its ends differ in the leading bit again.
    // Either count may be 0; apart from the rare long run of deferred bits
    // both are applied without a branch, as they follow the coded data and
    // cannot be guessed.
    VARN_ALWAYS_INLINE void renormalise()
    {
        // k leading bits agree: all N when the ends are equal, none when
        // they differ in the top one.
        const unsigned diff = unsigned(high ^ low);
        const unsigned k = unsigned(__builtin_clz((diff << (32 - N)) | ((1u << (32 - N)) - 1)));
        const unsigned settled = unsigned(high >> (N - k));
        // Out go the first settled bit, the deferred bits (its opposites)
        // and the other k-1 settled bits: one group when they fit a word.
        // The group is formed by an add that carries through the deferred
        // ones when the first settled bit is 1. With k = 0 the masks make it
        // an empty group and keep the deferred bits.
        const unsigned long long any = 0ull - (k != 0);
        if (underflowBits + k <= 32) {
            const unsigned deferred = unsigned(underflowBits);
            const unsigned long long group = (((((1ull << deferred) - 1) << k) >> 1) & any) + settled;
            os->putWide(group, unsigned((deferred + k) & any));
            underflowBits &= ~any;
        } else if (k != 0) {
            putSettledSlowly(settled, k);
            underflowBits = 0;
        }
        high = I(((high << k) | ((I(1) << k) - 1)) & TOP);
        low = I((low << k) & TOP);
        // Now low < HALF <= high. Each middle-half step needs low's next bit
        // 1 and high's 0: the steps are the leading ones of low & ~high below
        // the top bit (at most N - 1 of them). With no step the masks leave
        // the ends as they are.
        const unsigned steps = unsigned(__builtin_clz(~(unsigned(low & ~high) << (33 - N))));
        underflowBits += steps;
        low = I((low << steps) & (TOP >> 1));
        high = I((((high << steps) | ((I(1) << steps) - 1)) & TOP) | HALF);
    }

    // The settled output bit by bit, for long runs of deferred bits.
    void putSettledSlowly(unsigned settled, unsigned k)
    {
        const unsigned bit = settled >> (k - 1);
        os->putBit(bit);
        if (bit)
            os->putZeros(underflowBits);
        else
            os->putOnes(underflowBits);
        if (k > 1) os->putBitsHighFirst(settled & ((1u << (k - 1)) - 1), k - 1);
    }

    I low;                             // lower end of the interval, 0..TOP
    I high;                            // upper end, inclusive, 0..TOP
    unsigned long long underflowBits;  // deferred bits, each the opposite of the next settled bit
    arithmetic_detail::TotalDivider<P, N> divider;
};

template <typename I, typename P, unsigned N>
class ArithmeticDecoder {
public:
    static_assert(N >= 3 && N < 8 * sizeof(I), "precision must fit the interval type");
    static_assert(sizeof(I) <= sizeof(unsigned), "renormalisation counts leading bits of an unsigned");

    static constexpr I TOP = (I(1) << N) - 1;
    static constexpr I HALF = I(1) << (N - 1);
    static constexpr I QUARTER = I(1) << (N - 2);

    // How many bits past the end of the coder's output (the last bit its
    // flush() wrote) a decoder reads when it has decoded every symbol: it
    // reads N bits ahead at start(), shifts in one bit for each bit the
    // coder shifted out, and the coder's flush() writes 2 bits beyond its
    // shifts (the deferred bits it releases were shifts already).
    static constexpr unsigned lookaheadBits = N - 2;

    // `is` may be set here or later, but before start().
    explicit ArithmeticDecoder(InBitStream* is = NULL) : is(is) { reset(); }

    void reset()
    {
        low = 0;
        high = TOP;
        value = 0;
    }

    // Reads the first N bits of the code string. Called once, before the
    // first symbol.
    void start()
    {
        assert(is != NULL);
        value = I(is->getBitsHighFirst(N));
    }

    // Returns the cumulative count the code string points at, in
    // 0..symbolTotal-1 for any input bits (low <= value <= high always
    // holds). Changes nothing.
    VARN_ALWAYS_INLINE unsigned decode(unsigned symbolTotal) const
    {
        const P range = P(high) - P(low) + 1;
        return unsigned(((P(value) - P(low) + 1) * symbolTotal - 1) / range);
    }

    // Removes the symbol the model found for decode()'s count, given with
    // its range and the same total, and reads the bits that replace the
    // ones shifted out.
    VARN_ALWAYS_INLINE void decodeExtract(unsigned symbolLow, unsigned symbolHigh, unsigned symbolTotal)
    {
        assert(is != NULL);
        const P range = P(high) - P(low) + 1;
        assert(range >= symbolTotal);
        high = I(low + divider.divide(range * symbolHigh, symbolTotal) - 1);
        low = I(low + divider.divide(range * symbolLow, symbolTotal));
        renormalise();
    }

    // Decodes a value coded by the coder's encodeUniform(value, bits) and
    // removes it: the same as decode(1u << bits) followed by decodeExtract
    // of that value, with shifts for two of the three divisions.
    VARN_ALWAYS_INLINE unsigned decodeUniform(unsigned bits)
    {
        assert(is != NULL);
        assert(bits >= 1);
        const P range = P(high) - P(low) + 1;
        assert(range >= (P(1) << bits));
        const unsigned d = unsigned((((P(value) - P(low) + 1) << bits) - 1) / range);
        high = I(low + ((range * (d + 1)) >> bits) - 1);
        low = I(low + ((range * d) >> bits));
        renormalise();
        return d;
    }

    // The last bit the coder's flush() writes once this decoder's symbols
    // have all been coded: the opposite of the interval's quarter bit. A
    // caller that knows where the code ends can check it.
    unsigned lastFlushBit() const { return (low & QUARTER) ? 0 : 1; }

    InBitStream* is;  // bit source; not owned

protected:
    // Shifts out every settled leading bit, then every middle-half step, as
    // the coder does, reading one new code bit per shift. Either count may
    // be 0; both are found and applied without a branch, as whether there
    // is anything to shift follows the code string and cannot be guessed.
    // The ends move in two steps; value, which lies between them, moves
    // once by both shifts together, with one read of the new bits.
    VARN_ALWAYS_INLINE void renormalise()
    {
        // Settled bits: the leading bits in which the ends agree (all N when
        // they are equal, none when they differ in the top one). Value
        // shares them, so the shift drops them.
        const unsigned diff = unsigned(high ^ low);
        const unsigned shift = unsigned(__builtin_clz((diff << (32 - N)) | ((1u << (32 - N)) - 1)));
        low = I((low << shift) & TOP);
        high = I(((high << shift) | ((I(1) << shift) - 1)) & TOP);
        // Now low < HALF <= high. Middle-half steps: the leading ones of
        // low & ~high below the top bit (at most N - 2). Value lies in the
        // middle half too; each step flips its bit N-2 before the shift
        // (subtracting QUARTER as from both ends); all but the last flipped
        // bit are shifted out, and the last one is the new top bit. With no
        // step the two masks leave the ends as they are.
        const unsigned steps = unsigned(__builtin_clz(~(unsigned(low & ~high) << (33 - N))));
        low = I((low << steps) & (TOP >> 1));
        high = I((((high << steps) | ((I(1) << steps) - 1)) & TOP) | HALF);
        const I flip = I(steps != 0) << (N - 1);
        // At most N bits in all: each shift doubles high - low + 1 (at least
        // 1), and shifting goes on only while it is at most HALF.
        const unsigned total = shift + steps;
        value = I((((value << total) | is->getBitsHighFirstOrNone(total)) & TOP) ^ flip);
    }

    I low;    // as in the coder
    I high;
    I value;  // the N-bit window of the code string under the interval
    arithmetic_detail::TotalDivider<P, N> divider;
};
