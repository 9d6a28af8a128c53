// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked and fold_links_full through the emulated host against the
// plain reference loops: 2,000,000 links over N = 100,000 indices, v = 6.
// Ends are uniform in 1..N, values uniform doubles; one link in a thousand
// has NaN in row 3 (skipped by the masked kernel, summed by the full one).
// The counts are exactly the landing counts of the links each kernel takes.
#include "bench_support.h"
#include "fold_links_ref.h"
#include "plain_io.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr int kLinks = 2000000, kIndices = 100000, kV = 6;

struct FoldData {
    std::vector<double> links;                      // kV x kLinks
    std::vector<double> counts_full, counts_masked; // 2 x kIndices
    emu::ArrayPtr links_array, counts_full_array, counts_masked_array;
    size_t bytes = 0; // link data read, and bucket columns written, per call
};

const FoldData& data() {
    static FoldData d = [] {
        FoldData d;
        std::mt19937 rng(31);
        std::uniform_real_distribution<double> value(-1000.0, 1000.0);
        const double NaN = std::numeric_limits<double>::quiet_NaN();
        d.links.reserve(size_t(kV) * kLinks);
        d.counts_full.assign(2 * size_t(kIndices), 0.0);
        d.counts_masked.assign(2 * size_t(kIndices), 0.0);
        for (int j = 0; j < kLinks; ++j) {
            const int a = int(rng() % kIndices) + 1, b = int(rng() % kIndices) + 1;
            const bool nan_link = rng() % 1000 == 0;
            d.links.push_back(a);
            d.links.push_back(b);
            d.links.push_back(nan_link ? NaN : value(rng));
            for (int r = 3; r < kV; ++r)
                d.links.push_back(value(rng));
            d.counts_full[2 * size_t(b - 1)] += 1;
            d.counts_full[2 * size_t(a - 1) + 1] += 1;
            if (!nan_link) {
                d.counts_masked[2 * size_t(b - 1)] += 1;
                d.counts_masked[2 * size_t(a - 1) + 1] += 1;
            }
        }
        d.links_array = emu::matrix(kV, kLinks, d.links);
        d.counts_full_array = emu::matrix(2, kIndices, d.counts_full);
        d.counts_masked_array = emu::matrix(2, kIndices, d.counts_masked);
        d.bytes = size_t(kLinks) * 8 * (kV + 2 * (kV - 1));
        return d;
    }();
    return d;
}

const emu::ArrayPtr& counts_array(bool masked) {
    return masked ? data().counts_masked_array : data().counts_full_array;
}

void check_once(bool masked) {
    static bool done[2] = {false, false};
    if (done[masked]) return;
    done[masked] = true;
    const FoldData& d = data();
    const char* name = masked ? "fold_links_masked" : "fold_links_full";
    const auto r = benchsupport::call_checked(benchsupport::plugin(name), 2,
                                              {d.links_array.get(), counts_array(masked).get()});
    const auto want = reference::fold_links(
        d.links, kV, kLinks, masked ? d.counts_masked : d.counts_full, kIndices, masked);
    benchsupport::expect_reference(name, support::against_reference(r, want, kIndices));
}

void run_plugin(benchmark::State& state, bool masked) {
    check_once(masked);
    const FoldData& d = data();
    const auto& p = benchsupport::plugin(masked ? "fold_links_masked" : "fold_links_full");
    emu::set_thorough_checks(false);
    for (auto _ : state) {
        auto r = p.call(2, {d.links_array.get(), counts_array(masked).get()});
        benchmark::DoNotOptimize(r.outputs.data());
    }
    emu::set_thorough_checks(true);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

// The kernel alone, on plain memory: what the plug-in costs without the host.
template <class V> void run_kernel(benchmark::State& state, bool masked) {
    const FoldData& d = data();
    const std::vector<double>& counts = masked ? d.counts_masked : d.counts_full;
    const fold_links::Inputs in{DoubleMatrix{const_cast<double*>(d.links.data()), kV, kLinks},
                                counts.data(), kIndices, kV - 1};
    for (auto _ : state) {
        plain::FoldIo io(in);
        if (fold_links::run<V>(in, io).link >= 0) benchsupport::die("a bucket overflowed");
        benchmark::DoNotOptimize(io.out[0].entries.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

void run_reference(benchmark::State& state, bool masked) {
    const FoldData& d = data();
    const std::vector<double>& counts = masked ? d.counts_masked : d.counts_full;
    for (auto _ : state) {
        auto r = reference::fold_links(d.links, kV, kLinks, counts, kIndices, masked);
        benchmark::DoNotOptimize(r.by_second.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.bytes));
}

void BM_fold_links_masked_plugin(benchmark::State& state) {
    run_plugin(state, true);
}
void BM_fold_links_masked_reference(benchmark::State& state) {
    run_reference(state, true);
}
void BM_fold_links_masked_kernel(benchmark::State& state) {
    run_kernel<fold_links::Masked>(state, true);
}
void BM_fold_links_full_kernel(benchmark::State& state) {
    run_kernel<fold_links::Full>(state, false);
}
void BM_fold_links_full_plugin(benchmark::State& state) {
    run_plugin(state, false);
}
void BM_fold_links_full_reference(benchmark::State& state) {
    run_reference(state, false);
}

} // namespace

BENCHMARK(BM_fold_links_masked_plugin)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_fold_links_masked_kernel)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_fold_links_masked_reference)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_fold_links_full_plugin)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_fold_links_full_kernel)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_fold_links_full_reference)->Unit(benchmark::kMillisecond)->MinTime(1.0);
