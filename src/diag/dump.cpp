#include "dump.h"

#include "histogram.h"

#include <algorithm>
#include <ostream>
#include <string>

namespace {

void printHead(std::ostream& os, unsigned count, const char* title)
{
    os << "[Block] " << std::endl;
    os << "Block size = " << count << std::endl;
    os << title << std::endl;
}

// Numbers separated by single spaces, then the line end and the empty line
// that close a section.
template <typename T, typename Map>
void printNumberLine(std::ostream& os, const T* values, unsigned count, Map toNumber)
{
    for (unsigned i = 0; i < count; ++i) {
        if (i != 0) os << ' ';
        os << toNumber(values[i]);
    }
    os << std::endl << std::endl;
}

} // namespace

void printInputHistToFile(std::ostream& inputHistFile, const char* data, unsigned size)
{
    printHead(inputHistFile, size, "Data histogram:");
    histogram(inputHistFile, data, size);
    inputHistFile << std::endl << std::endl;
}

void printBWTDataToFile(std::ostream& bwtOutFile, const char* data, unsigned size, unsigned firstSuffixPosition)
{
    bwtOutFile << "[Block] " << std::endl;
    bwtOutFile << "Block size = " << size << std::endl;
    bwtOutFile << "First suffix position: " << firstSuffixPosition << std::endl;
    bwtOutFile << "Data after BWT:" << std::endl;
    bwtOutFile.write(data, size);
    bwtOutFile << std::endl << std::endl;
}

void printMTFDataToFile(std::ostream& mtfOutFile, const char* data, unsigned size)
{
    printHead(mtfOutFile, size, "Data after MTF:");
    printNumberLine(mtfOutFile, data, size, mtfHistPassValue);
}

void printMTFHistToFile(std::ostream& mtfHistFile, const char* data, unsigned size)
{
    printHead(mtfHistFile, size, "Data MTF histogram:");
    histogram(mtfHistFile, data, size, mtfHistPassValue);
    mtfHistFile << std::endl << std::endl;
}

void printDCHistToFile(std::ostream& dcHistFile, const unsigned* values, unsigned count)
{
    printHead(dcHistFile, count, "Data DC histogram:");
    histogram(dcHistFile, values, count);
    dcHistFile << std::endl << std::endl;
}

void printDCDataToFile(std::ostream& dcOutFile, const unsigned* values, unsigned count)
{
    printHead(dcOutFile, count, "Data after DC:");
    printNumberLine(dcOutFile, values, count, histogramPassThrough<const unsigned>);
}

void printRLE0DataHead(std::ostream& rle0OutFile, unsigned blockLength)
{
    rle0OutFile << "[Block]" << std::endl;
    rle0OutFile << "Block size = " << blockLength << std::endl;
    rle0OutFile << "Data after RLE0:" << std::endl;
}

void printRLE0DataToken(std::ostream& rle0OutFile, unsigned symbol)
{
    // Tokens share one line; only the tail ends it.
    if (symbol < 2)
        rle0OutFile << (symbol == 0 ? "0a " : "0b ");
    else
        rle0OutFile << symbol - 1 << ' ';
}

void printRLE0DataTail(std::ostream& rle0OutFile, unsigned tokenCount)
{
    rle0OutFile << std::endl;
    rle0OutFile << "Number of coded symbols: " << tokenCount << std::endl << std::endl;
}

void printSortedSuffixes(std::ostream& os, const char* data, unsigned size, const unsigned* sa, unsigned maxLength)
{
    std::string line;
    for (unsigned r = 0; r < size; ++r) {
        line = std::to_string(r) + " suffix " + std::to_string(sa[r]) + ": ";
        if (line.size() < 20) line.resize(20, ' ');
        const unsigned length = std::min(size - sa[r], maxLength);
        line.append(data + sa[r], length);
        os << line << std::endl;
    }
}

void printSuffixArray(std::ostream& os, unsigned size, const unsigned* sa)
{
    for (unsigned r = 0; r < size; ++r) {
        if (r != 0) os << ' ';
        os << sa[r];
    }
}
