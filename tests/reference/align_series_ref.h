// SPDX-License-Identifier: BSD-3-Clause
// A plain reference of the series alignment, written from the definition
// and independently of the plug-in: it builds the merged key sequence as a
// vector and fills each output with its own cursor. Tests, fuzz targets and
// benchmarks compare the plug-in against it.
#ifndef ALIGN_SERIES_REF_H
#define ALIGN_SERIES_REF_H

#include "table.h"

#include <cmath>
#include <vector>

namespace reference {

struct AlignResult {
    std::vector<Table> out[4];
};

inline std::vector<double> merged_keys(const Table& a, const Table& b) {
    std::vector<double> keys;
    int k = 0, j = 0;
    while (k < a.cols && j < b.cols) {
        const double x = a.at(0, k), y = b.at(0, j);
        if (x > y) {
            keys.push_back(y);
            j++;
        } else if (y > x) {
            keys.push_back(x);
            k++;
        } else {
            k++;
        }
    }
    while (k < a.cols)
        keys.push_back(a.at(0, k++));
    while (j < b.cols)
        keys.push_back(b.at(0, j++));
    return keys;
}

inline Table laid_out(const std::vector<double>& keys, const Table& in, int rows, double missing) {
    Table t;
    t.rows = rows;
    t.cols = int(keys.size());
    t.v.assign(size_t(rows) * keys.size(), 0.0);
    int cursor = 0;
    for (size_t w = 0; w < keys.size(); ++w) {
        t.v[size_t(rows) * w] = keys[w];
        const bool match = cursor < in.cols && keys[w] == in.at(0, cursor);
        for (int r = 1; r < rows; ++r)
            t.v[size_t(r) + size_t(rows) * w] = match ? in.at(r, cursor) : missing;
        if (match) cursor++;
    }
    return t;
}

// in1..in4 hold the entries of the four lists; v is the value-row count of
// inputs 1 and 2, e the row count of inputs 3 and 4, n the entries processed.
inline AlignResult align_series(const std::vector<Table>& in1, const std::vector<Table>& in2,
                                const std::vector<Table>& in3, const std::vector<Table>& in4, int v,
                                int e, int n) {
    AlignResult r;
    for (int i = 0; i < n; ++i) {
        const std::vector<double> keys = merged_keys(in3[size_t(i)], in4[size_t(i)]);
        const Table none;
        r.out[0].push_back(laid_out(keys, v > 0 ? in1[size_t(i)] : none, v + 1, NAN));
        r.out[1].push_back(laid_out(keys, v > 0 ? in2[size_t(i)] : none, v + 1, NAN));
        r.out[2].push_back(laid_out(keys, in3[size_t(i)], e, 0.0));
        r.out[3].push_back(laid_out(keys, in4[size_t(i)], e, 0.0));
    }
    return r;
}

} // namespace reference

#endif
