// Link folding, shared by fold_links_masked and fold_links_full.
//
//   [by_second, by_first] = fold_links_<variant>(links, counts)
//
// A link is one column of `links`: its first end and its second end (index
// values in 1..N), then v - 2 values. For every index i, by_second{i} folds
// the links whose second end is i on their first ends, and by_first{i} folds
// the links whose first end is i on their second ends. `counts` (2 x N) gives
// for every index how many links land in each of its two buckets, so that
// every bucket is created once at its final size.
//
// The variants differ in two settings (see Masked and Full in the plug-in
// sources): whether a link whose first value is NaN is skipped, and whether
// by_first keeps the values of the last merged link instead of their sum.
//
// Everything the kernel would read or write outside an array is refused
// before anything is created: inputs of another kind, too few link rows, a
// count matrix without 2 rows, counts that are negative, not finite or 2^31
// or more, and link ends outside 1..N. The one fault that shows only while
// links are filed, a bucket receiving more links than its count, ends the
// call after every created array has been destroyed again.
#ifndef FOLD_LINKS_H
#define FOLD_LINKS_H

#include "mex_host.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace fold_links {

// ---- Kernel ------------------------------------------------------------------

// Fill counters: pair i (entry i of both bucket lists) holds the columns
// filled so far in second-end bucket i, then in first-end bucket i.
inline int32_t& second_filled(int32_t* pairs, int32_t i) {
    return pairs[2 * static_cast<int64_t>(i)];
}
inline int32_t& first_filled(int32_t* pairs, int32_t i) {
    return pairs[2 * static_cast<int64_t>(i) + 1];
}

// Where filing stopped: the link (from 0) that its bucket had no room for,
// or -1 when every link was filed.
struct Overflow {
    int32_t link;
    int32_t index;    // the full bucket's entry, from 0
    bool second_end;  // the full bucket is a second-end bucket
    int32_t capacity; // its column count
};

// Writes one link into the next free column of a bucket: the partner end as
// its truncated value, then the link's values.
inline void file_into(double* dst, int32_t partner, const double* link, int32_t bucket_rows) {
    dst[0] = static_cast<double>(partner);
    for (int32_t r = 1; r < bucket_rows; ++r)
        dst[r] = link[r + 1];
}

// Bucketing: files every taken link, in link order, into second-end bucket b
// and first-end bucket a (a and b its ends, truncated). The ends must already
// be known to lie in 1..N; the room left in each bucket is checked here,
// before anything of the link is written.
template <bool kSkipNaN, class IsNaN>
Overflow file_links(const DoubleMatrix& links, const CellList& second, const CellList& first,
                    int32_t* pairs, IsNaN is_nan) {
    const int32_t bucket_rows = links.rows - 1;
    for (int32_t j = 0; j < links.cols; ++j) {
        const double* link = links.column(j);
        if (kSkipNaN && is_nan(link[2])) continue;
        const int32_t a = static_cast<int32_t>(link[0]) - 1;
        const int32_t b = static_cast<int32_t>(link[1]) - 1;
        const DoubleMatrix by_second = second[b];
        const DoubleMatrix by_first = first[a];
        int32_t& f = second_filled(pairs, b);
        int32_t& g = first_filled(pairs, a);
        if (f >= by_second.cols) return Overflow{j, b, true, by_second.cols};
        if (g >= by_first.cols) return Overflow{j, a, false, by_first.cols};
        file_into(by_second.column(f), a + 1, link, bucket_rows);
        file_into(by_first.column(g), b + 1, link, bucket_rows);
        ++f;
        ++g;
    }
    return Overflow{-1, 0, false, 0};
}

// Counting pass: the number of output columns folding opens, one for every
// partner end that rises above all partner ends before it. Unfilled columns
// (partner end 0) never open one.
inline int32_t count_open_columns(const DoubleMatrix& bucket) {
    double top = 0.0;
    int32_t opened = 0;
    for (int32_t c = 0; c < bucket.cols; ++c) {
        const double partner = bucket.at(0, c);
        if (partner > top) {
            ++opened;
            top = partner;
        }
    }
    return opened;
}

// Filling pass into `out`, created zero-filled with the columns the counting
// pass found: a rising partner end opens the next output column; every
// column merges its values into the column opened last, by sum, or (kLast)
// by overwriting them. Columns before any opening (only in a bucket that
// received no link, whose output has no columns) have nowhere to go and are
// passed over.
template <bool kLast> void fold_bucket(const DoubleMatrix& bucket, const DoubleMatrix& out) {
    const int32_t rows = bucket.rows;
    double top = 0.0;
    double* open = nullptr;
    int32_t opened = 0;
    for (int32_t c = 0; c < bucket.cols; ++c) {
        const double* column = bucket.column(c);
        if (column[0] > top) {
            open = out.column(opened++);
            open[0] = column[0];
            top = column[0];
        }
        if (!open) continue;
        if (kLast) {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = column[r];
        } else {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = open[r] + column[r];
        }
    }
}

// ---- Entry -------------------------------------------------------------------

using mexhost::reject;

// A bucket list of the host, viewed as a CellList: entry i is fetched
// through the host (cell, then data); its column count is the caller's count
// for it, with which the entry was created.
struct HostBuckets {
    const mxArray* list;
    const double* counts; // the count matrix
    int32_t count_row;    // 0: second-end buckets, 1: first-end buckets
    int32_t rows;
    int32_t entries;

    static DoubleMatrix fetch(const void* context, int32_t i) {
        const HostBuckets& h = *static_cast<const HostBuckets*>(context);
        double* data = mxGetPr(mxGetCell_700(h.list, i));
        const int32_t cols =
            static_cast<int32_t>(h.counts[2 * static_cast<int64_t>(i) + h.count_row]);
        return DoubleMatrix{data, h.rows, cols};
    }
    CellList view() const { return CellList{this, entries, &HostBuckets::fetch}; }
};

// Input checks that need no scratch. `links` is v x n, `counts` holds the
// count matrix's pairs (2 x N).
template <class Variant>
void check_inputs(const DoubleMatrix& links, const double* counts, int32_t count_rows,
                  int32_t n_index) {
    const char* name = Variant::name;
    if (links.rows < Variant::least_rows)
        reject(name, "linkRows", "The link matrix has %d rows, but every link needs at least %s",
               links.rows, Variant::least_rows_text);
    if (count_rows != 2)
        reject(name, "countRows",
               "The count matrix has %d rows, but needs exactly 2 (row 1: links by second end, "
               "row 2: links by first end)",
               count_rows);
    if (links.elements() > INT32_MAX)
        reject(name, "tooLarge",
               "The link matrix holds %lld elements, more than the 2147483647 this plug-in "
               "supports",
               static_cast<long long>(links.elements()));
    if (n_index > INT32_MAX / 2)
        reject(name, "tooLarge",
               "The count matrix has %d columns, more than the 1073741823 this plug-in supports",
               n_index);

    const int64_t bucket_rows = links.rows - 1;
    for (int32_t i = 0; i < n_index; ++i) {
        for (int32_t r = 0; r < 2; ++r) {
            const double c = counts[2 * static_cast<int64_t>(i) + r];
            if (!(c >= 0.0 && c < 2147483648.0))
                reject(name, "badCount",
                       "Index %d: row %d of the count matrix holds %.15g, but a count must be at "
                       "least 0 and below 2^31",
                       i + 1, r + 1, c);
            const int64_t cols = static_cast<int32_t>(c);
            if (bucket_rows * cols > INT32_MAX)
                reject(name, "tooLarge",
                       "Index %d: the bucket for row %d of the count matrix would hold %lld rows x "
                       "%lld columns, more than the 2147483647 elements this plug-in supports",
                       i + 1, r + 1, static_cast<long long>(bucket_rows),
                       static_cast<long long>(cols));
        }
    }

    // Both ends of every taken link must truncate to an index in 1..N. The
    // test is on the double itself, so NaN and infinities fail it and no
    // out-of-range value is ever converted. This pass only reads the links:
    // it skips the links that bucketing will skip (row 3 NaN, tested here
    // without the host, whose NaN test bucketing makes) and tests both ends
    // at once; which end failed is only worked out for the message.
    const double past_last = static_cast<double>(n_index) + 1.0;
    const int32_t v = links.rows;
    const double* link = links.data;
    for (int32_t j = 0; j < links.cols; ++j, link += v) {
        if (Variant::skip_nan_links && link[2] != link[2]) continue;
        const bool first_ok = link[0] >= 1.0 && link[0] < past_last;
        const bool second_ok = link[1] >= 1.0 && link[1] < past_last;
        if (!(first_ok && second_ok)) {
            const int32_t e = first_ok ? 1 : 0;
            reject(name, "badIndex",
                   "Link %d: its %s end %.15g does not truncate to an index from 1 to %d "
                   "(the columns of the count matrix)",
                   j + 1, e == 0 ? "first" : "second", link[e], n_index);
        }
    }
}

// Folds bucket list `buckets` (entry by entry, i = 0..N-1) into output list
// `out`: each output entry is created at the size the counting pass finds,
// stored at once, fetched back and filled.
template <bool kLast>
void fold_list(mxArray* buckets, mxArray* out, int32_t n_index, int32_t rows) {
    for (int32_t i = 0; i < n_index; ++i) {
        double* data = mxGetPr(mxGetCell_700(buckets, i));
        const int32_t m = mxGetDimensions_700(mxGetCell_700(buckets, i))[1];
        const DoubleMatrix bucket{data, rows, m};
        const int32_t k = count_open_columns(bucket);
        mxSetCell_700(out, i, mxCreateDoubleMatrix_700(rows, k, mxREAL));
        const DoubleMatrix folded{mxGetPr(mxGetCell_700(out, i)), rows, k};
        fold_bucket<kLast>(bucket, folded);
    }
}

// The whole call, for one variant (see the plug-in sources).
template <class Variant> void run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) mexErrMsgTxt("Incorrect number of input arguments");
    if (nlhs != 2) mexErrMsgTxt("Incorrect number of output arguments");

    if (!mexhost::is_plain_matrix(prhs[0]))
        reject(Variant::name, "notDouble",
               "Input 1 (the link matrix) must be a real double matrix");
    if (!mexhost::is_plain_matrix(prhs[1]))
        reject(Variant::name, "notDouble",
               "Input 2 (the count matrix) must be a real double matrix");

    double* link_data = mxGetPr(prhs[0]);
    const double* counts = mxGetPr(prhs[1]);
    const auto count_dims = mxGetDimensions_700(prhs[1]);
    const int32_t count_rows = count_dims[0];
    const int32_t n_index = count_dims[1];
    const auto link_dims = mxGetDimensions_700(prhs[0]);
    const DoubleMatrix links{link_data, link_dims[0], link_dims[1]};
    const int32_t rows = links.rows - 1; // of every bucket and output entry

    check_inputs<Variant>(links, counts, count_rows, n_index);

    mxArray* out1 = mxCreateCellMatrix_700(n_index, 1);
    plhs[0] = out1;
    mxArray* out2 = mxCreateCellMatrix_700(n_index, 1);
    plhs[1] = out2;
    mxArray* second = mxCreateCellMatrix_700(n_index, 1);
    mxArray* first = mxCreateCellMatrix_700(n_index, 1);
    for (int32_t i = 0; i < n_index; ++i) {
        const int64_t at = 2 * static_cast<int64_t>(i);
        mxSetCell_700(second, i,
                      mxCreateDoubleMatrix_700(rows, static_cast<int32_t>(counts[at]), mxREAL));
        mxSetCell_700(first, i,
                      mxCreateDoubleMatrix_700(rows, static_cast<int32_t>(counts[at + 1]), mxREAL));
    }
    // N pairs of 32-bit counters in the storage of 64-bit elements 0..N-1,
    // created zero-filled. The storage is only ever accessed as int32_t.
    mxArray* storage = mxCreateNumericMatrix_700(2, n_index, mxINT64_CLASS, mxREAL);
    int32_t* pairs = static_cast<int32_t*>(static_cast<void*>(mxGetPr(storage)));

    const HostBuckets by_second{second, counts, 0, rows, n_index};
    const HostBuckets by_first{first, counts, 1, rows, n_index};
    const Overflow full = file_links<Variant::skip_nan_links>(
        links, by_second.view(), by_first.view(), pairs, [](double x) { return mxIsNaN(x); });
    if (full.link >= 0) {
        // Nothing of this call may outlive the error: scratch and outputs go.
        mxDestroyArray(second);
        mxDestroyArray(first);
        mxDestroyArray(storage);
        plhs[0] = nullptr;
        plhs[1] = nullptr;
        mxDestroyArray(out1);
        mxDestroyArray(out2);
        reject(Variant::name, "bucketOverflow",
               "Link %d: more links have %s end %d than row %d of the count matrix allows for it "
               "(%d)",
               full.link + 1, full.second_end ? "second" : "first", full.index + 1,
               full.second_end ? 1 : 2, full.capacity);
    }

    if (n_index > 0) {
        fold_list<false>(second, out1, n_index, rows);
        fold_list<Variant::last_in_output2>(first, out2, n_index, rows);
    }

    mxDestroyArray(second);
    mxDestroyArray(first);
    mxDestroyArray(storage);
}

} // namespace fold_links

#endif
