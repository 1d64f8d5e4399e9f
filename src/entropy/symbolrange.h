#pragma once

// A symbol's cumulative range [low, high) out of total, as the arithmetic
// coder's (symbolLow, symbolHigh, symbolTotal) triple.
struct SymbolRange {
    unsigned low;
    unsigned high;
    unsigned total;
};
