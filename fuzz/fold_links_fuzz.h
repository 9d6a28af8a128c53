// SPDX-License-Identifier: BSD-3-Clause
// The fold_links fuzz targets: arbitrary arguments, and valid link tables
// compared with the reference; the same tables folded in place (the native
// functions' kernel) give the same outputs, or stop at the same link when a
// count is one short.
#ifndef FOLD_LINKS_FUZZ_H
#define FOLD_LINKS_FUZZ_H

#include "fold_links_in_place.h"
#include "fold_links_ref.h"
#include "fuzz_args.h"
#include "plain_io.h"

namespace foldfuzz {

// Valid link tables (random_inputs.h), some of whose counts the fuzz input
// raises by fractions, which truncation drops.
inline void valid_call(const char* name, bool masked, FuzzedDataProvider& d) {
    fuzzargs::InputBits bits{d};
    random_inputs::FoldCase drawn = random_inputs::fold(bits, masked);
    const int N = drawn.N, v = drawn.v, n = drawn.n;
    std::vector<double>& links = drawn.links;
    std::vector<double>& counts = drawn.counts;
    for (double& x : counts)
        x += d.ConsumeBool() ? 0.5 : 0.0;
    // A count one short makes a bucket overflow, unless it had room to spare.
    const bool short_count = N > 0 && d.ConsumeBool();
    if (short_count) {
        double& c = counts[d.ConsumeIntegralInRange<size_t>(0, counts.size() - 1)];
        if (c >= 1) c -= 1;
    }
    const auto r = support::plugin(name).call(2, support::arrays_of(links, v, n, counts, N).args());
    fuzzargs::check(r);

    const fold_links::Inputs in{DoubleMatrix{links.data(), v, n}, counts.data(), N, v - 1};
    plain::FoldIo io(in);
    const fold_links::Overflow stop = masked ? fold_links::fold_in_place<fold_links::Masked>(in, io)
                                             : fold_links::fold_in_place<fold_links::Full>(in, io);
    if (r.failed) {
        if (!short_count || stop.link < 0)
            fuzzargs::fail(std::string("valid input refused: ") + r.error_message);
        const checks::Fault f = masked ? fold_links::overflow_fault<fold_links::Masked>(stop)
                                       : fold_links::overflow_fault<fold_links::Full>(stop);
        if (r.error_id != f.id || r.error_message != f.message)
            fuzzargs::fail("in place: " + std::string(f.message) + "; plug-in: " + r.error_message);
        return;
    }
    if (stop.link >= 0) fuzzargs::fail("in place: a bucket overflowed that the plug-in filled");
    const auto want = reference::fold_links(links, v, n, counts, N, masked);
    for (int i = 0; i < N; ++i) {
        const auto& s = want.by_second[size_t(i)];
        const auto& f = want.by_first[size_t(i)];
        for (int k = 0; k < 2; ++k) {
            const DoubleMatrix& o = io.out[k].entries[size_t(i)];
            const reference::Table& w = k == 0 ? s : f;
            const std::string why = support::difference(
                support::Values{o.rows, o.cols, std::vector<double>(o.data, o.data + o.elements())},
                support::Values{w.rows, w.cols, w.v});
            if (!why.empty())
                fuzzargs::fail("in place, output " + std::to_string(k + 1) + ", entry " +
                               std::to_string(i + 1) + ": " + why);
        }
    }
    fuzzargs::expect_reference(support::against_reference(r, want, N));
}

inline int run(const char* name, bool masked, const uint8_t* data, size_t size) {
    return fuzzargs::run(name, data, size,
                         [&](FuzzedDataProvider& d) { valid_call(name, masked, d); });
}

} // namespace foldfuzz

#endif
