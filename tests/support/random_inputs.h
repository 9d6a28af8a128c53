// SPDX-License-Identifier: BSD-3-Clause
// Random valid inputs of every kernel family, shared by the tests that run
// the plug-ins through the emulated host, those that run the kernels on
// plain memory and the fuzz targets' valid calls. Each draws from small
// pools with repeats, NaN, signed zeros and fractions, so that every rule of
// its kernel is exercised. `rng` is any uniform random bit generator: the
// tests' std::mt19937, or the fuzz input (fuzz_args.h).
#ifndef RANDOM_INPUTS_H
#define RANDOM_INPUTS_H

#include "align_series_ref.h"
#include "fold_links_ref.h"
#include "tally_pairs_ref.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace random_inputs {

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- align_series ------------------------------------------------------------

struct AlignCase {
    std::vector<reference::Table> in[4];
    int v = 0, e = 1, n = 0;
};

// Keys from a small set with repeats, NaN and signed zeros, ascending or not.
template <class Rng> AlignCase align(Rng& rng) {
    const double pool[] = {-0.0, 0.0, 1, 2, 2, 3, 5, 8, kNaN};
    auto table = [&](int rows, int cols) {
        reference::Table t;
        t.rows = rows;
        t.cols = cols;
        std::vector<double> keys;
        for (int c = 0; c < cols; ++c)
            keys.push_back(pool[rng() % 9]);
        if (rng() % 2)
            std::sort(keys.begin(), keys.end(), [](double a, double b) { return a < b; });
        for (int c = 0; c < cols; ++c) {
            t.v.push_back(keys[size_t(c)]);
            for (int r = 1; r < rows; ++r)
                t.v.push_back(double(rng() % 100) - 50);
        }
        return t;
    };
    AlignCase c;
    c.n = int(rng() % 4) + 1;
    c.v = int(rng() % 3);
    c.e = int(rng() % 3) + 1;
    for (int i = 0; i < c.n; ++i) {
        c.in[0].push_back(table(c.v + 1, int(rng() % 5)));
        c.in[1].push_back(table(c.v + 1, int(rng() % 5)));
        c.in[2].push_back(table(c.e, int(rng() % 6)));
        c.in[3].push_back(table(c.e, int(rng() % 6)));
    }
    return c;
}

// A random case with the reference's outputs for it.
struct AlignRound {
    AlignCase c;
    reference::AlignResult want;
};

template <class Rng> AlignRound align_with_reference(Rng& rng) {
    AlignRound r{align(rng), {}};
    r.want =
        reference::align_series(r.c.in[0], r.c.in[1], r.c.in[2], r.c.in[3], r.c.v, r.c.e, r.c.n);
    return r;
}

// ---- fold_links --------------------------------------------------------------

struct FoldCase {
    int v = 2, n = 0, N = 0;
    std::vector<double> links;  // v x n
    std::vector<double> counts; // 2 x N
};

// Ends with fractions, repeated and falling partner ends, NaN and signed
// zeros among the values, surplus counts, and counts that receive no link.
template <class Rng> FoldCase fold(Rng& rng, bool masked) {
    const double pool[] = {-0.0, 0.0, 1, -2.5, 3.25, 1e300, -1e300, 0.1, kNaN, 7};
    FoldCase c;
    c.N = int(rng() % 7);
    c.v = int(rng() % 4) + (masked ? 3 : 2);
    c.n = c.N == 0 ? 0 : int(rng() % 25);
    c.counts.assign(size_t(2 * c.N), 0.0);
    for (int j = 0; j < c.n; ++j) {
        const int a = int(rng() % unsigned(c.N)) + 1, b = int(rng() % unsigned(c.N)) + 1;
        const double fraction[] = {0.0, 0.5, 0.999};
        c.links.push_back(a + fraction[rng() % 3]);
        c.links.push_back(b + fraction[rng() % 3]);
        for (int r = 2; r < c.v; ++r)
            c.links.push_back(pool[rng() % 10]);
        const bool taken = !masked || !std::isnan(c.links[c.links.size() - size_t(c.v - 2)]);
        // The caller's counts may include links the masked variant skips.
        if (taken || rng() % 2) {
            c.counts[size_t(2 * (b - 1))] += 1;
            c.counts[size_t(2 * (a - 1) + 1)] += 1;
        }
    }
    for (double& x : c.counts)
        x += double(rng() % 4 == 0 ? rng() % 3 : 0);
    return c;
}

// ---- tally_pairs -------------------------------------------------------------

// Class numbers with fractions, zero, negatives, NaN and numbers above r;
// NaN records; every kind of F_switch. A wide table has up to 20 weights per
// entry, 9 classes and 45 rows per record; a wide and tall one, one time in
// eight, from 130 to 329 rows (enough for a tile to take some of them).
// An unplanned wide table holds more than a plan of contributing pairs
// takes: K from 70 to 74 (over 4096 contributing pairs), or r from 1025 to
// 1600 with class numbers spread up to 1700.
template <class Rng>
reference::TallyInput tally(Rng& rng, bool wide = false, bool tall = false,
                            bool unplanned = false) {
    const double classes[] = {0, -1, kNaN, 0.5, 1, 1.7, 2, 2, 3, 3.5, 1, 2};
    const double wide_classes[] = {0, -1, 0.5, 1, 1.7, 2, 3, 3.5, 4, 5, 6, 7, 8, 9, 9.5};
    const double switches[] = {0, -0.0, 1, kNaN, 2};
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    reference::TallyInput in;
    in.K = int(rng() % (wide ? 21 : 4));
    const bool many_classes = unplanned && rng() % 2 == 0;
    if (unplanned && !many_classes) in.K = 70 + int(rng() % 5);
    in.G = int(rng() % 4);
    // One draw per statement: the operands of an operator are evaluated in
    // any order, which differs between compilers and flags, and every build
    // must draw the same inputs (same_bits_test hashes their results).
    const bool long_records = wide && rng() % 2 == 0;
    in.n = 2 + int(rng() % (long_records ? 44 : 7));
    if (wide && tall && rng() % (unplanned ? 3 : 8) == 0) in.n = 130 + int(rng() % 200);
    in.r = many_classes ? uniform(1025, 1600) : uniform(unplanned ? 1 : 0, wide ? 9.5 : 4.5);
    in.F_switch = switches[rng() % 5];
    // NaNs of both signs and zeros of both signs, in the weights and the
    // values of wide tables: which NaN a sum passes on is fixed too.
    const double special[] = {kNaN, -kNaN, -0.0, 0.0, 1.0 / 0.0, -1.0 / 0.0};
    for (int i = 0; i < in.K * in.G; ++i)
        in.W.push_back(wide && !unplanned && rng() % 8 == 0 ? special[rng() % 2] : uniform(-3, 3));
    for (int i = 0; i < in.K * in.K; ++i)
        in.R.push_back(many_classes ? double(rng() % 1700)
                       : wide       ? wide_classes[rng() % 15]
                                    : classes[rng() % 12]);
    // Most wide tables keep their classes within r, so that they reach the
    // planned paths; the rest stop at a class number above r.
    if (wide && rng() % 4 != 0)
        for (double& c : in.R)
            if (c > in.r) c = in.r >= 1 ? 1 + int(rng() % unsigned(in.r)) : 0;
    for (int i = 0; i < 2 * in.G; ++i)
        in.F.push_back(uniform(-2, 2));
    for (int g = 0; g < std::max(in.G, 1); ++g) {
        std::vector<double> e;
        for (int j = in.G == 0 ? 0 : int(rng() % 5); j > 0; --j) {
            const int partner = 1 + int(rng() % unsigned(in.G));
            e.push_back(partner + uniform(0, 0.99));
            e.push_back(rng() % 4 == 0 ? kNaN : uniform(-10, 10));
            for (int i = 2; i < in.n; ++i)
                e.push_back(wide && rng() % 8 == 0 ? special[rng() % 6] : uniform(-10, 10));
        }
        in.records.push_back(e);
    }
    return in;
}

} // namespace random_inputs

#endif
