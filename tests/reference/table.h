// SPDX-License-Identifier: BSD-3-Clause
// The table the plain references read and write: one matrix of values.
#ifndef REFERENCE_TABLE_H
#define REFERENCE_TABLE_H

#include <cstddef>
#include <vector>

namespace reference {

// A column-major table: rows x cols values.
struct Table {
    int rows = 0;
    int cols = 0;
    std::vector<double> v;
    double at(int r, int c) const { return v[size_t(r) + size_t(rows) * size_t(c)]; }
};

} // namespace reference

#endif
