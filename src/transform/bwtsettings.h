#pragma once
// Settings of the forward BWT's suffix dumps. Set by the command-line parser;
// the BWT reaches the dump files only through these two stream pointers.

#include <ostream>

extern bool bwtPrintSuffixesToFile;
extern std::ostream* bwtSuffixesFile;
// Longest suffix prefix written per line; all bits set means no limit.
extern unsigned bwtPrintSuffixesToFileMaxSuffixSize;
extern bool bwtPrintSuffixArrayToFile;
extern std::ostream* bwtSuffixArrayFile;
