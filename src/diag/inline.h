#pragma once
// For hot steps that must go whole into their callers' loops (g++ calls a
// step that is used from two loops, or that looks large, rather than copy
// it, and the loops then lose their state in registers).

#define VARN_ALWAYS_INLINE inline __attribute__((always_inline))

// The same for lambdas and for members declared `inline` elsewhere, which
// take the attribute alone.
#define VARN_FORCE_INLINE __attribute__((always_inline))
