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
// such columns merge into the column opened last: where the last values are
// kept they overwrite its values with zeros (applied once, since a second
// time changes nothing); where values are summed they add zeros to a sum
// that starts at +0, which changes no bit (a sum from +0 is never -0, and
// adding zero keeps a NaN's payload), so nothing is done for them.
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
#include "threads.h"

#include <algorithm>
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
    // Entry i of output s, once created (for fold_in_place_threaded).
    DoubleMatrix output(Side s, int32_t i, int32_t rows, int32_t cols) const {
        return DoubleMatrix{out[s].data(i), rows, cols};
    }

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

// The output columns of one index's links, first .. last - 1 (positions in
// the link matrix): one for every partner end that rises above all before it.
inline int32_t count_opened(const DoubleMatrix& links, Side s, const int32_t* first,
                            const int32_t* last) {
    double top = 0.0;
    int32_t opened = 0;
    for (const int32_t* j = first; j != last; ++j) {
        const double partner = partner_of(links.column(*j), s);
        if (partner > top) {
            ++opened;
            top = partner;
        }
    }
    return opened;
}

// The fold of one index's links into `out`, which has the columns
// count_opened gives (see fold_bucket): a rising partner end opens the next
// output column, every link merges its values into the column opened last;
// `reserved` columns without a link follow them.
template <bool kLast>
void fold_into(const DoubleMatrix& links, Side s, const int32_t* first, const int32_t* last,
               int32_t reserved, const DoubleMatrix& out) {
    const int32_t rows = out.rows;
    double top = 0.0;
    double* open = nullptr;
    int32_t opened = 0;
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
    if (kLast && reserved > 0 && open)
        for (int32_t r = 1; r < rows; ++r)
            open[r] = 0.0;
}

// Index i's links on side s, first .. last - 1.
inline const int32_t* links_from(const LinkOrder& order, int32_t i) {
    return order.at.data() + order.start[static_cast<size_t>(i)];
}
inline const int32_t* links_to(const LinkOrder& order, int32_t i) {
    return order.at.data() + order.start[static_cast<size_t>(i) + 1];
}

// An index's links lie anywhere in the link matrix: those of the index
// kAhead further on are fetched into the cache while one is folded.
constexpr int32_t kAhead = 2;
inline void fetch_ahead(const DoubleMatrix& links, const LinkOrder& order, int32_t i,
                        int32_t n_index) {
    if (i + kAhead >= n_index) return;
    for (const int32_t* j = links_from(order, i + kAhead); j != links_to(order, i + kAhead); ++j) {
        const double* const link = links.column(*j);
        TABLEFOLD_PREFETCH(link);
        TABLEFOLD_PREFETCH(link + links.rows - 1);
    }
}

// The fold of index i on side s of `Variant` into `out`.
template <class Variant>
void fold_index_into(const Inputs& in, Side s, int32_t i, const LinkOrder& order,
                     const DoubleMatrix& out) {
    const int32_t* const first = links_from(order, i);
    const int32_t* const last = links_to(order, i);
    const int32_t reserved = in.count(s, i) - static_cast<int32_t>(last - first);
    if (s == by_first && Variant::last_in_output2)
        fold_into<true>(in.links, s, first, last, reserved, out);
    else
        fold_into<false>(in.links, s, first, last, reserved, out);
}

// Calls visit(j, a, b) for every link j that `Variant` takes, in link
// order, with its ends a and b (truncated, from 0), until visit returns
// false; polls through `poller` as filing does.
template <class Variant, class Io, class Poller, class Visit>
void for_each_taken(const DoubleMatrix& links, const Io& io, const Poller& poller, Visit visit) {
    for (int32_t j = 0; j < links.cols; ++j) {
        checks::poll_at<checks::kPollEvery * 16>(poller, j);
        const double* link = links.column(j);
        if (Variant::skip_nan_links && io.is_nan(link[2])) continue;
        if (!visit(j, static_cast<int32_t>(link[0]) - 1, static_cast<int32_t>(link[1]) - 1)) return;
    }
}

// Files and folds the checked inputs `in` of `Variant`: by_second, then
// by_first, as the bucket kernel does. A bucket that would receive more
// links than its count ends the call before any output exists, at the link
// where the bucket kernel's filing stops (the returned Overflow says which);
// otherwise the returned Overflow's link is -1.
template <class Variant, class Io> Overflow fold_in_place(const Inputs& in, Io& io) {
    const DoubleMatrix& links = in.links;
    const size_t n_index = static_cast<size_t>(in.n_index);
    LinkOrder order[2];
    // Counting pass, in link order: how many links each index takes on
    // either side, and the first link a bucket has no room for.
    for (LinkOrder& o : order)
        o.start.assign(n_index + 1, 0);
    int32_t taken = 0;
    Overflow stop{-1, 0, false, 0};
    for_each_taken<Variant>(links, io, io, [&](int32_t j, int32_t a, int32_t b) {
        int32_t& f = order[by_second].start[static_cast<size_t>(b) + 1];
        int32_t& g = order[by_first].start[static_cast<size_t>(a) + 1];
        if (f >= in.count(by_second, b))
            stop = Overflow{j, b, true, in.count(by_second, b)};
        else if (g >= in.count(by_first, a))
            stop = Overflow{j, a, false, in.count(by_first, a)};
        if (stop.link >= 0) return false;
        ++f;
        ++g;
        ++taken;
        return true;
    });
    if (stop.link >= 0) return stop;
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
        for_each_taken<Variant>(links, io, io, [&](int32_t j, int32_t a, int32_t b) {
            order[by_second].at[static_cast<size_t>(next_second[static_cast<size_t>(b)]++)] = j;
            order[by_first].at[static_cast<size_t>(next_first[static_cast<size_t>(a)]++)] = j;
            return true;
        });
    }
    // Folding: every index of one side, then of the other.
    for (const Side s : {by_second, by_first}) {
        for (int32_t i = 0; i < in.n_index; ++i) {
            checks::poll_at(io, i);
            fetch_ahead(links, order[s], i, in.n_index);
            const int32_t opened =
                count_opened(links, s, links_from(order[s], i), links_to(order[s], i));
            fold_index_into<Variant>(in, s, i, order[s], io.create(s, i, in.bucket_rows, opened));
        }
    }
    return Overflow{-1, 0, false, 0};
}

// The same fold on `threads` threads (threads.h), by ranges of indices: each
// range's thread counts and orders the links of its indices (reading every
// link), then every output is created on the calling thread, in the order
// fold_in_place creates them, then the ranges are folded. Each output entry
// is written by one thread, from the links of its index in link order, as
// fold_in_place writes it; the overflow returned is the one fold_in_place
// finds first. Besides the members fold_in_place uses, `io` offers
//   DoubleMatrix output(Side s, int32_t i, int32_t rows, int32_t cols)
//        entry i of output s, once created; may be called from any thread;
// its is_nan may be called from any thread too, its create and poll on the
// calling thread alone. `host_poll` is the host's poll on the calling
// thread. Scratch: that of fold_in_place, four more counts per index, and a
// little per thread.
template <class Variant, class Io>
Overflow fold_in_place_threaded(const Inputs& in, Io& io, int threads, void (*host_poll)()) {
    const DoubleMatrix& links = in.links;
    const size_t n_index = static_cast<size_t>(in.n_index);
    if (threads > in.n_index) threads = in.n_index > 0 ? in.n_index : 1;
    // Range t: indices lo(t) .. lo(t + 1) - 1.
    auto lo = [&](int t) {
        return static_cast<int32_t>(static_cast<int64_t>(in.n_index) * t / threads);
    };
    LinkOrder order[2];
    for (LinkOrder& o : order)
        o.start.assign(n_index + 1, 0);
    std::vector<Overflow> stop(static_cast<size_t>(threads), Overflow{-1, 0, false, 0});

    // Counting, in link order: order[s].start[i + 1] counts index i's links.
    threads::run(threads, threads, host_poll, [&](int32_t t, const threads::Poll& poll, int) {
        const int32_t first = lo(t);
        const int32_t past = lo(t + 1);
        auto mine = [&](int32_t i) { return i >= first && i < past; };
        Overflow& own = stop[static_cast<size_t>(t)];
        for_each_taken<Variant>(links, io, poll, [&](int32_t j, int32_t a, int32_t b) {
            int32_t& f = order[by_second].start[static_cast<size_t>(b) + 1];
            int32_t& g = order[by_first].start[static_cast<size_t>(a) + 1];
            if (mine(b) && f >= in.count(by_second, b))
                own = Overflow{j, b, true, in.count(by_second, b)};
            else if (mine(a) && g >= in.count(by_first, a))
                own = Overflow{j, a, false, in.count(by_first, a)};
            if (own.link >= 0) return false;
            if (mine(b)) ++f;
            if (mine(a)) ++g;
            return true;
        });
    });
    // The overflow at the first link, its second end before its first.
    Overflow first_stop{-1, 0, false, 0};
    for (const Overflow& o : stop)
        if (o.link >= 0 && (first_stop.link < 0 || o.link < first_stop.link ||
                            (o.link == first_stop.link && o.second_end)))
            first_stop = o;
    if (first_stop.link >= 0) return first_stop;

    // Where each range's links start on either side (every taken link has
    // one second end and one first end).
    std::vector<int32_t> offset[2];
    for (const Side s : {by_second, by_first}) {
        offset[s].assign(static_cast<size_t>(threads), 0);
        int32_t at = 0;
        for (int t = 0; t < threads; ++t) {
            offset[s][static_cast<size_t>(t)] = at;
            for (int32_t i = lo(t); i < lo(t + 1); ++i)
                at += order[s].start[static_cast<size_t>(i) + 1];
        }
        order[s].at.resize(static_cast<size_t>(at));
    }
    // Ordering: each range's starts, then its links' positions in link
    // order, and on the way each index's output columns (count_opened): a
    // partner end above the highest so far, `top`, opens one.
    std::vector<int32_t> next[2] = {std::vector<int32_t>(n_index), std::vector<int32_t>(n_index)};
    std::vector<int32_t> top[2] = {std::vector<int32_t>(n_index, 0),
                                   std::vector<int32_t>(n_index, 0)};
    std::vector<int32_t> opened[2] = {std::vector<int32_t>(n_index, 0),
                                      std::vector<int32_t>(n_index, 0)};
    auto file = [&](Side s, int32_t i, int32_t partner, int32_t j) {
        const size_t k = static_cast<size_t>(i);
        order[s].at[static_cast<size_t>(next[s][k]++)] = j;
        if (partner > top[s][k]) {
            top[s][k] = partner;
            ++opened[s][k];
        }
    };
    threads::run(threads, threads, host_poll, [&](int32_t t, const threads::Poll& poll, int) {
        const int32_t first = lo(t);
        const int32_t past = lo(t + 1);
        for (const Side s : {by_second, by_first}) {
            int32_t at = offset[s][static_cast<size_t>(t)];
            for (int32_t i = first; i < past; ++i) {
                next[s][static_cast<size_t>(i)] = at;
                at += order[s].start[static_cast<size_t>(i) + 1];
                order[s].start[static_cast<size_t>(i) + 1] = at;
            }
        }
        for_each_taken<Variant>(links, io, poll, [&](int32_t j, int32_t a, int32_t b) {
            if (b >= first && b < past) file(by_second, b, a + 1, j);
            if (a >= first && a < past) file(by_first, a, b + 1, j);
            return true;
        });
    });
    // Every output created here.
    for (const Side s : {by_second, by_first})
        for (int32_t i = 0; i < in.n_index; ++i) {
            checks::poll_at(io, i);
            io.create(s, i, in.bucket_rows, opened[s][static_cast<size_t>(i)]);
        }
    // Folding, in ranges of about equal numbers of links.
    const int32_t parts = threads * 16;
    const int64_t links_taken = static_cast<int64_t>(order[by_second].at.size());
    threads::run(threads, parts, host_poll, [&](int32_t part, const threads::Poll& poll, int) {
        for (const Side s : {by_second, by_first}) {
            // The part's indices: those whose links start in its share.
            const std::vector<int32_t>& start = order[s].start;
            auto index_at = [&](int32_t p) {
                const int64_t share = (links_taken * p) / parts;
                return static_cast<int32_t>(
                    std::lower_bound(start.begin(), start.end() - 1, static_cast<int32_t>(share)) -
                    start.begin());
            };
            const int32_t first = part == 0 ? 0 : index_at(part);
            const int32_t past = part + 1 == parts ? in.n_index : index_at(part + 1);
            for (int32_t i = first; i < past; ++i) {
                checks::poll_at(poll, i);
                fetch_ahead(links, order[s], i, in.n_index);
                const DoubleMatrix out =
                    io.output(s, i, in.bucket_rows, opened[s][static_cast<size_t>(i)]);
                fold_index_into<Variant>(in, s, i, order[s], out);
            }
        }
    });
    return Overflow{-1, 0, false, 0};
}

} // namespace fold_links

#endif
