// SPDX-License-Identifier: BSD-3-Clause
// Shared pieces of the plug-in benchmarks: calling a plug-in through the
// emulated host, and the one-time check that it agrees bit for bit with the
// reference it is measured against.
#ifndef BENCH_SUPPORT_H
#define BENCH_SUPPORT_H

#include "host_inputs.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace benchsupport {

using support::plugin;

[[noreturn]] inline void die(const std::string& what) {
    std::fprintf(stderr, "benchmark check failed: %s\n", what.c_str());
    std::exit(2);
}

inline emu::CallResult call_checked(const emu::Plugin& p, int nlhs,
                                    const std::vector<const mxArray*>& in) {
    emu::CallResult r = p.call(nlhs, in);
    if (!r.clean() || r.failed)
        die("plug-in call failed: " + r.error_message +
            (r.violations.empty() ? "" : " / " + r.violations[0]));
    return r;
}

// The result agreed with the reference (support::against_reference gives
// `why`, "" when it did).
inline void expect_reference(const std::string& where, const std::string& why) {
    if (!why.empty()) die(where + ": " + why);
}

} // namespace benchsupport

#endif
