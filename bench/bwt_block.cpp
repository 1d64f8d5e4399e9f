// Runs one forward BWT over the first 10 MiB of a file, for peak-memory
// measurements (/usr/bin/time -v) of the transform alone; THREADS (default
// 1) is handed to the sort.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>

#include "transform/bwt.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: bwt_block FILE [THREADS]\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    const std::streamoff fileSize = in.tellg();
    // Exactly the block, so that the measured peak is the transform's.
    const std::streamoff size = std::min<std::streamoff>(std::max<std::streamoff>(fileSize, 0), 10485760);
    std::string block(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(&block[0], static_cast<std::streamsize>(block.size()));
    if (block.empty()) {
        std::cerr << "empty input\n";
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const unsigned threads = argc == 3 ? static_cast<unsigned>(std::stoul(argv[2])) : 1;
    const unsigned primary = bwt<char, unsigned>(&block[0], static_cast<unsigned>(block.size()), nullptr, threads);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::cout << block.size() << " bytes, primary index " << primary << ", " << elapsed.count()
              << " s, " << block.size() / 1e6 / elapsed.count() << " MB/s\n";
    return 0;
}
