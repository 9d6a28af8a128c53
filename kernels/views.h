// SPDX-License-Identifier: BSD-3-Clause
// Host-free views on which the kernels compute.
#ifndef KERNELS_VIEWS_H
#define KERNELS_VIEWS_H

#include <cstdint>

// A column-major matrix of doubles: element (r, c) lies at data[r + rows * c].
// The view does not own its data.
struct DoubleMatrix {
    double* data;
    int32_t rows;
    int32_t cols;

    double& at(int32_t r, int32_t c) const { return data[r + static_cast<int64_t>(rows) * c]; }
    double* column(int32_t c) const { return data + static_cast<int64_t>(rows) * c; }
    int64_t elements() const { return static_cast<int64_t>(rows) * cols; }
};

#endif
