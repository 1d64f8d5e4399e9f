#pragma once
// Zero-run coding of move-to-front ranks.
//
// Symbols (zeroRunSymbolCount of them):
//   0, 1      digits of a zero-run length
//   2..256    the non-zero rank r, as r + 1
// A maximal run of L >= 1 zero ranks becomes the binary digits of L + 1
// without its leading 1, most significant first: floor(log2(L + 1)) symbols.
// A run that reaches the end of the block is followed by nothing; the
// decoder knows the block size and stops there.

#include "diag/exception.h"

#include <cassert>

constexpr unsigned zeroRunSymbolCount = 257;

// Number of digits that code a run of `runLength` >= 1 zero ranks.
inline unsigned zeroRunDigitCount(unsigned long long runLength)
{
    assert(runLength >= 1);
    unsigned t = 1;
    for (unsigned long long c = (runLength + 1) >> 2; c != 0; c >>= 1) ++t;
    return t;
}

// Turns ranks, handed over one at a time with put(), into zero-run symbols
// passed to `emit(unsigned symbol)` in order. finish() ends the block.
// Nothing is buffered but the length of the current run.
template <class Emit>
class ZeroRunEncoder {
public:
    explicit ZeroRunEncoder(Emit emitSymbol) : emit(emitSymbol) {}

    void put(unsigned rank)
    {
        if (rank == 0) {
            ++runLength;
            return;
        }
        if (runLength != 0) emitRun();
        emitSymbol(rank + 1);
    }

    // Emits the digits of a run that reaches the end of the block.
    void finish()
    {
        if (runLength != 0) emitRun();
    }

    // Number of symbols emitted so far.
    unsigned symbolCount() const { return emitted; }

private:
    void emitSymbol(unsigned symbol)
    {
        ++emitted;
        emit(symbol);
    }

    void emitRun()
    {
        // The digits are the bits of L + 1 below its leading one.
        unsigned long long value = static_cast<unsigned long long>(runLength) + 1;
        for (unsigned k = zeroRunDigitCount(runLength); k-- > 0;)
            emitSymbol(static_cast<unsigned>((value >> k) & 1));
        runLength = 0;
    }

    Emit emit;
    unsigned runLength = 0;
    unsigned emitted = 0;
};

template <class Emit>
ZeroRunEncoder<Emit> makeZeroRunEncoder(Emit emit)
{
    return ZeroRunEncoder<Emit>(emit);
}

// Decodes the zero-run symbols of a block of `size` ranks. Symbols come from
// `nextSymbol()` (values 0..256); each decoded position goes either to
// `putRank(position, rank)` for a rank 1..255 or, for a run of zero ranks, to
// `putZeros(position, count)`. Positions cover 0..size-1 in order, and no
// symbol is read once the block is full. Throws Exception when a run would
// pass the end of the block; nothing is put for that run.
template <class Next, class PutRank, class PutZeros>
void decodeZeroRuns(unsigned size, Next&& nextSymbol, PutRank&& putRank, PutZeros&& putZeros)
{
    unsigned out = 0;
    while (out < size) {
        unsigned symbol = nextSymbol();
        if (symbol >= 2) {
            putRank(out, symbol - 1);
            ++out;
            continue;
        }
        // A run starts. 64-bit arithmetic: the length roughly doubles with
        // each digit and may pass 2^32 before the check below stops it.
        unsigned long long remaining = size - out;
        unsigned long long value = symbol;
        unsigned long long length = value + 1;
        unsigned long long power = 2;
        unsigned last = symbol;
        // Digits are read only while the run leaves room in the block, so a
        // run that fills the block ends the block without a trailing symbol.
        while (length < remaining) {
            last = nextSymbol();
            if (last >= 2) break;
            power <<= 1;
            value = 2 * value + last;
            length = power + value - 1;
        }
        require(length <= remaining, "Error in compressed file (RLE0 run exceeds file size)");
        putZeros(out, static_cast<unsigned>(length));
        out += static_cast<unsigned>(length);
        if (out == size) break;
        putRank(out, last - 1);
        ++out;
    }
}
