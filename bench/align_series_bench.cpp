// SPDX-License-Identifier: BSD-3-Clause
// align_series through the emulated host against the plain reference loops:
// 1,000 entries, 2,000 keys in each of inputs 3 and 4 (half of them shared),
// V = 20, E = 10.
#include "align_series_ref.h"
#include "bench_support.h"
#include "plain_io.h"

#include <random>

namespace {

constexpr int kEntries = 1000, kKeys = 2000, kV = 20, kE = 10;

struct AlignData {
    std::vector<reference::Table> t1, t2, t3, t4;
    emu::ArrayPtr l1, l2, l3, l4;
    size_t bytes = 0; // input and output data touched per call
};

reference::Table table(const std::vector<double>& keys, int rows, std::mt19937& rng) {
    reference::Table t;
    t.rows = rows;
    t.cols = int(keys.size());
    for (double k : keys) {
        t.v.push_back(k);
        for (int r = 1; r < rows; ++r)
            t.v.push_back(double(rng() % 1000) / 8);
    }
    return t;
}

const AlignData& data() {
    static AlignData d = [] {
        AlignData d;
        std::mt19937 rng(7);
        for (int i = 0; i < kEntries; ++i) {
            // Keys 0, 1, 2, ... dealt out so that half of each row is shared.
            std::vector<double> k3, k4, k1;
            for (int k = 0; k < 3 * kKeys / 2; ++k) {
                const int which = k % 3; // 0: both, 1: input 3 only, 2: input 4 only
                if (which != 2) k3.push_back(k);
                if (which != 1) k4.push_back(k);
                if (k % 2 == 0) k1.push_back(k);
            }
            d.t1.push_back(table(k1, kV + 1, rng));
            d.t2.push_back(table(k3, kV + 1, rng));
            d.t3.push_back(table(k3, kE, rng));
            d.t4.push_back(table(k4, kE, rng));
        }
        d.l1 = support::list_of(d.t1);
        d.l2 = support::list_of(d.t2);
        d.l3 = support::list_of(d.t3);
        d.l4 = support::list_of(d.t4);
        const size_t merged = 3 * kKeys / 2;
        d.bytes = size_t(kEntries) * 8 *
                  (d.t1[0].v.size() + d.t2[0].v.size() + d.t3[0].v.size() + d.t4[0].v.size() +
                   merged * 2 * (kV + 1 + kE));
        return d;
    }();
    return d;
}

void check_once() {
    static bool done = false;
    if (done) return;
    done = true;
    const AlignData& d = data();
    const auto r = benchsupport::call_checked(benchsupport::plugin("align_series"), 4,
                                              {d.l1.get(), d.l2.get(), d.l3.get(), d.l4.get()});
    const auto want = reference::align_series(d.t1, d.t2, d.t3, d.t4, kV, kE, kEntries);
    benchsupport::expect_reference("align_series", support::against_reference(r, want, kEntries));
}

void BM_align_series_plugin(benchmark::State& state) {
    check_once();
    const AlignData& d = data();
    const auto& p = benchsupport::plugin("align_series");
    emu::set_thorough_checks(false);
    for (auto _ : state) {
        auto r = p.call(4, {d.l1.get(), d.l2.get(), d.l3.get(), d.l4.get()});
        benchmark::DoNotOptimize(r.outputs.data());
    }
    emu::set_thorough_checks(true);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

// The kernel alone, on plain memory: what the plug-in costs without the host.
void BM_align_series_kernel(benchmark::State& state) {
    const AlignData& d = data();
    std::vector<DoubleMatrix> views[4];
    const std::vector<reference::Table>* tables[4] = {&d.t1, &d.t2, &d.t3, &d.t4};
    for (int k = 0; k < 4; ++k)
        for (const auto& t : *tables[k])
            views[k].push_back(DoubleMatrix{const_cast<double*>(t.v.data()), t.rows, t.cols});
    const CellList lists[4] = {{views[0].data(), kEntries},
                               {views[1].data(), kEntries},
                               {views[2].data(), kEntries},
                               {views[3].data(), kEntries}};
    const align_series::Shape shape{kV, kE, kEntries};
    for (auto _ : state) {
        plain::AlignIo io(lists, shape);
        align_series::run(shape, io);
        benchmark::DoNotOptimize(io.out[0].entries.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

void BM_align_series_reference(benchmark::State& state) {
    const AlignData& d = data();
    for (auto _ : state) {
        auto r = reference::align_series(d.t1, d.t2, d.t3, d.t4, kV, kE, kEntries);
        benchmark::DoNotOptimize(r.out[0].data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

} // namespace

BENCHMARK(BM_align_series_plugin)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_align_series_kernel)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_align_series_reference)->Unit(benchmark::kMillisecond)->MinTime(1.0);
