#pragma once
// The program's option variables, written by the command-line parser and
// read by main, which turns them into the settings and the observer it hands
// to the container. Nothing below the driver sees them.

#include <fstream>
#include <string>

extern std::string ifilename;
extern std::string ofilename;
extern std::string testfilename;

extern bool compress;
extern bool decompress;
extern bool test;
extern bool help;
extern bool verbose;
extern bool adaptiveAC;
extern bool staticAC;
extern bool useMTF0;
extern bool useMTF1;
extern bool useDC;
extern bool useRLE0;
extern bool doNotUseRLE0;

// Block size in bytes; 0 means one block as large as the input.
extern unsigned blockSize;
// Threads for compression and extraction (-j, --threads); 0 means one per core.
extern unsigned threadCount;

extern bool printInputHist;
extern std::ofstream inputHistFile;
extern bool printBWTData;
extern std::ofstream bwtOutFile;
extern bool printMTFData;
extern std::ofstream mtfOutFile;
extern bool printMTFHist;
extern std::ofstream mtfHistFile;
extern bool printRLE0Data;
extern std::ofstream rle0OutFile;
extern bool printRLE0Hist;
extern std::ofstream rle0HistFile;
extern bool printDCData;
extern std::ofstream dcOutFile;
extern bool printDCHist;
extern std::ofstream dcHistFile;
extern std::ofstream suffixesFile;
extern std::ofstream suffixArrayFile;
extern bool bwtPrintSuffixesToFile;
extern std::ostream* bwtSuffixesFile;
// Longest suffix prefix written per line; all bits set means no limit.
extern unsigned bwtPrintSuffixesToFileMaxSuffixSize;
extern bool bwtPrintSuffixArrayToFile;
extern std::ostream* bwtSuffixArrayFile;

// Puts every variable above back to its start-up value and closes the
// dump streams. The program never needs it; tests that parse several
// command lines in one process do.
void resetOptions();
