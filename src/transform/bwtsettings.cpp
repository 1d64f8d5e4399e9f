#include "bwtsettings.h"

bool bwtPrintSuffixesToFile = false;
std::ostream* bwtSuffixesFile = nullptr;
unsigned bwtPrintSuffixesToFileMaxSuffixSize = 0xFFFFFFFFu;
bool bwtPrintSuffixArrayToFile = false;
std::ostream* bwtSuffixArrayFile = nullptr;
