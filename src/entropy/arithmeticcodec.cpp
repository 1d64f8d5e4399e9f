#include "entropy/arithmeticcodec.h"
#include "entropy/plainarithmeticcodec.h"

// The two precisions in use, instantiated here so that every member is
// compiled and checked even before a block codec uses it.
template class ArithmeticCoder<unsigned, unsigned, 16>;
template class ArithmeticDecoder<unsigned, unsigned, 16>;
template class ArithmeticCoder<unsigned, unsigned long long, 18>;
template class ArithmeticDecoder<unsigned, unsigned long long, 18>;
template class PlainArithmeticCoder<unsigned, unsigned, 16>;
template class PlainArithmeticDecoder<unsigned, unsigned, 16>;
template class PlainArithmeticCoder<unsigned, unsigned long long, 18>;
template class PlainArithmeticDecoder<unsigned, unsigned long long, 18>;
