#include "timing.h"

#include <ctime>

long clockMillis()
{
    std::clock_t c = std::clock();
    if (c == static_cast<std::clock_t>(-1)) return -1;
    return static_cast<long>(static_cast<double>(c) * 1000.0 / CLOCKS_PER_SEC);
}

void printTime(std::ostream& os, const std::string& label, long start, long end)
{
    os << label;
    if (start == -1 || end == -1)
        os << "-";
    else
        os << static_cast<double>(end - start) / 1000 << "s";
    os << std::endl;
}
