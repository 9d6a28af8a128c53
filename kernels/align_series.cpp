// align_series: lays four lists of keyed tables out on one key axis per entry.
//
//   [out1, out2, out3, out4] = align_series(in1, in2, in3, in4)
//
// For every entry i of the lists, the key rows (row 1) of in3{i} and in4{i}
// are merged into one key sequence; every output entry carries that sequence
// in its first row and, under each key, the values of the matching column of
// its input, or a missing value (NaN for outputs 1 and 2, 0 for outputs 3
// and 4) where the input has no column with that key.
#include "mex_host.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// ---- Kernel ------------------------------------------------------------------

// The merge of the key rows of one entry. `a` and `b` are the statistics
// tables of inputs 3 and 4 (keys in row 0). Equal keys, and any comparison
// with NaN, pass over the input-3 key; on equal keys the copy emitted is
// therefore input 4's, which shows for -0 against +0.
template <class Emit> void merge_keys(const DoubleMatrix& a, const DoubleMatrix& b, Emit emit) {
    int32_t k = 0;
    int32_t j = 0;
    const int32_t p = a.cols;
    const int32_t q = b.cols;
    while (k < p && j < q) {
        const double ak = a.at(0, k);
        const double bj = b.at(0, j);
        if (ak > bj) {
            emit(bj);
            ++j;
        } else if (bj > ak) {
            emit(ak);
            ++k;
        } else {
            ++k;
        }
    }
    for (; k < p; ++k)
        emit(a.at(0, k));
    for (; j < q; ++j)
        emit(b.at(0, j));
}

// Counting pass: the length M of the merged key sequence.
int32_t count_merged(const DoubleMatrix& a, const DoubleMatrix& b) {
    int32_t m = 0;
    merge_keys(a, b, [&m](double) { ++m; });
    return m;
}

// One output and the input it is filled from. Its cursor is the position of
// the input's next column that may be taken.
struct Lane {
    DoubleMatrix out;
    DoubleMatrix in; // no columns when the output takes no values
    double missing;  // NaN for outputs 1 and 2, 0 for outputs 3 and 4
    int32_t cursor;
};

// The fill of output column w from one input: the column takes the value rows
// of the input column at the cursor when that column's key equals the merged
// key (ordered equality: a NaN key matches nothing), and the cursor moves on;
// otherwise its value rows receive the missing value and the cursor stays.
inline void fill_column(Lane& lane, int32_t w, double key) {
    const int32_t value_rows = lane.out.rows - 1;
    double* dst = lane.out.column(w);
    if (lane.cursor < lane.in.cols && key == lane.in.at(0, lane.cursor)) {
        // A plain copy of the value rows: no arithmetic, so bits are kept.
        std::memcpy(dst + 1, lane.in.column(lane.cursor) + 1, sizeof(double) * size_t(value_rows));
        ++lane.cursor;
    } else {
        for (int32_t r = 1; r <= value_rows; ++r)
            dst[r] = lane.missing;
    }
}

// Writing pass of the merge and the fill, in one sweep over the output
// columns: the w-th merged key goes into row 0 of column w of every output,
// and each output's value rows of that column are filled at once, while the
// column is at hand. The fill of a column depends only on its key and on the
// columns before it, so this gives the same outputs as filling afterwards.
void write_and_fill(const DoubleMatrix& a, const DoubleMatrix& b, Lane (&lanes)[4]) {
    int32_t w = 0;
    merge_keys(a, b, [&](double key) {
        for (Lane& lane : lanes) {
            lane.out.at(0, w) = key;
            fill_column(lane, w, key);
        }
        ++w;
    });
}

// ---- Entry -------------------------------------------------------------------

// The data address of entry i of an input list; a cell entry that was never
// set (null) reads as [] and has no data.
const mxArray* entry_data(const mxArray* list, int32_t i, double*& data) {
    const mxArray* e = mxGetCell_700(list, i);
    data = e ? mxGetPr(e) : nullptr;
    return e;
}

int32_t columns(const mxArray* e) {
    return e ? mxGetDimensions_700(e)[1] : 0;
}

// Entry i of a value list, viewed with the rows its list's first entry sets.
DoubleMatrix entry_view(const mxArray* list, int32_t i, int32_t rows) {
    double* data;
    const mxArray* e = entry_data(list, i, data);
    return DoubleMatrix{data, rows, columns(e)};
}

// Checks list `input` (numbered from 1, as the caller counts) for the entries
// 0..n-1 that the kernel reads: a cell array with at least n elements whose
// entries are real double matrices of `rows` rows (an entry without columns
// is never read and may have any shape).
void check_list(const mxArray* list, int input, int32_t n, int32_t rows) {
    if (!mxIsCell(list))
        mexErrMsgIdAndTxt("align_series:notCell",
                          "Input %d must be a cell array of real double matrices", input);
    const size_t count = mxGetNumberOfElements(list);
    if (count < static_cast<size_t>(n))
        mexErrMsgIdAndTxt("align_series:tooFewEntries",
                          "Input %d has %zu entries, but input 3 has %d rows: every list "
                          "needs an entry for each row of input 3",
                          input, count, n);
    for (int32_t i = 0; i < n; ++i) {
        const mxArray* e = mxGetCell_700(list, i);
        if (!mexhost::is_plain_matrix(e))
            mexErrMsgIdAndTxt("align_series:notDouble",
                              "Input %d: entry %d is not a real double matrix", input, i + 1);
        if (!e) continue;
        const auto dims = mxGetDimensions_700(e);
        if (dims[1] > 0 && dims[0] != rows)
            mexErrMsgIdAndTxt("align_series:rowCount",
                              "Input %d: entry %d has %d rows, but the first entry of its list "
                              "sets %d",
                              input, i + 1, dims[0], rows);
    }
}

// Rejects an entry whose outputs would exceed the 32-bit element range. The
// merged sequence is at most P + Q keys long.
void check_sizes(const mxArray* in3, const mxArray* in4, int32_t n, int32_t v, int32_t e) {
    const int64_t tallest = (v + 1 > e) ? v + 1 : e;
    for (int32_t i = 0; i < n; ++i) {
        const mxArray* a = mxGetCell_700(in3, i);
        const mxArray* b = mxGetCell_700(in4, i);
        const int64_t keys =
            int64_t(a ? mxGetDimensions_700(a)[1] : 0) + int64_t(b ? mxGetDimensions_700(b)[1] : 0);
        if (keys > INT32_MAX || keys * tallest > INT32_MAX)
            mexErrMsgIdAndTxt("align_series:tooLarge",
                              "Entry %d: %lld keys of %lld rows exceed the largest output this "
                              "plug-in can create (2147483647 elements)",
                              i + 1, static_cast<long long>(keys), static_cast<long long>(tallest));
    }
}

} // namespace

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 4) mexErrMsgTxt("Incorrect number of input arguments");
    if (nlhs != 4) mexErrMsgTxt("Incorrect number of output arguments");

    // V, the value rows of inputs 1 and 2, from the first entry of input 1.
    const bool in1_empty = mxIsEmpty(prhs[0]);
    const bool in1_cell = in1_empty || mxIsCell(prhs[0]);
    int32_t v = 0;
    const mxArray* first1 = nullptr;
    if (!in1_empty && in1_cell) {
        first1 = mxGetCell_700(prhs[0], 0);
        v = (first1 ? mxGetDimensions_700(first1)[0] : 0) - 1;
    }

    // E, the rows of the statistics tables, from the first entry of input 3.
    if (mxIsEmpty(prhs[2])) mexErrMsgTxt("E_Distr statistics must not be empty");
    if (!mxIsCell(prhs[2]))
        mexErrMsgIdAndTxt("align_series:notCell",
                          "Input 3 (E_Distr statistics) must be a cell array of real double "
                          "matrices");
    const mxArray* first3 = mxGetCell_700(prhs[2], 0);
    const int32_t e = first3 ? mxGetDimensions_700(first3)[0] : 0;
    if (e < 1) mexErrMsgTxt("E_Distr statistics must not be empty");

    const int32_t n = mxGetDimensions_700(prhs[2])[0];

    // Input the kernel would misread or read outside of is refused here,
    // before any output exists.
    if (!in1_cell)
        mexErrMsgIdAndTxt("align_series:notCell",
                          "Input 1 must be a cell array of real double matrices");
    if (!in1_empty) {
        if (!mexhost::is_plain_matrix(first1))
            mexErrMsgIdAndTxt("align_series:notDouble",
                              "Input 1: entry 1 is not a real double matrix");
        if (v < 0)
            mexErrMsgIdAndTxt("align_series:noKeyRow",
                              "Input 1: entry 1 has no rows, but its first row must hold the "
                              "keys");
    }
    check_list(prhs[2], 3, n, e);
    check_list(prhs[3], 4, n, e);
    if (v > 0) {
        check_list(prhs[0], 1, n, v + 1);
        check_list(prhs[1], 2, n, v + 1);
    }
    check_sizes(prhs[2], prhs[3], n, v, e);

    mxArray* lists[4];
    for (int k = 0; k < 4; ++k) {
        lists[k] = mxCreateCellMatrix_700(n, 1);
        plhs[k] = lists[k];
    }

    const int32_t out_rows[4] = {v + 1, v + 1, e, e};
    for (int32_t i = 0; i < n; ++i) {
        double* data3;
        double* data4;
        const mxArray* e3 = entry_data(prhs[2], i, data3);
        const mxArray* e4 = entry_data(prhs[3], i, data4);
        const DoubleMatrix a{data3, e, columns(e3)};
        const DoubleMatrix b{data4, e, columns(e4)};

        const int32_t m = count_merged(a, b);

        for (int k = 0; k < 4; ++k)
            mxSetCell_700(lists[k], i, mxCreateDoubleMatrix_700(out_rows[k], m, mxREAL));
        Lane lanes[4];
        for (int k = 0; k < 4; ++k)
            lanes[k] = Lane{DoubleMatrix{mxGetPr(mxGetCell_700(lists[k], i)), out_rows[k], m},
                            DoubleMatrix{nullptr, 0, 0}, 0.0, 0};
        if (m > 0 && v > 0) {
            const double nan = mxGetNaN();
            lanes[0].in = entry_view(prhs[0], i, v + 1);
            lanes[1].in = entry_view(prhs[1], i, v + 1);
            lanes[0].missing = nan;
            lanes[1].missing = nan;
        }
        lanes[2].in = a;
        lanes[3].in = b;
        write_and_fill(a, b, lanes);
    }
}
