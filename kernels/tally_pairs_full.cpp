// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_full as a MEX file: its inputs, outputs, limits and errors are
// described once, in octave/tally_pairs_full.m (the help text). The loop nest
// and its input checks are shared with tally_pairs_masked (tally_pairs.h);
// the host calls: mex/tally_pairs_entry.h.
#include "mex/tally_pairs_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    tally_pairs::mex_entry<tally_pairs::Full>(nlhs, plhs, nrhs, prhs);
}
