#include "entropy/plainsymbolstats.h"
#include "entropy/symbolstats.h"

// The one instance in use, and its reference, compiled in full here.
template class AdaptiveSymbolStats<unsigned>;
template class PlainSymbolStats<unsigned>;
