// SPDX-License-Identifier: BSD-3-Clause
// Link folding straight from the link matrix, for bindings that are free to
// choose their own memory: the results of fold_links.h, bit for bit, with
// scratch that grows with the links and the indices, never with the counts.
//
// The bucket kernel copies every link into count-sized buckets and folds
// those. Here a stable counting pass orders the taken links by each end
// (one array of 32-bit link positions per side), and the fold reads each
// index's links from the link matrix through that order. What a bucket
// holds beyond its links (columns its count reserves but no link fills:
// partner 0, values 0) never opens an output column; after a bucket's links
// such columns merge into the column opened last, adding +0.0 (which turns
// a -0 into +0) or, where the last values are kept, overwriting the values
// with zeros. Both are applied once, since a second time changes nothing.
//
// The kernel reaches its outputs through an `io` policy (OutputIo below):
//   bool is_nan(double x)   the NaN test of a link's row 3;
//   DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols)
//                           creates entry i of output s; the kernel writes
//                           every element;
//   void poll()             lets a long call be interrupted.
#ifndef KERNELS_FOLD_LINKS_IN_PLACE_H
#define KERNELS_FOLD_LINKS_IN_PLACE_H

#include "fold_links.h"

#include <cstdint>
#include <vector>

namespace fold_links {

// The io policy over two output lists of type `Outputs`: constructed with N,
// an output list creates entry i with `DoubleMatrix create(int32_t i,
// int32_t rows, int32_t cols)`. `kPoll` is what poll() calls.
template <class Outputs, void (*kPoll)()> class OutputIo {
  public:
    explicit OutputIo(const Inputs& in) : out{Outputs(in.n_index), Outputs(in.n_index)} {}

    bool is_nan(double x) const { return x != x; }
    DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols) {
        return out[s].create(i, rows, cols);
    }
    void poll() const { kPoll(); }

    Outputs out[2]; // by_second, by_first
};

// The taken links ordered by one end: the positions of the links whose end
// is index i, in link order, are at[start[i]] .. at[start[i + 1] - 1].
struct LinkOrder {
    std::vector<int32_t> start; // N + 1
    std::vector<int32_t> at;    // the taken links
};

// A link's partner end as the bucket kernel files it: truncated.
inline double partner_of(const double* link, Side s) {
    return static_cast<double>(static_cast<int32_t>(link[s == by_second ? 0 : 1]));
}

// The fold of one index's links (see fold_bucket): a rising partner end
// opens the next output column, every link merges its values into the
// column opened last; `reserved` columns without a link follow them.
template <bool kLast, class Io>
void fold_index(const DoubleMatrix& links, Side s, int32_t i, const LinkOrder& order,
                int32_t reserved, int32_t rows, Io& io) {
    const int32_t* const first = order.at.data() + order.start[static_cast<size_t>(i)];
    const int32_t* const last = order.at.data() + order.start[static_cast<size_t>(i) + 1];
    double top = 0.0;
    int32_t opened = 0;
    for (const int32_t* j = first; j != last; ++j) {
        const double partner = partner_of(links.column(*j), s);
        if (partner > top) {
            ++opened;
            top = partner;
        }
    }
    const DoubleMatrix out = io.create(s, i, rows, opened);
    top = 0.0;
    double* open = nullptr;
    opened = 0;
    for (const int32_t* j = first; j != last; ++j) {
        const double* const link = links.column(*j);
        const double partner = partner_of(link, s);
        if (partner > top) {
            open = out.column(opened++);
            open[0] = partner;
            top = partner;
            if (!kLast)
                for (int32_t r = 1; r < rows; ++r)
                    open[r] = 0.0;
        }
        // Bucket row r holds link row r + 1.
        if (kLast) {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = link[r + 1];
        } else {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = ieee::add(open[r], link[r + 1]);
        }
    }
    if (reserved > 0 && open) {
        if (kLast) {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = 0.0;
        } else {
            for (int32_t r = 1; r < rows; ++r)
                open[r] = ieee::add(open[r], 0.0);
        }
    }
}

// Files and folds the checked inputs `in` of variant V: by_second, then
// by_first, as the bucket kernel does. A bucket that would receive more
// links than its count ends the call before any output exists, at the link
// where the bucket kernel's filing stops (the returned Overflow says which);
// otherwise the returned Overflow's link is -1.
template <class V, class Io> Overflow fold_in_place(const Inputs& in, Io& io) {
    const DoubleMatrix& links = in.links;
    const size_t n_index = static_cast<size_t>(in.n_index);
    LinkOrder order[2];
    // Counting pass, in link order: how many links each index takes on
    // either side, and the first link a bucket has no room for.
    for (LinkOrder& o : order)
        o.start.assign(n_index + 1, 0);
    int32_t taken = 0;
    for (int32_t j = 0; j < links.cols; ++j) {
        checks::poll_at<checks::kPollEvery * 16>(io, j);
        const double* link = links.column(j);
        if (V::skip_nan_links && io.is_nan(link[2])) continue;
        const int32_t a = static_cast<int32_t>(link[0]) - 1;
        const int32_t b = static_cast<int32_t>(link[1]) - 1;
        int32_t& f = order[by_second].start[static_cast<size_t>(b) + 1];
        int32_t& g = order[by_first].start[static_cast<size_t>(a) + 1];
        if (f >= in.count(by_second, b)) return Overflow{j, b, true, in.count(by_second, b)};
        if (g >= in.count(by_first, a)) return Overflow{j, a, false, in.count(by_first, a)};
        ++f;
        ++g;
        ++taken;
    }
    // Where each index's links start, then their positions, in link order.
    for (LinkOrder& o : order) {
        for (size_t i = 0; i < n_index; ++i)
            o.start[i + 1] += o.start[i];
        o.at.resize(static_cast<size_t>(taken));
    }
    {
        std::vector<int32_t> next_second(order[by_second].start.begin(),
                                         order[by_second].start.end() - 1);
        std::vector<int32_t> next_first(order[by_first].start.begin(),
                                        order[by_first].start.end() - 1);
        for (int32_t j = 0; j < links.cols; ++j) {
            checks::poll_at<checks::kPollEvery * 16>(io, j);
            const double* link = links.column(j);
            if (V::skip_nan_links && io.is_nan(link[2])) continue;
            const size_t a = static_cast<size_t>(static_cast<int32_t>(link[0]) - 1);
            const size_t b = static_cast<size_t>(static_cast<int32_t>(link[1]) - 1);
            order[by_second].at[static_cast<size_t>(next_second[b]++)] = j;
            order[by_first].at[static_cast<size_t>(next_first[a]++)] = j;
        }
    }
    // Folding: every index of one side, then of the other. An index's links
    // lie anywhere in the link matrix: those of the index after next are
    // fetched into the cache while this one is folded.
    constexpr int32_t kAhead = 2;
    for (const Side s : {by_second, by_first}) {
        const std::vector<int32_t>& start = order[s].start;
        for (int32_t i = 0; i < in.n_index; ++i) {
            checks::poll_at(io, i);
            const size_t k = static_cast<size_t>(i);
            if (i + kAhead < in.n_index)
                for (int32_t p = start[k + kAhead]; p < start[k + kAhead + 1]; ++p) {
                    const double* const link = links.column(order[s].at[static_cast<size_t>(p)]);
                    TABLEFOLD_PREFETCH(link);
                    TABLEFOLD_PREFETCH(link + links.rows - 1);
                }
            const int32_t reserved = in.count(s, i) - (start[k + 1] - start[k]);
            if (s == by_first && V::last_in_output2)
                fold_index<true>(links, s, i, order[s], reserved, in.bucket_rows, io);
            else
                fold_index<false>(links, s, i, order[s], reserved, in.bucket_rows, io);
        }
    }
    return Overflow{-1, 0, false, 0};
}

} // namespace fold_links

#endif
