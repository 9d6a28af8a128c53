// SPDX-License-Identifier: BSD-3-Clause
// fold_links_full: files every link under both of its ends and folds each
// index's links into one column per rising partner end, summing their values.
//
//   [by_second, by_first] = fold_links_full(links, counts)
//
// links is v x n (v >= 2): first end, second end, then the values. Every
// link is taken; both outputs sum the values merged into a column. The kernel and its
// input checks: fold_links.h; the host calls: mex/fold_links_entry.h.
#include "mex/fold_links_entry.h"

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    fold_links::mex_entry<fold_links::Full>(nlhs, plhs, nrhs, prhs);
}
