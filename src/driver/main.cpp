// Entry point of varn-q27: parse the command line, then compress (and, in
// test mode, extract again and compare) or extract one file. Every error
// anywhere in the program arrives here and becomes one "ERROR: " line on the
// error stream and status -1.

#include "container/container.h"
#include "container/outputfile.h"
#include "diag/exception.h"
#include "driver/cmdline.h"
#include "driver/files.h"
#include "driver/options.h"
#include "driver/report.h"

#include <cstdlib>
#include <exception>
#include <iostream>

namespace {

// Keeps the console window open on Windows, where the program is often
// started by double-click. POSIX shells have no such command; running it
// there would only print "pause: not found".
void pauseConsole()
{
#ifdef _WIN32
    if (std::system("pause") != 0) {
        // The command's result never changes the exit status.
    }
#endif
}

} // namespace

int main(int argc, char** argv)
{
    installCleanupHandlers();
    try {
        if (!parseCommandLineParams(argc, argv)) return 0;
        // -h with neither -c nor -e: the help text was all that was asked for.
        if (!compress && !decompress) return 0;

        ProgramReport report;
        ContainerObserver* observer = report.active() ? &report : nullptr;
        bool filesEqual = true;
        if (compress) {
            packFile(ifilename.c_str(), ofilename.c_str(), packSettingsFromOptions(), observer, verbose);
            std::cout << std::endl;
            if (test) {
                std::cout << "Testing packed file correctness." << std::endl << std::endl;
                unpackFile(ofilename.c_str(), testfilename.c_str(), observer, verbose, threadCount);
                std::cout << std::endl;
                filesEqual = equalFiles(ifilename, testfilename);
                if (filesEqual)
                    std::cout << "OK, Files are equal." << std::endl;
                else
                    std::cerr << "ERROR: Files are not equal!" << std::endl;
            }
        } else {
            unpackFile(ifilename.c_str(), ofilename.c_str(), observer, verbose, threadCount);
        }
        std::cout << "End." << std::endl;
        pauseConsole();
        // A failed verification is a failed run.
        return filesEqual ? 0 : -1;
    } catch (const Exception& e) {
        std::cerr << "ERROR: " << e.what() << std::endl;
        pauseConsole();
        return -1;
    } catch (const std::exception& e) {
        std::cerr << "ERROR: std::exception catched: " << e.what() << std::endl;
        pauseConsole();
        return -1;
    } catch (...) {
        std::cerr << "ERROR: unknown error!" << std::endl;
        throw;
    }
}
