// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked: files every link under both of its ends and folds each
// index's links into one column per rising partner end, skipping links whose
// first value is NaN.
//
//   [by_second, by_first] = fold_links_masked(links, counts)
//
// links is v x n (v >= 3): first end, second end, then the values; a link
// whose row 3 is NaN is skipped. by_second{i} sums, per output column, the
// values of the links whose second end is i; by_first{i} keeps the values
// of the last link merged into each column. The kernel and its input
// checks: fold_links.h; the host calls: mex/fold_links_entry.h.
#include "mex/fold_links_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    fold_links::mex_entry<fold_links::Masked>(nlhs, plhs, nrhs, prhs);
}
