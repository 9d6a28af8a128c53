// SPDX-License-Identifier: BSD-3-Clause
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
// The variants differ in two settings (Masked and Full below): whether a link
// whose first value is NaN is skipped, and whether by_first keeps the values
// of the last merged link instead of their sum.
//
// The kernel reaches its buckets and outputs through an `io` policy, which
// each binding implements over its own storage:
//   bool is_nan(double x)                  the NaN test of a link's row 3;
//   DoubleMatrix filing(Side s, int32_t i) bucket i of list s for filing,
//                                          with the columns its count gives;
//   DoubleMatrix bucket(Side s, int32_t i) bucket i of list s for folding,
//                                          with the columns it was created
//                                          with;
//   DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols)
//        creates entry i of the output folded from list s; the kernel
//        writes every element;
//   int32_t* counters()                    the fill counters: N pairs of
//                                          int32_t, zero-filled;
//   void poll()                            lets a long call be interrupted.
// The buckets start zero-filled. (fold_links_in_place.h folds without
// buckets, for bindings free to choose their own memory.)
//
// Everything the kernel would read or write outside an array is refused by
// check_inputs before anything is created: inputs of another kind, too few
// link rows, a count matrix without 2 rows, counts that are negative, not
// finite or 2^31 or more, and link ends outside 1..N. The one fault that
// shows only while links are filed, a bucket receiving more links than its
// count, is returned by file_links before any of that link is written.
#ifndef KERNELS_FOLD_LINKS_H
#define KERNELS_FOLD_LINKS_H

#include "checks.h"
#include "ieee.h"
#include "views.h"

#include <cstdint>

namespace fold_links {

// ---- Variants ----------------------------------------------------------------

struct Masked {
    static constexpr const char* name = "fold_links_masked";
    static constexpr bool skip_nan_links = true;  // row 3 NaN: the link is left out
    static constexpr bool last_in_output2 = true; // by_first keeps the last link's values
    static constexpr int32_t least_rows = 3;      // row 3 is read by the NaN test
    static constexpr const char* least_rows_text = "3 (first end, second end, first value)";
};

struct Full {
    static constexpr const char* name = "fold_links_full";
    static constexpr bool skip_nan_links = false;  // every link is taken
    static constexpr bool last_in_output2 = false; // both outputs sum
    static constexpr int32_t least_rows = 2;       // the two ends; values are optional
    static constexpr const char* least_rows_text = "2 (first end, second end)";
};

// The two bucket lists, and the output each is folded into.
enum Side : int { by_second = 0, by_first = 1 };

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
template <class Variant, class Io>
Overflow file_links(const DoubleMatrix& links, int32_t* pairs, Io& io) {
    const int32_t bucket_rows = links.rows - 1;
    for (int32_t j = 0; j < links.cols; ++j) {
        checks::poll_at<checks::kPollEvery * 16>(io, j);
        const double* link = links.column(j);
        if (Variant::skip_nan_links && io.is_nan(link[2])) continue;
        const int32_t a = static_cast<int32_t>(link[0]) - 1;
        const int32_t b = static_cast<int32_t>(link[1]) - 1;
        const DoubleMatrix second = io.filing(by_second, b);
        const DoubleMatrix first = io.filing(by_first, a);
        int32_t& f = second_filled(pairs, b);
        int32_t& g = first_filled(pairs, a);
        if (f >= second.cols) return Overflow{j, b, true, second.cols};
        if (g >= first.cols) return Overflow{j, a, false, first.cols};
        file_into(second.column(f), a + 1, link, bucket_rows);
        file_into(first.column(g), b + 1, link, bucket_rows);
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

// Filling pass into `out`, which has the columns the counting pass found: a
// rising partner end opens the next output column; every column merges its
// values into the column opened last, by sum onto zeros, or (kLast) by
// overwriting them. The pass opens every column of `out` and writes all its
// rows. Columns before any opening (only in a bucket that received no link,
// whose output has no columns) have nowhere to go and are passed over.
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
            if (!kLast)
                for (int32_t r = 1; r < rows; ++r)
                    open[r] = 0.0;
        }
        if (!open) continue;
        if (kLast) {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = column[r];
        } else {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = ieee::add(open[r], column[r]);
        }
    }
}

// Folds bucket list `side` entry by entry into its output: each output entry
// is created at the size the counting pass finds, then filled.
template <bool kLast, class Io> void fold_list(Side side, int32_t n_index, Io& io) {
    for (int32_t i = 0; i < n_index; ++i) {
        checks::poll_at(io, i);
        const DoubleMatrix bucket = io.bucket(side, i);
        const int32_t k = count_open_columns(bucket);
        fold_bucket<kLast>(bucket, io.create(side, i, bucket.rows, k));
    }
}

// Folds both bucket lists, once every link is filed: the second-end buckets
// into by_second, then the first-end buckets into by_first.
template <class Variant, class Io> void fold(int32_t n_index, Io& io) {
    fold_list<false>(by_second, n_index, io);
    fold_list<Variant::last_in_output2>(by_first, n_index, io);
}

// The inputs as the kernel reads them.
struct Inputs {
    DoubleMatrix links;   // v x n
    const double* counts; // the count matrix, N pairs
    int32_t n_index;      // N
    int32_t bucket_rows;  // v - 1: the rows of every bucket and output entry
    int32_t count(Side side, int32_t i) const {
        return static_cast<int32_t>(counts[2 * static_cast<int64_t>(i) + side]);
    }
};

// The whole fold of `Variant`, once the buckets exist: files every link,
// then folds both lists unless a bucket had no room. Returns where filing
// stopped (link -1 when every link was filed and both outputs are written);
// the caller then frees its scratch and reports an overflow.
template <class Variant, class Io> Overflow run(const Inputs& in, Io& io) {
    const Overflow stop = file_links<Variant>(in.links, io.counters(), io);
    if (stop.link < 0) fold<Variant>(in.n_index, io);
    return stop;
}

// ---- Input checks ------------------------------------------------------------

// Checks of the values: counts and link ends.
template <class Variant>
checks::Fault check_values(const DoubleMatrix& links, const double* counts, int32_t count_rows,
                           int32_t n_index) {
    const char* name = Variant::name;
    if (links.rows < Variant::least_rows)
        return checks::reject(
            name, "linkRows", "The link matrix has %d %s, but every link needs at least %s",
            links.rows, checks::plural(links.rows, "row", "rows"), Variant::least_rows_text);
    if (count_rows != 2)
        return checks::reject(name, "countRows",
                              "The count matrix has %d %s, but needs exactly 2 (row 1: links "
                              "by second end, row 2: links by first end)",
                              count_rows, checks::plural(count_rows, "row", "rows"));
    if (links.elements() > INT32_MAX)
        return checks::reject(name, "tooLarge",
                              "The link matrix holds %lld elements, more than the 2147483647 "
                              "this plug-in supports",
                              static_cast<long long>(links.elements()));
    if (n_index > INT32_MAX / 2)
        return checks::reject(name, "tooLarge",
                              "The count matrix has %d columns, more than the 1073741823 this "
                              "plug-in supports",
                              n_index);

    const int64_t bucket_rows = links.rows - 1;
    for (int32_t i = 0; i < n_index; ++i) {
        for (int32_t r = 0; r < 2; ++r) {
            const double c = counts[2 * static_cast<int64_t>(i) + r];
            if (!(c >= 0.0 && c < 2147483648.0))
                return checks::reject(name, "badCount",
                                      "Index %d: row %d of the count matrix holds %s, but a "
                                      "count must be at least 0 and below 2^31",
                                      i + 1, r + 1, checks::number(c).text);
            const int64_t cols = static_cast<int32_t>(c);
            if (bucket_rows * cols > INT32_MAX)
                return checks::reject(name, "tooLarge",
                                      "Index %d: the bucket for row %d of the count matrix would "
                                      "hold %lld %s x %lld columns, more than the 2147483647 "
                                      "elements this plug-in supports",
                                      i + 1, r + 1, static_cast<long long>(bucket_rows),
                                      checks::plural(bucket_rows, "row", "rows"),
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
            return checks::reject(name, "badIndex",
                                  "Link %d: its %s end %s does not truncate to an index from 1 "
                                  "to %d (the columns of the count matrix)",
                                  j + 1, e == 0 ? "first" : "second", checks::number(link[e]).text,
                                  n_index);
        }
    }
    return {};
}

// Every test before anything is created, in the order the callers rely on:
// the argument counts, the kinds of both inputs, their data and sizes (input
// 2's first), then the values. Fills `in`.
template <class Variant, class A>
checks::Fault check_inputs(A& h, int nlhs, int nrhs, const typename A::Arg* args, Inputs& in) {
    if (nrhs != 2) return checks::fixed(checks::kInputCount);
    if (nlhs != 2) return checks::fixed(checks::kOutputCount);
    if (!checks::plain_matrix(h.kind(args[0])))
        return checks::reject(Variant::name, "notDouble",
                              "Input 1 (the link matrix) must be a real double matrix");
    if (!checks::plain_matrix(h.kind(args[1])))
        return checks::reject(Variant::name, "notDouble",
                              "Input 2 (the count matrix) must be a real double matrix");

    double* const link_data = h.data(args[0]);
    in.counts = h.data(args[1]);
    const auto count_dims = h.dims(args[1]);
    const int32_t count_rows = count_dims[0];
    in.n_index = count_dims[1];
    const auto link_dims = h.dims(args[0]);
    in.links = DoubleMatrix{link_data, link_dims[0], link_dims[1]};
    in.bucket_rows = in.links.rows - 1;
    return check_values<Variant>(in.links, in.counts, count_rows, in.n_index);
}

// The message of a bucket that received more links than its count allows.
template <class Variant> checks::Fault overflow_fault(const Overflow& stop) {
    return checks::reject(Variant::name, "bucketOverflow",
                          "Link %d: more links have %s end %d than row %d of the count matrix "
                          "allows for it (%d)",
                          stop.link + 1, stop.second_end ? "second" : "first", stop.index + 1,
                          stop.second_end ? 1 : 2, stop.capacity);
}

} // namespace fold_links

#endif
