#include "options.h"

std::string ifilename;
std::string ofilename;
std::string testfilename;

bool compress = false;
bool decompress = false;
bool test = false;
bool help = false;
bool verbose = false;
bool adaptiveAC = false;
bool staticAC = false;
bool useMTF0 = false;
bool useMTF1 = false;
bool useDC = false;
bool useRLE0 = false;
bool doNotUseRLE0 = false;

unsigned blockSize = 0;
unsigned threadCount = 0;

bool printInputHist = false;
std::ofstream inputHistFile;
bool printBWTData = false;
std::ofstream bwtOutFile;
bool printMTFData = false;
std::ofstream mtfOutFile;
bool printMTFHist = false;
std::ofstream mtfHistFile;
bool printRLE0Data = false;
std::ofstream rle0OutFile;
bool printRLE0Hist = false;
std::ofstream rle0HistFile;
bool printDCData = false;
std::ofstream dcOutFile;
bool printDCHist = false;
std::ofstream dcHistFile;
std::ofstream suffixesFile;
std::ofstream suffixArrayFile;
bool bwtPrintSuffixesToFile = false;
std::ostream* bwtSuffixesFile = nullptr;
unsigned bwtPrintSuffixesToFileMaxSuffixSize = 0xFFFFFFFFu;
bool bwtPrintSuffixArrayToFile = false;
std::ostream* bwtSuffixArrayFile = nullptr;

void resetOptions()
{
    ifilename.clear();
    ofilename.clear();
    testfilename.clear();
    compress = decompress = test = help = verbose = false;
    adaptiveAC = staticAC = useMTF0 = useMTF1 = useDC = false;
    useRLE0 = doNotUseRLE0 = false;
    blockSize = 0;
    threadCount = 0;
    printInputHist = printBWTData = printMTFData = printMTFHist = false;
    printRLE0Data = printRLE0Hist = printDCData = printDCHist = false;
    bwtPrintSuffixesToFile = bwtPrintSuffixArrayToFile = false;
    bwtSuffixesFile = bwtSuffixArrayFile = nullptr;
    bwtPrintSuffixesToFileMaxSuffixSize = 0xFFFFFFFFu;
    for (std::ofstream* f : {&inputHistFile, &bwtOutFile, &mtfOutFile, &mtfHistFile, &rle0OutFile,
                             &rle0HistFile, &dcOutFile, &dcHistFile, &suffixesFile, &suffixArrayFile}) {
        if (f->is_open()) f->close();
        f->clear();
    }
}
