// SPDX-License-Identifier: BSD-3-Clause
// The kernels' arithmetic, one IEEE operation each, with the left operand's
// NaN passed on whenever both operands are NaN.
//
// IEEE 754 fixes every result bit for bit except which NaN an operation on
// two NaNs passes on, and the bits of a NaN that an invalid operation
// (Inf - Inf, 0 * Inf) creates. Compilers treat addition and multiplication
// as commutative and may swap their operands, so the same source line can
// pass on either NaN's sign and payload depending on how it was compiled:
// the MEX files, the native Octave functions and the test builds would then
// differ in the bits of such a NaN. These helpers issue the instruction
// themselves, the left operand first, so every build gives x86-64's bits:
//
//   x86-64   the SSE2 (and AVX) instruction with the left operand as
//            destination or first source: it passes on that operand's NaN,
//            quieted; a created NaN is 0xfff8000000000000.
//   aarch64  fadd, fsub, fmul with the left operand first. Of two quiet
//            NaNs they pass on the first, as x86-64 does; two cases differ
//            and are set to x86-64's bits after the instruction, at a cost
//            of a few bit operations: a created NaN (aarch64's default NaN
//            is 0x7ff8000000000000) and a signalling NaN on the right of a
//            quiet one (aarch64 passes on the signalling one).
//
// Any other processor is refused when the build starts (compiler.h).
#ifndef KERNELS_IEEE_H
#define KERNELS_IEEE_H

#include "compiler.h"

#include <cstdint>
#include <cstring>

namespace ieee {

// Two doubles side by side (one SSE2 or NEON register). Lane arithmetic is
// the same IEEE multiplication and addition per element as scalar code.
typedef double Lanes __attribute__((vector_size(16)));

#if defined(TABLEFOLD_X86_64)

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

#elif defined(TABLEFOLD_AARCH64)

// The same bits of every lane (a lane's value on the right of each rule):
// 64-bit masks, all ones where a comparison holds.
typedef int64_t LaneBits __attribute__((vector_size(16)));

constexpr int64_t kQuiet = 0x0008000000000000;       // a NaN's quiet bit
constexpr int64_t kCreatedNaN = -0x0008000000000000; // 0xfff8000000000000
constexpr LaneBits kQuietLanes = {kQuiet, kQuiet};
constexpr LaneBits kCreatedLanes = {kCreatedNaN, kCreatedNaN};

inline double from_bits(int64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}
inline int64_t to_bits(double x) {
    int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The NaN result r of a op b as x86-64 gives it: a NaN operand passes on,
// the left one first, quieted; a NaN created from numbers is
// 0xfff8000000000000. (Lanes that are numbers keep their value.) Only a NaN
// result comes here, so that the check of the result below is all that a
// number costs, and it sits off the dependency chain of a sum.
inline double as_x86_64(double, double a, double b) {
    if (a != a) return from_bits(to_bits(a) | kQuiet);
    if (b != b) return from_bits(to_bits(b) | kQuiet);
    return from_bits(kCreatedNaN);
}
inline Lanes as_x86_64(Lanes r, Lanes a, Lanes b) {
    const LaneBits number_r = r == r, number_a = a == a, number_b = b == b;
    const LaneBits nan_b = (number_b & kCreatedLanes) | (~number_b & ((LaneBits)b | kQuietLanes));
    const LaneBits nan = (number_a & nan_b) | (~number_a & ((LaneBits)a | kQuietLanes));
    return (Lanes)((number_r & (LaneBits)r) | (~number_r & nan));
}
inline bool is_nan(double r) {
    return __builtin_expect(r != r, 0);
}
// Whether a lane is NaN: their NaN-passing maximum is NaN.
inline bool is_nan(Lanes r) {
    double m;
    asm("fmaxp %d0, %1.2d" : "=w"(m) : "w"(r));
    return __builtin_expect(m != m, 0);
}

// The NEON path of the pair tallies (tally_pairs_vector.h) computes on
// Lanes: NEON is part of every aarch64 processor.
#define IEEE_NEON __attribute__((always_inline))

inline double add(double a, double b) {
    double r;
    asm("fadd %d0, %d1, %d2" : "=w"(r) : "w"(a), "w"(b));
    return is_nan(r) ? as_x86_64(r, a, b) : r;
}
inline double sub(double a, double b) {
    double r;
    asm("fsub %d0, %d1, %d2" : "=w"(r) : "w"(a), "w"(b));
    return is_nan(r) ? as_x86_64(r, a, b) : r;
}
inline double mul(double a, double b) {
    double r;
    asm("fmul %d0, %d1, %d2" : "=w"(r) : "w"(a), "w"(b));
    return is_nan(r) ? as_x86_64(r, a, b) : r;
}
inline Lanes add(Lanes a, Lanes b) {
    Lanes r;
    asm("fadd %0.2d, %1.2d, %2.2d" : "=w"(r) : "w"(a), "w"(b));
    return is_nan(r) ? as_x86_64(r, a, b) : r;
}
inline Lanes mul(Lanes a, Lanes b) {
    Lanes r;
    asm("fmul %0.2d, %1.2d, %2.2d" : "=w"(r) : "w"(a), "w"(b));
    return is_nan(r) ? as_x86_64(r, a, b) : r;
}

#endif

} // namespace ieee

#endif
