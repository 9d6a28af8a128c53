// SPDX-License-Identifier: BSD-3-Clause
// align_series as a MEX file: its inputs, outputs, limits and errors are
// described once, in octave/align_series.m (the help text). The kernel and
// its input checks: align_series.h; the host calls: mex/align_series_entry.h.
#include "mex/align_series_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    align_series::mex_entry(nlhs, plhs, nrhs, prhs);
}
