// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_masked: classed pair products of a record list, NaN records skipped.
//
//   tally = tally_pairs_masked(W, T_out, R, r)
//
// For every value record of T_out{g} and every pair (k1, k2) that R assigns
// to a class c in 1..r, adds W(k1, g) * W(k2, d) times the record's values
// into column c of the (n-1) x r tally. Records whose marker is NaN are
// skipped whole, their partner index included. The loop nest and its input
// checks are shared with tally_pairs_full (tally_pairs.h); the host
// calls: mex/tally_pairs_entry.h.
#include "mex/tally_pairs_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    tally_pairs::mex_entry<tally_pairs::Masked>(nlhs, plhs, nrhs, prhs);
}
