// Host-free views on which the kernels compute.
#ifndef MEX_VIEWS_H
#define MEX_VIEWS_H

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

// An ordered list of matrices, entry i addressed from 0. Entries are fetched
// on demand through `fetch`, so a list backed by the host costs nothing to
// build and a list backed by plain memory serves host-free code and tests.
struct CellList {
    const void* context;
    int32_t count;
    DoubleMatrix (*fetch)(const void* context, int32_t index);

    DoubleMatrix operator[](int32_t index) const { return fetch(context, index); }
};

#endif
