// SPDX-License-Identifier: BSD-3-Clause
// The MEX entry of tally_pairs_full and tally_pairs_masked: the record list
// and the host's services for the loop nest.
//
// Host calls, in the order MATLAB users' code has always seen them (keep
// every call and its place; they are the plug-ins' compatibility contract):
//   1. the input count (6 full, 4 masked), then at most one output;
//   2. mxIsCell on input 2 (not a cell: the fixed "Second Arg" message);
//   3. mxGetPr of W, mxGetPr of R, mxGetScalar of r, (full) mxGetPr of F;
//      mxGetDimensions_700 of W (K, G); mxGetCell_700(list, 0) and its
//      mxGetDimensions_700 (n);
//   4. mxCreateDoubleMatrix_700(n or n - 1, r), stored in slot 1 at once,
//      and its mxGetPr;
//   5. per entry g: mxGetCell_700 and mxGetDimensions_700 (columns), then
//      mxGetCell_700 and mxGetPr (data); per record mxIsNaN of its marker;
//      per contributing pair its class check, and (full) in a NaN record
//      mxGetScalar of F_switch after it.
// The input checks add mxIsCell of r and F_switch and type queries before
// step 3, and reads of the list's entries and sizes after it; every refusal
// but a misspecified class and a bad partner comes before the tally exists.
#ifndef MEX_TALLY_PAIRS_ENTRY_H
#define MEX_TALLY_PAIRS_ENTRY_H

#include "mex_host.h"
#include "tally_pairs.h"

namespace tally_pairs {

// The record list and F_switch as host arrays (see the order above).
class MexIo {
  public:
    MexIo(const mxArray* list, const mxArray* f_switch, int32_t n)
        : list_(list), f_switch_(f_switch), n_(n) {}

    // Entry g, in the order of calls the plug-ins keep: cell and column
    // count, then cell and data. An entry never set reads as [].
    DoubleMatrix records(int32_t g) const {
        const mxArray* const e = mxGetCell_700(list_, g);
        if (!e) return DoubleMatrix{nullptr, n_, 0};
        const int32_t m = mxGetDimensions_700(e)[1];
        double* const data = mxGetPr(mxGetCell_700(list_, g));
        return DoubleMatrix{data, n_, m};
    }
    bool is_nan(double x) const { return mxIsNaN(x); }
    double read_switch() const { return mxGetScalar(f_switch_); }
    void poll() const {}

  private:
    const mxArray* list_;
    const mxArray* f_switch_;
    int32_t n_;
};

// The whole MEX call of `Variant`: counts and checks, the tally, kernel,
// errors. On an error the tally already stands in slot 1; the host discards
// it.
template <class Variant>
void mex_entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexhost::Access host;
    Inputs in;
    mexhost::require(check_inputs<Variant>(host, nlhs, nrhs, prhs, in));

    plhs[0] = mxCreateDoubleMatrix_700(in.rows, in.r, mxREAL);
    const DoubleMatrix out{mxGetPr(plhs[0]), in.rows, in.r};

    MexIo io(prhs[1], Variant::nan_records ? prhs[5] : nullptr, in.n);
    mexhost::require(status_fault<Variant>(run<Variant>(in, out, io)));
}

} // namespace tally_pairs

#endif
