// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_full and tally_pairs_masked through the emulated host against
// the plain reference loops, on two shapes:
//   a: G = 2,000 entries of 20 records, K = 12, n = 6, r = 4;
//   b: G = 200 entries of 20 records, K = 40, n = 20, r = 5.
// One record in ten is a NaN record. R mixes class numbers 1..r (a few with
// fractions) with zeros and negatives, none above r; F is 2 x G and
// F_switch = 1, so NaN records take factor-weighted terms.
#include "bench_support.h"
#include "plain_io.h"
#include "tally_pairs_ref.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

enum Shape { kShapeA, kShapeB };

struct TallyData {
    reference::TallyInput in;
    support::TallyArrays arrays;
    int64_t terms_full = 0;   // record-pair terms per call, NaN records included
    int64_t terms_masked = 0; // value records only
};

TallyData build(int G, int records, int K, int n, int r, unsigned seed) {
    TallyData d;
    std::mt19937 rng(seed);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    reference::TallyInput& in = d.in;
    in.K = K;
    in.G = G;
    in.n = n;
    in.r = r;
    in.F_switch = 1;
    for (int i = 0; i < K * G; ++i)
        in.W.push_back(uniform(0.0, 2.0));
    int contributing = 0;
    for (int i = 0; i < K * K; ++i) {
        const unsigned pick = rng() % 20;
        double c;
        if (pick < 3)
            c = 0; // no class
        else if (pick == 3)
            c = -1; // no class either
        else if (pick == 4)
            c = 1 + int(rng() % unsigned(r)) - 0.5; // a fraction: the column below
        else
            c = 1 + int(rng() % unsigned(r));
        in.R.push_back(c);
        contributing += c > 0;
    }
    for (int i = 0; i < 2 * G; ++i)
        in.F.push_back(uniform(0.5, 1.5));
    int nan_records = 0;
    for (int g = 0; g < G; ++g) {
        std::vector<double> e;
        for (int j = 0; j < records; ++j) {
            e.push_back(1 + int(rng() % unsigned(G)) + uniform(0.0, 0.99));
            const bool nan_record = (g * records + j) % 10 == 9;
            nan_records += nan_record;
            e.push_back(nan_record ? std::numeric_limits<double>::quiet_NaN() : uniform(-5, 5));
            for (int i = 2; i < n; ++i)
                e.push_back(uniform(-5, 5));
        }
        in.records.push_back(std::move(e));
    }
    d.arrays = support::arrays_of(in);
    d.terms_full = int64_t(G) * records * contributing;
    d.terms_masked = int64_t(G * records - nan_records) * contributing;
    return d;
}

const TallyData& data(Shape shape) {
    static TallyData a = build(2000, 20, 12, 6, 4, 11);
    static TallyData b = build(200, 20, 40, 20, 5, 12);
    return shape == kShapeA ? a : b;
}

const char* name_of(bool full) {
    return full ? "tally_pairs_full" : "tally_pairs_masked";
}

void check_once(Shape shape, bool full) {
    static bool done[2][2] = {};
    if (done[shape][full]) return;
    done[shape][full] = true;
    const TallyData& d = data(shape);
    const auto r =
        benchsupport::call_checked(benchsupport::plugin(name_of(full)), 1, d.arrays.args(full));
    benchsupport::expect_reference(
        std::string(name_of(full)) + (shape == kShapeA ? "/a" : "/b"),
        support::against_reference(r, reference::tally_pairs(d.in, full)));
}

void run_plugin(benchmark::State& state, Shape shape, bool full) {
    check_once(shape, full);
    const TallyData& d = data(shape);
    const auto& p = benchsupport::plugin(name_of(full));
    const std::vector<const mxArray*> in = d.arrays.args(full);
    emu::set_thorough_checks(false);
    for (auto _ : state) {
        auto r = p.call(1, in);
        benchmark::DoNotOptimize(r.outputs.data());
    }
    emu::set_thorough_checks(true);
    state.SetItemsProcessed(int64_t(state.iterations()) * (full ? d.terms_full : d.terms_masked));
}

// The loop nest alone, on plain memory: what the plug-in costs without the
// host.
template <class V> void run_kernel(benchmark::State& state, Shape shape) {
    const TallyData& d = data(shape);
    const reference::TallyInput& in = d.in;
    std::vector<DoubleMatrix> views;
    for (const auto& e : in.records)
        views.push_back(DoubleMatrix{const_cast<double*>(e.data()), in.n, int(e.size()) / in.n});
    const CellList records{views.data(), int32_t(views.size())};
    auto W = in.W, R = in.R, F = in.F;
    const int32_t r = int32_t(in.r);
    const int32_t rows = V::nan_records ? in.n : in.n - 1;
    const tally_pairs::Inputs inputs{DoubleMatrix{W.data(), in.K, in.G},
                                     DoubleMatrix{R.data(), in.K, in.K},
                                     DoubleMatrix{F.data(), 2, in.G},
                                     r,
                                     in.n,
                                     rows};
    for (auto _ : state) {
        std::vector<double> tally(size_t(rows) * size_t(r), 0.0);
        plain::TallyIo io(records, in.n, in.F_switch);
        const auto status = tally_pairs::run<V>(inputs, DoubleMatrix{tally.data(), rows, r}, io);
        if (status.code != tally_pairs::Status::ok) benchsupport::die("the tally failed");
        benchmark::DoNotOptimize(tally.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) *
                            (V::nan_records ? d.terms_full : d.terms_masked));
}

void run_reference(benchmark::State& state, Shape shape, bool full) {
    const TallyData& d = data(shape);
    for (auto _ : state) {
        auto r = reference::tally_pairs(d.in, full);
        benchmark::DoNotOptimize(r.v.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * (full ? d.terms_full : d.terms_masked));
}

void BM_tally_pairs_full_plugin(benchmark::State& state, Shape shape) {
    run_plugin(state, shape, true);
}
void BM_tally_pairs_full_reference(benchmark::State& state, Shape shape) {
    run_reference(state, shape, true);
}
void BM_tally_pairs_full_kernel(benchmark::State& state, Shape shape) {
    run_kernel<tally_pairs::Full>(state, shape);
}
void BM_tally_pairs_masked_kernel(benchmark::State& state, Shape shape) {
    run_kernel<tally_pairs::Masked>(state, shape);
}
void BM_tally_pairs_masked_plugin(benchmark::State& state, Shape shape) {
    run_plugin(state, shape, false);
}
void BM_tally_pairs_masked_reference(benchmark::State& state, Shape shape) {
    run_reference(state, shape, false);
}

} // namespace

BENCHMARK_CAPTURE(BM_tally_pairs_full_plugin, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_full_kernel, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_full_reference, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_full_plugin, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_full_kernel, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_full_reference, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_plugin, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_kernel, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_reference, a, kShapeA)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_plugin, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_kernel, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK_CAPTURE(BM_tally_pairs_masked_reference, b, kShapeB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
