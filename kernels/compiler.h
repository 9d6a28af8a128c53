// SPDX-License-Identifier: BSD-3-Clause
// The one guard of compiler extensions. Everything the toolbox takes from
// GCC or Clang beyond standard C++ is named here: inline assembly and vector
// types (ieee.h, which pins the order of every IEEE operation with them),
// run-time processor tests and per-function target attributes (the vector
// paths of the pair tallies), and the attributes and builtins below. Another
// compiler stops here with a clear message rather than build a kernel whose
// additions and multiplications it might reorder, which would change which
// NaN a result passes on.
#ifndef KERNELS_COMPILER_H
#define KERNELS_COMPILER_H

#if !defined(__GNUC__)
#error                                                                                             \
    "tablefold builds with GCC or Clang only: its kernels pin the operand order of every floating-point operation with GNU inline assembly, and no other compiler offers a way to do so here."
#endif

// The processors whose instructions ieee.h knows. Elsewhere the order of an
// addition's operands could not be pinned: the build stops.
#if defined(__x86_64__) && defined(__SSE2__)
#define TABLEFOLD_X86_64 1
#elif defined(__aarch64__)
#define TABLEFOLD_AARCH64 1
#else
#error                                                                                             \
    "tablefold builds for x86-64 and aarch64 only: kernels/ieee.h pins the operand order of additions and multiplications with their instructions, and on this processor plain a + b could be compiled either way round, changing which NaN a result passes on."
#endif

#define TABLEFOLD_NOINLINE __attribute__((noinline))
#define TABLEFOLD_PREFETCH(p) __builtin_prefetch(p)
// Unrolls the loop that follows over a vector path's registers, so that
// its sums stay in registers (their checks on aarch64 keep the compiler
// from doing so of its own accord).
#define TABLEFOLD_UNROLL _Pragma("GCC unroll 8")
#define TABLEFOLD_PRINTF(format_at, args_at) __attribute__((format(printf, format_at, args_at)))

// A symbol a shared library or plug-in exports: the PE export table on
// Windows, default visibility (against -fvisibility=hidden) elsewhere.
#if defined(_WIN32)
#define TABLEFOLD_EXPORT __declspec(dllexport)
#else
#define TABLEFOLD_EXPORT __attribute__((visibility("default")))
#endif

#endif
