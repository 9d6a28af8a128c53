// SPDX-License-Identifier: BSD-3-Clause
// align_series on arbitrary arguments, and on valid lists against the reference.
#include "align_series_ref.h"
#include "fuzz_args.h"

namespace {

reference::Table table(FuzzedDataProvider& d, int rows) {
    reference::Table t;
    t.rows = rows;
    t.cols = d.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < rows * t.cols; ++i)
        t.v.push_back(fuzzargs::value(d));
    return t;
}

void valid_call(FuzzedDataProvider& d) {
    const int n = d.ConsumeIntegralInRange<int>(1, 4);
    const int v = d.ConsumeIntegralInRange<int>(0, 3);
    const int e = d.ConsumeIntegralInRange<int>(1, 4);
    std::vector<reference::Table> t1, t2, t3, t4;
    for (int i = 0; i < n; ++i) {
        t1.push_back(table(d, v + 1));
        t2.push_back(table(d, v + 1));
        t3.push_back(table(d, e));
        t4.push_back(table(d, e));
    }
    using support::list_of;
    auto l1 = list_of(t1), l2 = list_of(t2), l3 = list_of(t3), l4 = list_of(t4);
    const auto r =
        support::plugin("align_series").call(4, {l1.get(), l2.get(), l3.get(), l4.get()});
    fuzzargs::check(r);
    if (r.failed) fuzzargs::fail("valid input refused: " + r.error_message);
    fuzzargs::expect_reference(
        support::against_reference(r, reference::align_series(t1, t2, t3, t4, v, e, n), n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    emu::set_memory_limit(size_t(64) << 20);
    FuzzedDataProvider d(data, size);
    if (d.ConsumeBool())
        valid_call(d);
    else
        fuzzargs::call_arbitrary(support::plugin("align_series"), d);
    return 0;
}
