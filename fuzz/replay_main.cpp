// Replays saved inputs through a fuzz target without libFuzzer, so the
// ordinary (and the sanitizer) test build runs the seed corpus and every
// past finding. Arguments are files or folders; folders are read one level
// deep in name order. A folder that does not exist is skipped, so a target
// without regressions yet needs no empty folder. Exits 0 when every input
// ran; a fault in the target aborts the process as it would under libFuzzer.

#include "fuzz_common.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else if (fs::is_regular_file(arg)) {
            inputs.push_back(arg);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& p : inputs) {
        const std::string bytes = fuzz::readFile(p.string());
        std::cerr << "replay " << p.string() << " (" << bytes.size() << " bytes)\n";
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::cout << inputs.size() << " passed, 0 failed\n";
    return 0;
}
