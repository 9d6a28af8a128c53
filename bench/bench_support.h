// Shared pieces of the plug-in benchmarks: calling a plug-in through the
// emulated host, and the one-time check that it agrees bit for bit with the
// reference it is measured against.
#ifndef BENCH_SUPPORT_H
#define BENCH_SUPPORT_H

#include "emulated_host.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace benchsupport {

inline const emu::Plugin& plugin(const std::string& name) {
    static std::map<std::string, std::unique_ptr<emu::Plugin>> loaded;
    auto& p = loaded[name];
    if (!p) p = std::make_unique<emu::Plugin>(emu::plugin_path(name));
    return *p;
}

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

// Bitwise comparison of a result with reference values.
inline void expect_same(const mxArray* got, int rows, int cols, const std::vector<double>& want,
                        const std::string& where) {
    const emu::Matrix m = emu::read(got);
    if (m.rows != rows || m.cols != cols) die(where + ": shape differs from the reference");
    for (size_t i = 0; i < want.size(); ++i)
        if (!emu::same_double(m.values[i], want[i]))
            die(where + ": element " + std::to_string(i) + " differs from the reference");
}

} // namespace benchsupport

#endif
