// SPDX-License-Identifier: BSD-3-Clause
// A plain reference of the pair tallies, written from the definition and
// independently of the plug-ins: straightforward loops over std::vector data.
// Tests, fuzz targets and benchmarks compare the plug-ins against it.
#ifndef TALLY_PAIRS_REF_H
#define TALLY_PAIRS_REF_H

#include <cmath>
#include <cstddef>
#include <vector>

namespace reference {

// The inputs of one tally call, all column-major.
struct TallyInput {
    int K = 0;                                // rows of W
    int G = 0;                                // columns of W: the entries walked
    std::vector<double> W;                    // K x G
    int n = 2;                                // rows of every record
    std::vector<std::vector<double>> records; // entry g: n x m values (m = size / n)
    std::vector<double> R;                    // K x K class numbers
    double r = 0;                             // number of classes, as given
    std::vector<double> F;                    // 2 x G factors (full only)
    double F_switch = 0;                      // full only
};

struct TallyResult {
    bool misspecified = false; // a reached class number exceeded r
    int rows = 0;
    int cols = 0;
    std::vector<double> v; // rows x cols, column-major (as far as it got)
};

// full: NaN records subtract from an extra last row; otherwise they are skipped.
inline TallyResult tally_pairs(const TallyInput& in, bool full) {
    TallyResult out;
    const int r = int(in.r); // truncation toward zero
    out.rows = full ? in.n : in.n - 1;
    out.cols = r;
    out.v.assign(size_t(out.rows) * size_t(r), 0.0);
    auto W = [&](int k, int g) { return in.W[size_t(k) + size_t(in.K) * size_t(g)]; };
    auto F = [&](int row, int g) { return in.F[size_t(row) + 2 * size_t(g)]; };
    auto T = [&](int row, int col) -> double& {
        return out.v[size_t(row) + size_t(out.rows) * size_t(col)];
    };
    for (int g = 0; g < in.G; ++g) {
        const std::vector<double>& E = in.records[size_t(g)];
        const int m = int(E.size()) / in.n;
        for (int j = 0; j < m; ++j) {
            auto e = [&](int i) { return E[size_t(i) + size_t(in.n) * size_t(j)]; };
            const bool nan_record = std::isnan(e(1));
            if (nan_record && !full) continue;
            const int d = int(e(0)) - 1;
            for (int k1 = 0; k1 < in.K; ++k1) {
                for (int k2 = 0; k2 < in.K; ++k2) {
                    const double c = in.R[size_t(k1) + size_t(in.K) * size_t(k2)];
                    if (!(c > 0)) continue;
                    if (c > double(r)) {
                        out.misspecified = true;
                        return out;
                    }
                    // Any class number between 0 and 1 selects column 0.
                    const int col = c < 1 ? 0 : int(std::trunc(c - 1));
                    if (!nan_record) {
                        for (int i = 0; i + 1 < in.n; ++i) {
                            const double weight = W(k1, g) * W(k2, d);
                            T(i, col) = T(i, col) + weight * e(i + 1);
                        }
                    } else {
                        double p;
                        if (in.F_switch != 0)
                            p = ((F(1, g) * W(k1, g)) * F(0, d)) * W(k2, d);
                        else
                            p = W(k1, g) * W(k2, d);
                        T(in.n - 1, col) = T(in.n - 1, col) - p;
                    }
                }
            }
        }
    }
    return out;
}

inline TallyResult tally_pairs_full(const TallyInput& in) {
    return tally_pairs(in, true);
}
inline TallyResult tally_pairs_masked(const TallyInput& in) {
    return tally_pairs(in, false);
}

} // namespace reference

#endif
