// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_full: classed pair products of a record list, NaN records included.
//
//   tally = tally_pairs_full(W, S_out, R, r, F, F_switch)
//
// For every record of S_out{g} and every pair (k1, k2) that R assigns to a
// class c in 1..r, value records add W(k1, g) * W(k2, d) times their values
// into rows 1..n-1 of column c of the n x r tally; records whose marker is
// NaN subtract the pair's weight product (factor-weighted by F unless
// F_switch is 0) from row n. The loop nest and its input checks are
// shared with tally_pairs_masked (tally_pairs.h); the host calls:
// mex/tally_pairs_entry.h.
#include "mex/tally_pairs_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    tally_pairs::mex_entry<tally_pairs::Full>(nlhs, plhs, nrhs, prhs);
}
