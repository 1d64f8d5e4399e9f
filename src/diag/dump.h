#pragma once
// Per-block diagnostic dump sections. Each writes one section to the stream
// it is given. Write failures are ignored.
//
// Most sections open with the same three lines: "[Block] ", "Block size = "
// and the element count, then the section title. Raw bytes are written as
// they are; every line ends with std::endl.

#include <ostream>

// "Data histogram:" section over the block's bytes.
void printInputHistToFile(std::ostream& os, const char* data, unsigned size);

// BWT output: the head with "First suffix position: " and
// firstSuffixPosition (the primary index) before the title, then the
// transformed block as raw bytes on one line and an empty line.
void printBWTDataToFile(std::ostream& os, const char* data, unsigned size, unsigned firstSuffixPosition);

// "Data after MTF:" section: one rank (0..255) per byte of
// data, in decimal, separated by single spaces.
void printMTFDataToFile(std::ostream& os, const char* data, unsigned size);

// "Data MTF histogram:" section over the same ranks; keys
// are decimal, ordered as signed bytes (128..255 before 0..127).
void printMTFHistToFile(std::ostream& os, const char* data, unsigned size);

// "Data DC histogram:" section over the distance coder's
// `count` output values.
void printDCHistToFile(std::ostream& os, const unsigned* values, unsigned count);

// "Data after DC:" section: the distance coder's `count`
// output values in decimal, separated by single spaces.
void printDCDataToFile(std::ostream& os, const unsigned* values, unsigned count);

// Zero-run output section, written while the zero-run coder
// emits symbols: the head before the first symbol, one token per coded
// symbol (symbol 0 and 1 are run digits written "0a " and "0b "; symbol
// s >= 2 stands for the move-to-front rank s - 1, written in decimal and a
// space), and the tail with the number of tokens written. Its first head
// line is "[Block]" without the trailing space of the other sections.
void printRLE0DataHead(std::ostream& os, unsigned blockLength);
void printRLE0DataToken(std::ostream& os, unsigned symbol);
void printRLE0DataTail(std::ostream& os, unsigned tokenCount);

// Sorted suffixes, one line per rank: "r suffix p: " padded with spaces to
// 20 columns, then at most `maxLength` raw bytes of the suffix.
void printSortedSuffixes(std::ostream& os, const char* data, unsigned size, const unsigned* sa, unsigned maxLength);

// The suffix array on one line, positions separated by single spaces, no
// line end (the next block's positions follow directly).
void printSuffixArray(std::ostream& os, unsigned size, const unsigned* sa);
