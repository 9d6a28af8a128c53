// SPDX-License-Identifier: BSD-3-Clause
// A plain reference of the link folding, written from the definition and
// independently of the plug-ins. Tests, fuzz targets and benchmarks
// compare the plug-ins against it. Only valid input is defined here: ends of
// taken links in 1..N, no bucket receiving more links than its count.
#ifndef FOLD_LINKS_REF_H
#define FOLD_LINKS_REF_H

#include "table.h"

#include <cmath>
#include <vector>

namespace reference {

// Each output a list of folded entries.
struct FoldResult {
    std::vector<Table> by_second; // output 1: links by second end, folded on first ends
    std::vector<Table> by_first;  // output 2: links by first end, folded on second ends
};

// links: v x n column-major (first end, second end, v - 2 values); counts:
// 2 x N column-major (per index: links by second end, links by first end).
// masked: skip links whose row 3 is NaN and keep the last values in
// by_first; otherwise take every link and sum in both.
//
// The straightforward loops over flat arrays: every bucket list is one
// zero-filled block with the buckets side by side (offsets from the counts),
// filled in link order through a counter per bucket, then folded bucket by
// bucket with a counting pass and a filling pass.
inline FoldResult fold_links(const std::vector<double>& links, int v, int n,
                             const std::vector<double>& counts, int N, bool masked) {
    const size_t rows = size_t(v - 1);
    std::vector<size_t> start_second(size_t(N) + 1, 0), start_first(size_t(N) + 1, 0);
    for (int i = 0; i < N; ++i) {
        start_second[size_t(i) + 1] = start_second[size_t(i)] + size_t(int(counts[size_t(2 * i)]));
        start_first[size_t(i) + 1] =
            start_first[size_t(i)] + size_t(int(counts[size_t(2 * i + 1)]));
    }
    std::vector<double> second(start_second[size_t(N)] * rows, 0.0);
    std::vector<double> first(start_first[size_t(N)] * rows, 0.0);
    std::vector<size_t> filled_second(size_t(N), 0), filled_first(size_t(N), 0);
    for (int j = 0; j < n; ++j) {
        const double* link = &links[size_t(v) * size_t(j)];
        if (masked && std::isnan(link[2])) continue;
        const size_t a = size_t(int(link[0]) - 1);
        const size_t b = size_t(int(link[1]) - 1);
        double* to_second = &second[(start_second[b] + filled_second[b]++) * rows];
        double* to_first = &first[(start_first[a] + filled_first[a]++) * rows];
        to_second[0] = double(a + 1);
        to_first[0] = double(b + 1);
        for (size_t r = 1; r < rows; ++r) {
            to_second[r] = link[r + 1];
            to_first[r] = link[r + 1];
        }
    }
    auto fold = [rows](const double* bucket, size_t m, bool keep_last) {
        Table out;
        out.rows = int(rows);
        double highest = 0.0;
        for (size_t c = 0; c < m; ++c)
            if (bucket[c * rows] > highest) {
                highest = bucket[c * rows];
                out.cols++;
            }
        out.v.assign(size_t(out.cols) * rows, 0.0);
        highest = 0.0;
        double* open = nullptr;
        size_t opened = 0;
        for (size_t c = 0; c < m; ++c) {
            const double* col = bucket + c * rows;
            if (col[0] > highest) {
                highest = col[0];
                open = &out.v[opened++ * rows];
                open[0] = col[0];
            }
            if (!open) continue; // nothing opened yet: no link reached this bucket
            for (size_t r = 1; r < rows; ++r)
                open[r] = keep_last ? col[r] : open[r] + col[r];
        }
        return out;
    };
    FoldResult result;
    for (int i = 0; i < N; ++i) {
        const size_t s0 = start_second[size_t(i)], f0 = start_first[size_t(i)];
        result.by_second.push_back(
            fold(second.data() + s0 * rows, start_second[size_t(i) + 1] - s0, false));
        result.by_first.push_back(
            fold(first.data() + f0 * rows, start_first[size_t(i) + 1] - f0, masked));
    }
    return result;
}

} // namespace reference

#endif
