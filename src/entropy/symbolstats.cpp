#include "entropy/symbolstats.h"

// The one instance in use, compiled in full here.
template class AdaptiveSymbolStats<unsigned>;
