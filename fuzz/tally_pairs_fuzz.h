// SPDX-License-Identifier: BSD-3-Clause
// The tally_pairs fuzz targets: arbitrary arguments, and valid record lists
// compared with the reference (the tally, or the misspecification error).
#ifndef TALLY_PAIRS_FUZZ_H
#define TALLY_PAIRS_FUZZ_H

#include "fuzz_args.h"
#include "tally_pairs_ref.h"

namespace tallyfuzz {

inline double pick(FuzzedDataProvider& d, std::initializer_list<double> choices) {
    const int i = d.ConsumeIntegralInRange<int>(0, int(choices.size()) - 1);
    return *(choices.begin() + i);
}

inline void valid_call(const char* name, bool full, FuzzedDataProvider& d) {
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    reference::TallyInput in;
    // Each call takes one of the tally's code paths (a path the processor
    // lacks runs as the widest it has); records of up to 9 values reach both
    // vector layouts.
    setenv("TABLEFOLD_ISA", d.PickValueInArray({"generic", "avx2", "avx512"}), 1);
    in.K = d.ConsumeIntegralInRange<int>(0, 5);
    in.G = d.ConsumeIntegralInRange<int>(1, 4);
    in.n = d.ConsumeIntegralInRange<int>(2, 10);
    for (int i = 0; i < in.K * in.G; ++i)
        in.W.push_back(fuzzargs::value(d));
    for (int g = 0; g < in.G; ++g) {
        const int m = d.ConsumeIntegralInRange<int>(0, 3);
        std::vector<double> e;
        for (int j = 0; j < m; ++j) {
            const bool nan_record = d.ConsumeIntegralInRange<int>(0, 4) == 0;
            // A NaN record of the masked kernel may name anything as partner.
            e.push_back(nan_record && !full
                            ? fuzzargs::value(d)
                            : d.ConsumeIntegralInRange<int>(1, in.G) + pick(d, {0.0, 0.5, 0.99}));
            e.push_back(nan_record ? NaN : fuzzargs::value(d));
            for (int i = 2; i < in.n; ++i)
                e.push_back(fuzzargs::value(d));
        }
        in.records.push_back(e);
    }
    for (int i = 0; i < in.K * in.K; ++i)
        in.R.push_back(pick(d, {0, -1, NaN, 1e-300, 0.5, 1, 1.7, 2, 2.5, 3}));
    in.r = pick(d, {0, 1, 2, 2.9, 3, -0.5});
    for (int i = 0; i < 2 * in.G; ++i)
        in.F.push_back(fuzzargs::value(d));
    in.F_switch = pick(d, {0.0, -0.0, 1.0, NaN});

    const support::TallyArrays a = support::arrays_of(in);
    const auto got = support::plugin(name).call(1, a.args(full));
    fuzzargs::check(got);
    fuzzargs::expect_reference(support::against_reference(got, reference::tally_pairs(in, full)));
}

inline int run(const char* name, bool full, const uint8_t* data, size_t size) {
    emu::set_memory_limit(size_t(64) << 20);
    FuzzedDataProvider d(data, size);
    if (d.ConsumeBool())
        valid_call(name, full, d);
    else
        fuzzargs::call_arbitrary(support::plugin(name), d);
    return 0;
}

} // namespace tallyfuzz

#endif
