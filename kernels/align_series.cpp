// SPDX-License-Identifier: BSD-3-Clause
// align_series: lays four lists of keyed tables out on one key axis per entry.
//
//   [out1, out2, out3, out4] = align_series(in1, in2, in3, in4)
//
// For every entry i of the lists, the key rows (row 1) of in3{i} and in4{i}
// are merged into one key sequence; every output entry carries that sequence
// in its first row and, under each key, the values of the matching column of
// its input, or a missing value (NaN for outputs 1 and 2, 0 for outputs 3
// and 4) where the input has no column with that key. The kernel and its
// input checks: align_series.h; the host calls: mex/align_series_entry.h.
#include "mex/align_series_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    align_series::mex_entry(nlhs, plhs, nrhs, prhs);
}
