// SPDX-License-Identifier: BSD-3-Clause
// fold_links_full as a MEX file: its inputs, outputs, limits and errors are
// described once, in octave/fold_links_full.m (the help text). The kernel and
// its input checks: fold_links.h; the host calls: mex/fold_links_entry.h.
#include "mex/fold_links_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    fold_links::mex_entry<fold_links::Full>(nlhs, plhs, nrhs, prhs);
}
