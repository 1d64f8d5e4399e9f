#include "transform/ibwt.h"

#include "diag/coregate.h"
#include "diag/largearray.h"
#include "transform/bytecounts.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "diag/exception.h"

namespace {

void requirePrimaryInside(unsigned size, unsigned primary)
{
    // The primary index comes straight from a compressed file. Every later
    // access is in bounds once it is below size (see the walks below).
    require(primary < size, "primary index " + std::to_string(primary) +
                                " is outside a block of " + std::to_string(size) + " bytes");
}

// The walk from the anchor came back to it after `cycle` of `size` rows.
[[noreturn]] void throwShortCycle(unsigned cycle, unsigned size)
{
    throw Exception("Corrupt block: the inverse BWT closes a cycle after " + std::to_string(cycle) + " of " +
                    std::to_string(size) + " bytes.");
}

// Packed rows: the next row of the walk in the top 24 bits, the row's byte in
// the low 8. All bits set is no such value below 2^24 rows and marks a start
// row of ibwtChains().
const unsigned packedRowLimit = 1u << 24;
const std::uint32_t startMark = 0xFFFFFFFFu;

// Bytes per piece of storage for the walks' output, and walks in flight: a
// dozen or more misses overlap on current cores, and with the lean steps of
// walkPieces 24 walks measured about a fifth faster than 16 (32 no better).
const unsigned chunkBytes = 1024;
const unsigned walksInFlight = 24;

// Writes the n bytes at `from` backwards, ending just before `end`:
// end[-1] = from[0], end[-2] = from[1], ... Eight bytes at a time.
void copyReversed(unsigned char* end, const unsigned char* from, unsigned n)
{
    for (; n >= 8; n -= 8, from += 8, end -= 8) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        word = __builtin_bswap64(word);
        std::memcpy(end - 8, &word, 8);
    }
    for (unsigned q = 0; q < n; ++q) end[-1 - static_cast<int>(q)] = from[q];
}

}  // namespace

template <class CharT>
void ibwtPlain(CharT* out, const CharT* in, unsigned size, unsigned primary)
{
    if (size == 0) return;
    requirePrimaryInside(size, primary);

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(in);
    unsigned counts[256] = {};
    std::unique_ptr<unsigned[]> occurrence(new unsigned[size]);

    // The primary row's byte stands for the end of the block: the one-byte
    // suffix made of the block's last byte c is the least suffix starting
    // with c, so that row must take the first rank of bucket c. Counting it
    // first gives it occurrence 0; all other rows follow in input order.
    ++counts[bytes[primary]];
    for (unsigned i = 0; i < primary; ++i) occurrence[i] = counts[bytes[i]]++;
    occurrence[primary] = 0;
    for (unsigned i = primary + 1; i < size; ++i) occurrence[i] = counts[bytes[i]]++;

    // counts[c] becomes the first row whose suffix begins with c.
    unsigned sum = 0;
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned n = counts[c];
        counts[c] = sum;
        sum += n;
    }

    // Walk backwards through the block, starting at the row of its last
    // (one-byte) suffix. occurrence[p] is below the count of byte in[p], so
    // counts[c] + occurrence[p] < counts[c + 1] <= size: p never leaves the
    // block.
    // The rows form cycles whatever the input, and a real transform has one
    // cycle through all of them: a walk back at the anchor before size steps
    // is a block no forward transform made.
    out[size - 1] = in[primary];
    const unsigned anchor = counts[bytes[primary]];
    unsigned p = anchor;
    for (unsigned k = size - 1; k-- > 0;) {
        const unsigned char ch = bytes[p];
        out[k] = static_cast<CharT>(ch);
        p = counts[ch] + occurrence[p];
        if (p == anchor) throwShortCycle(size - 1 - k, size);
    }
}

namespace {

// ibwtChains(). The rows go into `scratch` (4 * size bytes) when it is not
// null, and into fresh memory otherwise; `in` may be the last `size` bytes of
// `scratch`. The walks keep their output in `out`, and the pieces are joined
// in the rows' memory, free by then, and copied to `out`: besides `out` and
// the rows, only a few chunks of fresh memory.
template <class CharT>
void walkChains(CharT* out, const CharT* in, unsigned size, unsigned primary, unsigned starts, unsigned threads,
                std::uint32_t* scratch)
{
    if (size == 0) return;
    requirePrimaryInside(size, primary);
    assert(size < packedRowLimit && starts >= 1);

    // The rows and their successors as in ibwtPlain, packed so that one step
    // of a walk is one memory access.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(in);
    const CharT last = in[primary];
    unsigned counts[256] = {};
    countBytes(bytes, size, counts);
    unsigned sum = 0;
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned n = counts[c];
        counts[c] = sum;
        sum += n;
    }
    LargeArray<std::uint32_t> rows(scratch != nullptr ? 0 : size);
    std::uint32_t* const row = scratch != nullptr ? scratch : rows.get();
    const auto pack = [&counts, bytes](unsigned i) {
        return static_cast<std::uint32_t>(counts[bytes[i]]++) << 8 | bytes[i];
    };
    // Row i is written after byte i is read. When `in` is the top quarter of
    // the rows' memory, row i covers the bytes of `in` from 4i - 3 * size to
    // 4i + 3 - 3 * size, none beyond byte i, so all of them already read.
    const std::uint32_t primaryRow = pack(primary);  // first in its bucket, as in ibwtPlain
    for (unsigned i = 0; i < primary; ++i) row[i] = pack(i);
    row[primary] = primaryRow;
    for (unsigned i = primary + 1; i < size; ++i) row[i] = pack(i);

    // Every row has exactly one predecessor, whatever the input, so the rows
    // fall into cycles (one of size rows for a real transform). The walk of
    // ibwtPlain starts at the anchor, the row of the block's last suffix.
    // Walks from several start rows each stop on reaching any start row and
    // so cut the cycles into pieces that no two walks share: together they
    // visit each row at most once and emit at most size bytes.
    const unsigned anchor = row[primary] >> 8;
    std::vector<unsigned> startRow{anchor};
    for (unsigned s = 0; s < starts; ++s)
        startRow.push_back(static_cast<unsigned>(static_cast<std::uint64_t>(size) * s / starts));
    std::sort(startRow.begin(), startRow.end());
    startRow.erase(std::unique(startRow.begin(), startRow.end()), startRow.end());
    const unsigned pieces = static_cast<unsigned>(startRow.size());
    const auto indexOfStart = [&startRow](unsigned r) {
        return static_cast<unsigned>(std::lower_bound(startRow.begin(), startRow.end(), r) - startRow.begin());
    };

    // A walk reads its start row's entry before any other walk can meet the
    // mark put in its place.
    std::vector<std::uint32_t> firstEntry(pieces);
    for (unsigned s = 0; s < pieces; ++s) {
        firstEntry[s] = row[startRow[s]];
        row[startRow[s]] = startMark;
    }

    // Each walk writes its bytes, last block position first, into a chain of
    // chunks; each piece leaves at most one chunk partly filled. The first
    // chunks are the bytes of `out`, the rest fresh.
    const unsigned chunkCount = size / chunkBytes + pieces;
    const unsigned inOut = size / chunkBytes;
    std::unique_ptr<unsigned char[]> fresh(new unsigned char[static_cast<std::size_t>(chunkCount - inOut) * chunkBytes]);
    unsigned char* const outBytes = reinterpret_cast<unsigned char*>(out);
    const auto chunkAt = [outBytes, inOut, &fresh](unsigned chunk) {
        return chunk < inOut ? outBytes + static_cast<std::size_t>(chunk) * chunkBytes
                             : fresh.get() + static_cast<std::size_t>(chunk - inOut) * chunkBytes;
    };
    std::vector<unsigned> nextChunk(chunkCount);
    std::vector<unsigned> firstChunk(pieces), pieceLength(pieces), following(pieces);
    // Chunks are handed out from one counter, so walks on several threads
    // can share the pool; everything else a walk writes belongs to its own
    // piece or chunk.
    std::atomic<unsigned> chunksUsed{0};
    struct Walk {
        std::uint32_t entry;  // packed entry of the current row
        unsigned piece;
        unsigned fullChunks;  // of this piece, before the current one
        unsigned chunk;
        unsigned char* write;
        unsigned char* chunkEnd;
    };
    const auto takeChunk = [&](Walk& w) {
        w.chunk = chunksUsed.fetch_add(1, std::memory_order_relaxed);
        assert(w.chunk < chunkCount);
        w.write = chunkAt(w.chunk);
        w.chunkEnd = w.write + chunkBytes;
    };
    const auto launch = [&](Walk& w, unsigned piece) {
        w.entry = firstEntry[piece];
        w.piece = piece;
        w.fullChunks = 0;
        takeChunk(w);
        firstChunk[piece] = w.chunk;
    };
    // Walks the pieces [begin, end), one step of every walk in flight per
    // round, so that their loads of the next row are in flight together.
    // Rounds go in batches that fit in every walk's current chunk, so that
    // a step is little more than a byte store, a row load and the test for
    // a start row: the fewer instructions a step takes, the more steps (and
    // so misses) the core keeps in flight at once. A batch ends with the
    // round in which a walk meets a start row.
    const auto walkPieces = [&](unsigned begin, unsigned end) {
        Walk walks[walksInFlight];
        std::uint32_t entry[walksInFlight];
        unsigned char* write[walksInFlight];
        unsigned metRow[walksInFlight];
        unsigned active = 0;
        unsigned launched = begin;
        while (active < walksInFlight && launched < end) launch(walks[active++], launched++);
        while (active != 0) {
            std::size_t room = chunkBytes;
            for (unsigned a = 0; a < active; ++a) {
                Walk& w = walks[a];
                if (w.write == w.chunkEnd) {
                    const unsigned previous = w.chunk;
                    takeChunk(w);
                    nextChunk[previous] = w.chunk;
                    ++w.fullChunks;
                }
                room = std::min(room, static_cast<std::size_t>(w.chunkEnd - w.write));
                entry[a] = w.entry;
                write[a] = w.write;
            }
            std::size_t k = 0;
            bool met = false;
            do {
                for (unsigned a = 0; a < active; ++a) {
                    const std::uint32_t e = entry[a];
                    write[a][k] = static_cast<unsigned char>(e);
                    const std::uint32_t next = row[e >> 8];
                    entry[a] = next;
                    if (next == startMark) {
                        metRow[a] = e >> 8;
                        met = true;
                    }
                }
                ++k;
            } while (k < room && !met);
            for (unsigned a = 0; a < active; ++a) {
                walks[a].write += k;
                walks[a].entry = entry[a];
            }
            if (!met) continue;
            for (unsigned a = 0; a < active;) {
                Walk& w = walks[a];
                if (w.entry != startMark) {
                    ++a;
                    continue;
                }
                pieceLength[w.piece] =
                    w.fullChunks * chunkBytes + static_cast<unsigned>(chunkBytes - (w.chunkEnd - w.write));
                following[w.piece] = indexOfStart(metRow[a]);
                if (launched < end) {
                    launch(w, launched++);
                    ++a;
                } else {
                    --active;
                    w = walks[active];
                    metRow[a] = metRow[active];
                }
            }
        }
    };
    // The pieces split evenly between the threads; a thread that cannot be
    // started leaves its share to this one.
    const unsigned shares = CoreGate::openHere() ? std::max(1u, std::min(threads, pieces)) : 1;
    std::vector<std::thread> helpers;
    unsigned mine = shares;
    for (unsigned t = 1; t < shares; ++t) {
        const unsigned begin = static_cast<unsigned>(std::uint64_t(pieces) * t / shares);
        const unsigned end = static_cast<unsigned>(std::uint64_t(pieces) * (t + 1) / shares);
        try {
            helpers.emplace_back(walkPieces, begin, end);
        } catch (const std::system_error&) {
            mine = t;
            break;
        }
    }
    walkPieces(0, static_cast<unsigned>(std::uint64_t(pieces) * 1 / shares));
    for (unsigned t = mine; t < shares; ++t)
        walkPieces(static_cast<unsigned>(std::uint64_t(pieces) * t / shares),
                   static_cast<unsigned>(std::uint64_t(pieces) * (t + 1) / shares));
    for (std::thread& h : helpers) h.join();

    // The anchor's cycle must take in every row, as in ibwtPlain; checked
    // before anything is written.
    const unsigned first = indexOfStart(anchor);
    unsigned cycle = 0;
    unsigned piece = first;
    do {
        cycle += pieceLength[piece];
        piece = following[piece];
    } while (piece != first);
    if (cycle != size) throwShortCycle(cycle, size);
    CharT* const joined = reinterpret_cast<CharT*>(row);

    // Join the pieces from the anchor's on, filling the block from its end.
    // Byte size - 1 is the primary row's, as in ibwtPlain.
    joined[size - 1] = last;
    const unsigned wanted = size - 1;
    unsigned done = 0;
    piece = first;
    do {
        unsigned left = pieceLength[piece];
        unsigned chunk = firstChunk[piece];
        while (left != 0 && done < wanted) {
            const unsigned take = std::min({left, chunkBytes, wanted - done});
            const unsigned char* from = chunkAt(chunk);
            copyReversed(reinterpret_cast<unsigned char*>(joined) + (wanted - done), from, take);
            done += take;
            left -= take;
            if (left != 0) chunk = nextChunk[chunk];
        }
        piece = following[piece];
    } while (done < wanted);
    std::memcpy(out, joined, size);
}

// About 8 KiB of block per start, at most 1024 starts: enough pieces to keep
// the walks in flight busy to the end, and little chunk slack.
unsigned startsFor(unsigned size) { return std::min(1024u, std::max(1u, size / 8192)); }

}  // namespace

template <class CharT>
void ibwtChains(CharT* out, const CharT* in, unsigned size, unsigned primary, unsigned starts, unsigned threads)
{
    walkChains(out, in, size, primary, starts, threads, nullptr);
}

template <class CharT>
void ibwt(CharT* out, const CharT* in, unsigned size, unsigned primary, unsigned threads)
{
    if (size >= packedRowLimit) {
        ibwtPlain(out, in, size, primary);
        return;
    }
    walkChains(out, in, size, primary, startsFor(size), threads, nullptr);
}

template <class CharT>
void ibwtFromScratch(CharT* out, std::uint32_t* scratch, unsigned size, unsigned primary, unsigned threads)
{
    const CharT* in = reinterpret_cast<const CharT*>(reinterpret_cast<unsigned char*>(scratch) + std::size_t(3) * size);
    if (size >= packedRowLimit) {
        ibwtPlain(out, in, size, primary);
        return;
    }
    walkChains(out, in, size, primary, startsFor(size), threads, scratch);
}

template void ibwt<char>(char* out, const char* in, unsigned size, unsigned primary, unsigned threads);
template void ibwtFromScratch<char>(char* out, std::uint32_t* scratch, unsigned size, unsigned primary,
                                     unsigned threads);
template void ibwtPlain<char>(char* out, const char* in, unsigned size, unsigned primary);
template void ibwtChains<char>(char* out, const char* in, unsigned size, unsigned primary, unsigned starts,
                                unsigned threads);
