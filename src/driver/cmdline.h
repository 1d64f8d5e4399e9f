#pragma once
// Command line of varn-q27: fills the option variables (driver/options.h).

#include <ostream>

// Parses argv[1..argc) into the option variables, opens the dump files at
// their options' positions, validates, fills in defaults and prints warnings
// (and, with -h/--help, the help text) to standard output.
// Returns false only when there are no arguments at all, after printing the
// help text; true when the run is to go on. With -h/--help and neither -c
// nor -e it returns true with compress and decompress both false, meaning
// there is nothing to do. Every error is thrown as Exception, among them any
// file that the run would write (output, test file, dump files) being the
// same file as another file named on the command line.
bool parseCommandLineParams(int argc, char** argv);

// Writes the 44-line help text to `os`.
void printHelp(std::ostream& os);

// Value of a numeric option, converted as atoi does (leading white space, an
// optional sign, then leading digits; anything else gives 0) and stored as
// unsigned 32-bit, so "-5" gives 4294967291. Out-of-range text saturates
// before the conversion instead of being undefined.
unsigned parseNumberOption(const char* text);

// Value of a thread-count option (-j, --threads): decimal digits only, from
// 0 up; values above 1024 count as 1024. Anything else throws Exception
// naming `option`.
unsigned parseCountOption(const char* option, const char* text);
