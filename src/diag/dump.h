#pragma once
// Per-block diagnostic dump sections. Each writes to its own option stream
// and is called only when its flag is set.

void printInputHistToFile(char* data, unsigned size);
void printBWTDataToFile(char* data, unsigned size, unsigned firstSuffixPosition);
void printMTFDataToFile(char* data, unsigned size);
void printMTFHistToFile(char* data, unsigned size);
void printDCHistToFile(const unsigned* values, unsigned count);

// Zero-run output section, written while the zero-run coder emits symbols:
// the head before the first symbol, one token per coded symbol (symbol 0 and
// 1 are run digits written "0a " and "0b "; symbol s >= 2 stands for the
// move-to-front rank s - 1, written in decimal and a space), and the tail
// with the number of tokens written.
void printRLE0DataHead(unsigned blockLength);
void printRLE0DataToken(unsigned symbol);
void printRLE0DataTail(unsigned tokenCount);
