// SPDX-License-Identifier: BSD-3-Clause
// The vocabulary of input checks that every binding shares.
//
// A check looks at arguments through an accessor of its binding (the MEX
// entries' host calls, or Octave values in the native functions) and, when
// an input is unfit, returns a Fault: the error identifier and message that
// the binding then reports through its one error path. The checks of each
// plug-in are written once (in its kernel header) as templates over that
// accessor, so both bindings refuse the same inputs with the same words, in
// the same order.
//
// An accessor `A` offers, for its argument handle `A::Arg` (a pointer; null
// stands for a cell entry that was never set and reads as []):
//   Kind kind(Arg)                 class, complexity, storage, dimensions
//                                  (type queries only)
//   void class_name(Arg, char* out, size_t size)
//                                  the class as the host names it ("char",
//                                  "struct", "containers.Map", ...)
//   bool is_empty(Arg), is_cell(Arg)
//   Dims dims(Arg)                 [0] rows, [1] columns; refuses a dimension
//                                  of 2^31 or more itself (see narrow)
//   uint64_t numel(Arg)
//   Arg cell(Arg list, int32_t i)  entry i of a cell array, from 0
//   double scalar(Arg)             the first element, as a double
//   double* data(Arg)              the elements of a real double array
//   void poll()                    lets a check that walks a long list be
//                                  interrupted (a MEX file cannot be: there
//                                  it does nothing)
#ifndef KERNELS_CHECKS_H
#define KERNELS_CHECKS_H

#include "compiler.h"

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace checks {

// Steps of a loop between two polls for an interrupt: list entries, buckets,
// output columns. A loop whose steps cost much more or much less than those
// polls every kPollEvery / 16 (records of a tally) or kPollEvery * 16
// (links filed) steps.
inline constexpr int32_t kPollEvery = 4096;

// Polls through `io` (an accessor or an io policy) on the last of every
// kEvery steps of a loop, kEvery a power of two.
template <int32_t kEvery = kPollEvery, class Io> inline void poll_at(Io& io, int32_t step) {
    static_assert(kEvery > 0 && (kEvery & (kEvery - 1)) == 0, "a power of two");
    if ((step & (kEvery - 1)) == kEvery - 1) io.poll();
}

// What a check needs to know of an argument's type and shape.
struct Kind {
    bool present = true; // false: a cell entry that was never set
    bool is_double = false;
    bool number = false; // a numeric or logical class, real or complex
    bool complex = false;
    bool sparse = false;
    int32_t ndims = 2;
};

// A real, full (not sparse) double array.
inline bool real_double(const Kind& k) {
    return k.present && k.is_double && !k.complex && !k.sparse;
}

// A real double matrix of two dimensions, or a cell entry never set.
inline bool plain_matrix(const Kind& k) {
    return !k.present || (real_double(k) && k.ndims == 2);
}

// A list entry of a class the kernels can read: a real double array, or a
// cell entry never set. Its shape is for the caller to check: an entry
// without columns is never read and may have any further dimensions, while
// one with columns must have two.
inline bool double_entry(const Kind& k) {
    return !k.present || real_double(k);
}

// A double as a message prints it: a whole number with all its digits
// ("1000001", "2147483648", "-0"), any other value with as few significant
// digits as tell it apart from every other double ("0.99999999999999989"),
// and "NaN", "Inf" or "-Inf". Holds its text itself, so it may stand as a
// printf argument: `number(x).text`.
struct Number {
    char text[32];
};

inline Number number(double x) {
    Number out{};
    if (std::isnan(x)) {
        std::snprintf(out.text, sizeof out.text, "NaN");
    } else if (std::isinf(x)) {
        std::snprintf(out.text, sizeof out.text, "%s", x < 0 ? "-Inf" : "Inf");
    } else if (x == std::trunc(x) && std::fabs(x) < 1e21) {
        std::snprintf(out.text, sizeof out.text, "%.0f", x); // exact: at most 22 digits
    } else {
        for (int digits = 15; digits <= 17; ++digits) {
            std::snprintf(out.text, sizeof out.text, "%.*g", digits, x);
            if (std::strtod(out.text, nullptr) == x) break;
        }
    }
    return out;
}

// The word that agrees with a count in a message: `one` when `count` is 1
// ("1 row"), `many` otherwise ("0 rows", "2 rows").
inline const char* plural(long long count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

// An input fault: `id` empty for the plug-ins' fixed messages, which the MEX
// entries report without an identifier; "<plugin>:<reason>" otherwise. The
// text lives in fixed buffers, so a Fault may be alive when the host's error
// call unwinds without running destructors.
struct Fault {
    char id[96] = {};
    char message[512] = {};
    bool raised = false;

    explicit operator bool() const { return raised; }
};

// One of a plug-in's fixed messages.
inline Fault fixed(const char* message) {
    Fault f;
    f.raised = true;
    std::snprintf(f.message, sizeof f.message, "%s", message);
    return f;
}

// A refusal of the caller's input, "<plugin>:<reason>" with a formatted
// message that names inputs, entries, links and records from 1.
inline Fault reject(const char* plugin, const char* reason, const char* format, ...)
    TABLEFOLD_PRINTF(3, 4);

inline Fault reject(const char* plugin, const char* reason, const char* format, ...) {
    Fault f;
    f.raised = true;
    std::snprintf(f.id, sizeof f.id, "%s:%s", plugin, reason);
    va_list args;
    va_start(args, format);
    std::vsnprintf(f.message, sizeof f.message, format, args);
    va_end(args);
    return f;
}

// The argument-count messages every plug-in shares.
inline constexpr const char* kInputCount = "Incorrect number of input arguments";
inline constexpr const char* kOutputCount = "Incorrect number of output arguments";

// A dimension beyond the signed 32-bit range that the kernels count in.
inline constexpr const char* kDimensionTooLargeId = "mexhost:dimensionTooLarge";
inline Fault dimension_too_large(long long value) {
    Fault f;
    f.raised = true;
    std::snprintf(f.id, sizeof f.id, "%s", kDimensionTooLargeId);
    std::snprintf(f.message, sizeof f.message,
                  "An array dimension of %lld exceeds the largest size this plug-in supports "
                  "(2147483647)",
                  value);
    return f;
}

// A host's size (of any integer type) as the signed 32-bit count that the
// kernels work with. One that does not fit, or is negative (which converts
// to an unsigned value above the range), goes to `refuse`, the binding's
// error path, which does not return.
template <class Size, class Refuse> inline int32_t narrow(Size value, Refuse refuse) {
    if (static_cast<unsigned long long>(value) > INT32_MAX)
        refuse(dimension_too_large(static_cast<long long>(value)));
    return static_cast<int32_t>(value);
}

// Dimensions [0] and [1] of an argument, as signed 32-bit counts.
struct Dims {
    int32_t d[2];
    int32_t operator[](int i) const { return d[i]; }
};

// The first two of `ndims` dimensions, `dim(i)` giving dimension i in the
// host's type: every dimension must fit (see narrow), the trailing ones too.
template <class Dim, class Refuse> inline Dims first_two(int ndims, Dim dim, Refuse refuse) {
    Dims out{{0, 0}};
    for (int i = 0; i < ndims; ++i) {
        const int32_t v = narrow(dim(i), refuse);
        if (i < 2) out.d[i] = v;
    }
    return out;
}

// Refuses a list with fewer elements than the `n` entries a kernel reads:
// "<input> has 1 entry, but <why>", `input` as check_entries names the list,
// `why(text, size)` writing the rest only when the list falls short.
template <class A, class Why>
Fault check_count(A& h, typename A::Arg list, int32_t n, const char* plugin, const char* input,
                  Why why) {
    const uint64_t count = h.numel(list);
    if (count >= static_cast<uint64_t>(n)) return {};
    char rest[256];
    why(rest, sizeof rest);
    return reject(plugin, "tooFewEntries", "%s has %llu %s, but %s", input,
                  static_cast<unsigned long long>(count), plural(count, "entry", "entries"), rest);
}

// Walks entries 0..n-1 of a list for the kernel that reads them, polling on
// the way. `input` names the list in messages ("Input 3", "Input 2 (W)"),
// `content` what the columns of its entries hold ("columns", "records"). An
// entry that is neither a real double array nor never set is refused, and so
// is one with columns that is not a matrix of two dimensions; one without
// columns is never read and may have any shape. `fits(i, dims)` then looks at
// every entry with columns and returns the fault that refuses it, if any.
template <class A, class Fits>
Fault check_entries(A& h, typename A::Arg list, int32_t n, const char* plugin, const char* input,
                    const char* content, Fits fits) {
    for (int32_t i = 0; i < n; ++i) {
        poll_at(h, i);
        const typename A::Arg e = h.cell(list, i);
        const Kind kind = h.kind(e);
        if (!double_entry(kind))
            return reject(plugin, "notDouble", "%s: entry %d is not a real double matrix", input,
                          i + 1);
        if (!e) continue;
        const Dims dims = h.dims(e);
        if (dims[1] == 0) continue;
        if (kind.ndims != 2)
            return reject(plugin, "notDouble",
                          "%s: entry %d has %d dimensions, but an entry with %s must be a matrix "
                          "of two",
                          input, i + 1, kind.ndims, content);
        const Fault fault = fits(i, dims);
        if (fault) return fault;
    }
    return {};
}

} // namespace checks

// Returns the fault from the enclosing check when an expression raised one.
#define CHECK_OK(expr)                                                                             \
    do {                                                                                           \
        ::checks::Fault check_fault_ = (expr);                                                     \
        if (check_fault_) return check_fault_;                                                     \
    } while (0)

#endif
