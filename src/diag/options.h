#pragma once
// Process-wide option variables. Written by the command-line parser; the
// compression driver also fixes blockSize and the extraction driver sets
// useRLE0 from each block's method. Everyone else only reads them.

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

// Puts every variable above back to its start-up value and closes the
// dump streams. The program never needs it; tests that parse several
// command lines in one process do.
void resetOptions();
