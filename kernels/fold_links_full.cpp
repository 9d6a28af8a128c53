// fold_links_full: files every link under both of its ends and folds each
// index's links into one column per rising partner end, summing their values.
//
//   [by_second, by_first] = fold_links_full(links, counts)
//
// links is v x n (v >= 2): first end, second end, then the values. Every
// link is taken; both outputs sum the values merged into a column. See
// fold_links.h.
#include "fold_links.h"

namespace {

struct Full {
    static constexpr const char* name = "fold_links_full";
    static constexpr bool skip_nan_links = false;  // every link is taken
    static constexpr bool last_in_output2 = false; // both outputs sum
    static constexpr int32_t least_rows = 2;       // the two ends; values are optional
    static constexpr const char* least_rows_text = "2 (first end, second end)";
};

} // namespace

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    fold_links::run<Full>(nlhs, plhs, nrhs, prhs);
}
