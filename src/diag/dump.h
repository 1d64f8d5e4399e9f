#pragma once
// Per-block diagnostic dump sections. Each writes one section to its own
// option stream (options.h) and is called only when its flag is set; a
// caller never writes to a closed stream. Write failures are ignored.
//
// Most sections open with the same three lines: "[Block] ", "Block size = "
// and the element count, then the section title. Raw bytes are written as
// they are; every line ends with std::endl.

// "Data histogram:" section over the block's bytes, into inputHistFile.
void printInputHistToFile(char* data, unsigned size);

// BWT output into bwtOutFile: the head with "First suffix position: " and
// firstSuffixPosition (the primary index) before the title, then the
// transformed block as raw bytes on one line and an empty line.
void printBWTDataToFile(char* data, unsigned size, unsigned firstSuffixPosition);

// "Data after MTF:" section into mtfOutFile: one rank (0..255) per byte of
// data, in decimal, separated by single spaces.
void printMTFDataToFile(char* data, unsigned size);

// "Data MTF histogram:" section into mtfHistFile over the same ranks; keys
// are decimal, ordered as signed bytes (128..255 before 0..127).
void printMTFHistToFile(char* data, unsigned size);

// "Data DC histogram:" section into dcHistFile over the distance coder's
// `count` output values.
void printDCHistToFile(const unsigned* values, unsigned count);

// "Data after DC:" section into dcOutFile: the distance coder's `count`
// output values in decimal, separated by single spaces.
void printDCDataToFile(const unsigned* values, unsigned count);

// Zero-run output section in rle0OutFile, written while the zero-run coder
// emits symbols: the head before the first symbol, one token per coded
// symbol (symbol 0 and 1 are run digits written "0a " and "0b "; symbol
// s >= 2 stands for the move-to-front rank s - 1, written in decimal and a
// space), and the tail with the number of tokens written. Its first head
// line is "[Block]" without the trailing space of the other sections.
void printRLE0DataHead(unsigned blockLength);
void printRLE0DataToken(unsigned symbol);
void printRLE0DataTail(unsigned tokenCount);
