// fold_links_masked: files every link under both of its ends and folds each
// index's links into one column per rising partner end, skipping links whose
// first value is NaN.
//
//   [by_second, by_first] = fold_links_masked(links, counts)
//
// links is v x n (v >= 3): first end, second end, then the values; a link
// whose row 3 is NaN is skipped. by_second{i} sums, per output column, the
// values of the links whose second end is i; by_first{i} keeps the values
// of the last link merged into each column. See fold_links.h.
#include "fold_links.h"

namespace {

struct Masked {
    static constexpr const char* name = "fold_links_masked";
    static constexpr bool skip_nan_links = true;  // row 3 NaN: the link is left out
    static constexpr bool last_in_output2 = true; // by_first keeps the last link's values
    static constexpr int32_t least_rows = 3;      // row 3 is read by the NaN test
    static constexpr const char* least_rows_text = "3 (first end, second end, first value)";
};

} // namespace

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    fold_links::run<Masked>(nlhs, plhs, nrhs, prhs);
}
