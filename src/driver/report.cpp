#include "driver/report.h"

#include "diag/dump.h"
#include "diag/timing.h"
#include "driver/options.h"

#include <iostream>

ProgramReport::ProgramReport()
    : verbose_(verbose), compressing_(compress)
{
    // Dumps are written only while compressing.
    const bool dumps = compressing_ && (printInputHist || printBWTData || printMTFData || printMTFHist ||
                                        printRLE0Data || printDCData || printDCHist || wantsSuffixArray());
    active_ = verbose_ || dumps;
}

void ProgramReport::blockStarted(unsigned, unsigned size)
{
    if (verbose_) std::cout << "Block size: " << size << std::endl;
}

void ProgramReport::stageStarted(BlockStage stage)
{
    if (!verbose_) return;
    const char* line = nullptr;
    switch (stage) {
    case BlockStage::bwt: line = "   Performing BWT..."; break;
    case BlockStage::distanceCoding: line = "   Performing DC coding..."; break;
    case BlockStage::statistics: line = "   Gathering symbol statistics..."; break;
    case BlockStage::coding: line = "   Coding data to arithmetic stream..."; break;
    case BlockStage::decodingDistances: line = "   Decoding data from arithmetic stream, performing iDC..."; break;
    case BlockStage::decoding: line = "   Decoding data from arithmetic stream..."; break;
    case BlockStage::inverseBwt: line = "   Performing iBWT..."; break;
    }
    std::cout << line << std::endl;
}

void ProgramReport::blockInput(const char* data, unsigned size)
{
    if (compressing_ && printInputHist) printInputHistToFile(inputHistFile, data, size);
}

bool ProgramReport::wantsSuffixArray() const
{
    return compressing_ && ((bwtPrintSuffixesToFile && bwtSuffixesFile != nullptr) ||
                            (bwtPrintSuffixArrayToFile && bwtSuffixArrayFile != nullptr));
}

void ProgramReport::suffixArraySorted(const char* data, unsigned size, const unsigned* sa)
{
    // The dumps show the block as it is before the transform.
    if (bwtPrintSuffixesToFile && bwtSuffixesFile != nullptr)
        printSortedSuffixes(*bwtSuffixesFile, data, size, sa, bwtPrintSuffixesToFileMaxSuffixSize);
    if (bwtPrintSuffixArrayToFile && bwtSuffixArrayFile != nullptr) printSuffixArray(*bwtSuffixArrayFile, size, sa);
}

void ProgramReport::primaryIndex(unsigned index)
{
    if (verbose_) std::cout << "      First suffix index: " << index << std::endl;
}

void ProgramReport::bwtDone(const char* data, unsigned size, unsigned primary)
{
    if (compressing_ && printBWTData) printBWTDataToFile(bwtOutFile, data, size, primary);
}

void ProgramReport::modelSymbols(unsigned count)
{
    if (verbose_) std::cout << "      Number of symbols: " << count << std::endl;
}

void ProgramReport::distanceValues(const unsigned* values, unsigned count)
{
    if (verbose_) std::cout << "      Size of data after DC: " << count << std::endl;
    if (printDCData) printDCDataToFile(dcOutFile, values, count);
    if (printDCHist) printDCHistToFile(dcHistFile, values, count);
}

void ProgramReport::distanceValueCount(unsigned count)
{
    if (verbose_) std::cout << "      Size of DC data: " << count << std::endl;
}

void ProgramReport::mtfRanks(const char* ranks, unsigned size)
{
    if (printMTFData) printMTFDataToFile(mtfOutFile, ranks, size);
    if (printMTFHist) printMTFHistToFile(mtfHistFile, ranks, size);
}

bool ProgramReport::wantsZeroRunSymbols() const
{
    return compressing_ && printRLE0Data;
}

void ProgramReport::zeroRunStarted(unsigned blockSize)
{
    printRLE0DataHead(rle0OutFile, blockSize);
}

void ProgramReport::zeroRunSymbol(unsigned symbol)
{
    printRLE0DataToken(rle0OutFile, symbol);
}

void ProgramReport::zeroRunFinished(unsigned symbolCount)
{
    printRLE0DataTail(rle0OutFile, symbolCount);
}

void ProgramReport::stageTime(const char* label, long start, long end)
{
    if (verbose_) printTime(std::cout, label, start, end);
}

PackSettings packSettingsFromOptions()
{
    PackSettings settings;
    settings.blockSize = blockSize;
    settings.threads = threadCount;
    if (useMTF0) {
        settings.block.method = useRLE0 ? methodMTFRLE0 : methodMTF;
        settings.block.coderType = adaptiveAC ? coderAdaptive : coderStatic;
    } else if (useDC) {
        settings.block.method = methodDC;
        settings.block.coderType = coderAdaptive;
    } else {
        // --mtf1 has no pipeline: a method code no codec accepts.
        settings.block.method = 0;
    }
    return settings;
}
