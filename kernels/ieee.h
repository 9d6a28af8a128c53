// SPDX-License-Identifier: BSD-3-Clause
// The kernels' arithmetic, one IEEE operation each, with the left operand's
// NaN passed on whenever both operands are NaN.
//
// IEEE 754 fixes every result bit for bit except which NaN an operation on
// two NaNs passes on. Compilers treat addition and multiplication as
// commutative and may swap their operands, so the same source line can pass
// on either NaN's sign and payload depending on how it was compiled: the MEX
// files, the native Octave functions and the test builds would then differ
// in the bits of such a NaN. On x86-64 these helpers issue the SSE2
// instruction with the left operand as destination, whose rule is to pass on
// the destination's NaN; elsewhere they are the plain operators.
#ifndef KERNELS_IEEE_H
#define KERNELS_IEEE_H

namespace ieee {

// Two doubles side by side (one SSE2 register on x86-64). Lane arithmetic is
// the same IEEE multiplication and addition per element as scalar code.
typedef double Lanes __attribute__((vector_size(16)));

#if defined(__x86_64__) && defined(__SSE2__)

inline double add(double a, double b) {
    asm("addsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
}
inline double sub(double a, double b) {
    asm("subsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
}
inline double mul(double a, double b) {
    asm("mulsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
}
inline Lanes add(Lanes a, Lanes b) {
    asm("addpd %1, %0" : "+x"(a) : "xm"(b));
    return a;
}
inline Lanes mul(Lanes a, Lanes b) {
    asm("mulpd %1, %0" : "+x"(a) : "xm"(b));
    return a;
}

// Four and eight doubles side by side (one AVX or AVX-512 register), for
// the code paths a call dispatches to at run time (tally_pairs_vector.h).
// The three-operand instructions pass on the first source's NaN, which is
// the left operand here, as in the SSE2 helpers above. A build defines
// TABLEFOLD_NO_DISPATCH to leave them out and run the SSE2 code alone.
#if !defined(TABLEFOLD_NO_DISPATCH)
#define IEEE_DISPATCH 1
#define IEEE_AVX2 __attribute__((target("avx2"), always_inline))
#define IEEE_AVX512 __attribute__((target("avx2,avx512f,avx512vl"), always_inline))

typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));

IEEE_AVX2 inline Lanes4 add(Lanes4 a, Lanes4 b) {
    Lanes4 r;
    asm("vaddpd %2, %1, %0" : "=x"(r) : "x"(a), "xm"(b));
    return r;
}
IEEE_AVX2 inline Lanes4 mul(Lanes4 a, Lanes4 b) {
    Lanes4 r;
    asm("vmulpd %2, %1, %0" : "=x"(r) : "x"(a), "xm"(b));
    return r;
}
IEEE_AVX512 inline Lanes8 add(Lanes8 a, Lanes8 b) {
    Lanes8 r;
    asm("vaddpd %2, %1, %0" : "=v"(r) : "v"(a), "vm"(b));
    return r;
}
IEEE_AVX512 inline Lanes8 mul(Lanes8 a, Lanes8 b) {
    Lanes8 r;
    asm("vmulpd %2, %1, %0" : "=v"(r) : "v"(a), "vm"(b));
    return r;
}
#endif

#else

inline double add(double a, double b) {
    return a + b;
}
inline double sub(double a, double b) {
    return a - b;
}
inline double mul(double a, double b) {
    return a * b;
}
inline Lanes add(Lanes a, Lanes b) {
    return a + b;
}
inline Lanes mul(Lanes a, Lanes b) {
    return a * b;
}

#endif

} // namespace ieee

#endif
