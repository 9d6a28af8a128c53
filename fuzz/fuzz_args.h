// SPDX-License-Identifier: BSD-3-Clause
// Decoding plug-in arguments from fuzz input, and the checks every plug-in
// fuzz target makes.
#ifndef FUZZ_ARGS_H
#define FUZZ_ARGS_H

#include "host_inputs.h"
#include "random_inputs.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace fuzzargs {

// Values that probe conversions and comparisons: signed zeros, fractions that
// truncate, NaN and infinities, numbers beyond the 32-bit range.
inline double value(FuzzedDataProvider& d) {
    static const double palette[] = {0.0,
                                     -0.0,
                                     1.0,
                                     2.0,
                                     3.0,
                                     0.5,
                                     1.7,
                                     2.9,
                                     -1.0,
                                     -2.5,
                                     std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     1e300,
                                     -1e300,
                                     2147483647.0,
                                     2147483648.0,
                                     4294967296.0,
                                     -2147483649.0,
                                     1e-300};
    const int pick = d.ConsumeIntegralInRange<int>(0, 27);
    if (pick < 20) return palette[pick];
    return double(d.ConsumeIntegralInRange<int>(-3, 12));
}

inline emu::ArrayPtr double_matrix(FuzzedDataProvider& d, int max_dim) {
    const int rows = d.ConsumeIntegralInRange<int>(0, max_dim);
    const int cols = d.ConsumeIntegralInRange<int>(0, max_dim);
    std::vector<double> v(size_t(rows) * size_t(cols));
    for (double& x : v)
        x = value(d);
    return emu::matrix(rows, cols, v);
}

// Any array: double matrices most often, cell lists of them, and the classes
// and shapes the plug-ins must refuse.
inline emu::ArrayPtr array(FuzzedDataProvider& d, int depth = 0) {
    switch (d.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
    case 1:
    case 2:
        return double_matrix(d, 6);
    case 3:
    case 4:
    case 5: {
        if (depth > 1) return emu::zeros(0, 0);
        const int rows = d.ConsumeIntegralInRange<int>(0, 5);
        const int cols = d.ConsumeIntegralInRange<int>(0, 2);
        std::vector<emu::ArrayPtr> entries;
        for (int i = 0; i < rows * cols; ++i)
            entries.push_back(d.ConsumeBool() ? array(d, depth + 1) : nullptr);
        return emu::cell(rows, cols, std::move(entries));
    }
    case 6:
        return emu::char_array(d.ConsumeRandomLengthString(4));
    case 7:
        return d.ConsumeBool()
                   ? emu::logical(d.ConsumeIntegralInRange<int>(0, 3), 1)
                   : emu::numeric(mxINT32_CLASS, 1, d.ConsumeIntegralInRange<int>(0, 3));
    case 8:
        return d.ConsumeBool() ? emu::complex_matrix(1, d.ConsumeIntegralInRange<int>(0, 3))
                               : emu::sparse_matrix(2, 2);
    default:
        return emu::nd_double(
            {d.ConsumeIntegralInRange<int>(0, 2), 1, d.ConsumeIntegralInRange<int>(0, 3)});
    }
}

// The fuzz input as the random source of random_inputs.h's generators of
// valid inputs: each draw takes four bytes of it (0 once it is used up).
struct InputBits {
    using result_type = uint32_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return UINT32_MAX; }
    result_type operator()() { return d.ConsumeIntegral<uint32_t>(); }
    FuzzedDataProvider& d;
};

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// The host's checks: no leak, no changed input, no write outside an array,
// no misuse of a handle; and an error call always carries a message.
inline void check(const emu::CallResult& r) {
    if (!r.clean()) {
        std::string all;
        for (const auto& v : r.violations)
            all += "\n  " + v;
        fail("host checks:" + all);
    }
    if (r.failed && r.error_message.empty()) fail("an error without a message");
}

// Calls the plug-in with arbitrary arguments.
inline void call_arbitrary(const emu::Plugin& p, FuzzedDataProvider& d) {
    const int nlhs = d.ConsumeIntegralInRange<int>(0, 5);
    const int nrhs = d.ConsumeIntegralInRange<int>(0, 7);
    std::vector<emu::ArrayPtr> args;
    for (int i = 0; i < nrhs; ++i)
        args.push_back(array(d));
    std::vector<const mxArray*> raw;
    for (const auto& a : args)
        raw.push_back(a.get());
    check(p.call(nlhs, raw));
}

// A valid call's result agreed with the reference (support::against_reference
// gives `why`, "" when it did).
inline void expect_reference(const std::string& why) {
    if (!why.empty()) fail(why);
}

// One fuzz input of the plug-in `name`: a valid call, valid(d), or a call
// with arbitrary arguments, as its first byte says.
template <class Valid> int run(const char* name, const uint8_t* data, size_t size, Valid valid) {
    emu::set_memory_limit(size_t(64) << 20);
    FuzzedDataProvider d(data, size);
    if (d.ConsumeBool())
        valid(d);
    else
        call_arbitrary(support::plugin(name), d);
    return 0;
}

} // namespace fuzzargs

#endif
