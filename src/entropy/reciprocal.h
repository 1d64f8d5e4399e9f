#pragma once
// Exact division by a model total through multiplication.
//
// For a divisor d with l = ceil(log2 d) and numerators x < 2^K, the
// multiplier m = ceil(2^(K+l) / d) gives floor(x / d) = (x * m) >> (K + l)
// exactly. Proof: m * d = 2^(K+l) + e with 0 <= e < d <= 2^l, so
// x * m / 2^(K+l) = x / d + x * e / (d * 2^(K+l)), and the second term is
// below x / (d * 2^K) < 1 / d: too small to carry x / d = q + r / d (r <= d-1)
// past q + 1.

#include <cassert>
#include <cstdint>

// l = ceil(log2 d) for 1 <= d < 2^31.
inline constexpr unsigned ceilLog2(unsigned d)
{
    return 31u - unsigned(__builtin_clz(((d - 1) << 1) | 1));
}

// Multipliers for numerators below 2^31 and divisors 1..maxReciprocalDivisor:
// m = ceil(2^(31+l) / d) lies in [2^31, 2^32), so it fits 32 bits and x * m
// fits 63. Covers every total the 16-bit coder accepts (up to QUARTER + 2).
constexpr unsigned maxReciprocalDivisor = (1u << 14) + 2;

struct ReciprocalTable31 {
    std::uint32_t m[maxReciprocalDivisor + 1];

    constexpr ReciprocalTable31() : m()
    {
        for (unsigned d = 1; d <= maxReciprocalDivisor; ++d) {
            const std::uint64_t pow = std::uint64_t(1) << (31 + ceilLog2(d));
            m[d] = std::uint32_t((pow + d - 1) / d);
        }
    }
};

inline constexpr ReciprocalTable31 reciprocalTable31{};

// floor(x / d) for x < 2^31 and 1 <= d <= maxReciprocalDivisor.
inline unsigned divideByTable(unsigned x, unsigned d)
{
    assert(x < (1u << 31) && d >= 1 && d <= maxReciprocalDivisor);
    return unsigned((std::uint64_t(x) * reciprocalTable31.m[d]) >> (31 + ceilLog2(d)));
}

// Division by one divisor at a time, for numerators below 2^K (K <= 40) and
// divisors below 2^20: the multiplier (up to 2^41) is recomputed only when
// the divisor changes, and the product takes 128 bits. Suits the 18-bit
// coder, whose numerators reach 2^18 * 65538 and whose static model keeps
// one total for a whole block.
template <unsigned K>
class CachedDivider {
public:
    static_assert(K <= 40, "multiplier and shift must stay within 64 bits");

    std::uint64_t divide(std::uint64_t x, unsigned d)
    {
        assert(x < (std::uint64_t(1) << K) && d >= 1 && d < (1u << 20));
        if (d != divisor) set(d);
        return std::uint64_t((static_cast<u128>(x) * multiplier) >> shift);
    }

private:
    __extension__ typedef unsigned __int128 u128;

    void set(unsigned d)
    {
        divisor = d;
        shift = K + ceilLog2(d);
        const std::uint64_t pow = std::uint64_t(1) << shift;  // shift <= 60
        multiplier = (pow + d - 1) / d;
    }

    unsigned divisor = 0;
    unsigned shift = 0;
    std::uint64_t multiplier = 0;
};
