// A plain reference of the link folding, written from the definition and
// independently of the plug-ins: each index's links are gathered into a
// vector (the caller's surplus columns appended as zero columns), and the
// folded entries grow column by column. Tests, fuzz targets and benchmarks
// compare the plug-ins against it. Only valid input is defined here: ends of
// taken links in 1..N, no bucket receiving more links than its count.
#ifndef FOLD_LINKS_REF_H
#define FOLD_LINKS_REF_H

#include <cmath>
#include <vector>

namespace reference {

// One folded entry: rows x cols values, column-major.
struct Folded {
    int rows = 0;
    int cols = 0;
    std::vector<double> v;
};

struct FoldResult {
    std::vector<Folded> by_second; // output 1: links by second end, folded on first ends
    std::vector<Folded> by_first;  // output 2: links by first end, folded on second ends
};

// Folds the columns of one bucket (each: partner end, then the values). A
// new column opens for a partner end above all before it; the others merge
// into the last one opened, by sum or by keeping the latest values. Columns
// before the first opening merge nowhere.
inline Folded fold_columns(const std::vector<std::vector<double>>& columns, int rows,
                           bool keep_last) {
    Folded out;
    out.rows = rows;
    double highest = 0.0;
    for (const std::vector<double>& col : columns) {
        if (col[0] > highest) {
            highest = col[0];
            out.cols++;
            out.v.push_back(col[0]);
            for (int r = 1; r < rows; ++r)
                out.v.push_back(0.0);
        }
        if (out.cols == 0) continue;
        double* last = &out.v[size_t(rows) * size_t(out.cols - 1)];
        for (int r = 1; r < rows; ++r)
            last[r] = keep_last ? col[size_t(r)] : last[r] + col[size_t(r)];
    }
    return out;
}

// links: v x n column-major (first end, second end, v - 2 values); counts:
// 2 x N column-major (per index: links by second end, links by first end).
// masked: skip links whose row 3 is NaN and keep the last values in
// by_first; otherwise take every link and sum in both.
inline FoldResult fold_links(const std::vector<double>& links, int v, int n,
                             const std::vector<double>& counts, int N, bool masked) {
    const int rows = v - 1;
    using Bucket = std::vector<std::vector<double>>;
    std::vector<Bucket> by_second(static_cast<size_t>(N)), by_first(static_cast<size_t>(N));
    for (int j = 0; j < n; ++j) {
        const double* link = &links[size_t(v) * size_t(j)];
        if (masked && std::isnan(link[2])) continue;
        const int a = int(link[0]);
        const int b = int(link[1]);
        std::vector<double> to_second{double(a)}, to_first{double(b)};
        for (int r = 2; r < v; ++r) {
            to_second.push_back(link[r]);
            to_first.push_back(link[r]);
        }
        by_second[size_t(b - 1)].push_back(to_second);
        by_first[size_t(a - 1)].push_back(to_first);
    }
    FoldResult result;
    for (int i = 0; i < N; ++i) {
        auto& s = by_second[size_t(i)];
        auto& f = by_first[size_t(i)];
        s.resize(size_t(int(counts[size_t(2 * i)])), std::vector<double>(size_t(rows), 0.0));
        f.resize(size_t(int(counts[size_t(2 * i + 1)])), std::vector<double>(size_t(rows), 0.0));
        result.by_second.push_back(fold_columns(s, rows, false));
        result.by_first.push_back(fold_columns(f, rows, masked));
    }
    return result;
}

} // namespace reference

#endif
