// SPDX-License-Identifier: BSD-3-Clause
// The MEX entry of align_series: the kernel's lists and outputs as host
// arrays.
//
// Host calls, in the order MATLAB users' code has always seen them (keep
// every call and its place; they are the plug-in's compatibility contract):
//   1. the argument counts: inputs first, then outputs;
//   2. V: mxIsEmpty on input 1; unless empty, mxGetCell_700(input 1, 0) and
//      mxGetDimensions_700 of that entry; an empty input 1 is never touched
//      again, nor is input 2;
//   3. E: mxIsEmpty on input 3 (empty: the fixed message), then
//      mxGetCell_700(input 3, 0) and its mxGetDimensions_700;
//   4. N: mxGetDimensions_700 of input 3, rows;
//   5. four mxCreateCellMatrix_700(N, 1), each stored in its output slot at
//      once, in slot order;
//   6. per entry i: mxGetCell_700 and mxGetPr of entry i of input 3, then of
//      input 4, then their mxGetDimensions_700 (columns); the counting pass;
//      four mxCreateDoubleMatrix_700, each stored with mxSetCell_700 before
//      the next is created; mxGetCell_700 and mxGetPr of each, in output
//      order; only when M > 0 and V > 0, mxGetNaN and then mxGetCell_700 and
//      mxGetPr of entry i of inputs 1 and 2; then the writing pass and fill.
// The input checks add only type queries and reads of entries and sizes
// before step 5; every refusal comes before anything is created.
#ifndef MEX_ALIGN_SERIES_ENTRY_H
#define MEX_ALIGN_SERIES_ENTRY_H

#include "align_series.h"
#include "mex_host.h"

namespace align_series {

// The kernel's lists as host arrays (see the order above).
class MexIo {
  public:
    MexIo(const mxArray* const* in, mxArray* const* out, int32_t value_rows)
        : in_(in), out_(out), value_rows_(value_rows) {}

    void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b) const {
        double* data3;
        double* data4;
        const mxArray* e3 = entry_data(in_[2], i, data3);
        const mxArray* e4 = entry_data(in_[3], i, data4);
        a = DoubleMatrix{data3, a.rows, columns(e3)};
        b = DoubleMatrix{data4, b.rows, columns(e4)};
    }
    void create(int32_t i, int32_t m, const int32_t (&rows)[4], DoubleMatrix (&out)[4]) const {
        for (int k = 0; k < 4; ++k)
            mxSetCell_700(out_[k], i, mxCreateDoubleMatrix_700(rows[k], m, mxREAL));
        for (int k = 0; k < 4; ++k)
            out[k] = DoubleMatrix{mxGetPr(mxGetCell_700(out_[k], i)), rows[k], m};
    }
    double nan() const { return mxGetNaN(); }
    DoubleMatrix values(int k, int32_t i) const {
        double* data;
        const mxArray* e = entry_data(in_[k], i, data);
        return DoubleMatrix{data, value_rows_ + 1, columns(e)};
    }
    void poll() const {}

  private:
    // The data address of entry i of an input list; a cell entry that was
    // never set (null) reads as [] and has no data.
    static const mxArray* entry_data(const mxArray* list, int32_t i, double*& data) {
        const mxArray* e = mxGetCell_700(list, i);
        data = e ? mxGetPr(e) : nullptr;
        return e;
    }
    static int32_t columns(const mxArray* e) { return e ? mxGetDimensions_700(e)[1] : 0; }

    const mxArray* const* in_;
    mxArray* const* out_;
    int32_t value_rows_;
};

// The whole MEX call: counts and checks, outputs, kernel.
inline void mex_entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexhost::Access host;
    Shape shape;
    mexhost::require(check_inputs(host, nlhs, nrhs, prhs, shape));

    mxArray* lists[4];
    for (int k = 0; k < 4; ++k) {
        lists[k] = mxCreateCellMatrix_700(shape.n, 1);
        plhs[k] = lists[k];
    }

    MexIo io(prhs, lists, shape.v);
    run(shape, io);
}

} // namespace align_series

#endif
