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
#include <atomic>
#include <cstdint>
#include <vector>

namespace fold_links {

// The work (every link filed and folded on both sides, its rows counted)
// that pays for a second thread: a call of less took longer on two threads
// than on one here.
inline constexpr int64_t kThreadWork = int64_t(1) << 22;

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

// The sides a pass serves: by_second, by_first or both.
enum Sides : int { second_side = 1, first_side = 2, both_sides = 3 };
inline bool serves(Sides sides, Side s) {
    return (sides & (s == by_second ? second_side : first_side)) != 0;
}

// The scratch of the counting and ordering passes, every piece allocated by
// the calling thread (a thread that allocates gets an allocator arena of its
// own, whose memory stays with the process): the links of each side in
// order, where each index's next link goes, and, for the threaded fold, each
// index's output columns and the highest partner end that opened one.
struct Ordering {
    LinkOrder order[2];
    std::vector<int32_t> next[2];
    std::vector<int32_t> opened[2];
    std::vector<int32_t> top[2];

    explicit Ordering(int32_t n_index) {
        for (LinkOrder& o : order)
            o.start.assign(static_cast<size_t>(n_index) + 1, 0);
    }
    // After counting: where each index's links start, room for their
    // positions, and (with `columns`) for the output columns of each index.
    void prepare(bool columns) {
        for (const Side s : {by_second, by_first}) {
            LinkOrder& o = order[s];
            const size_t n_index = o.start.size() - 1;
            for (size_t i = 0; i < n_index; ++i)
                o.start[i + 1] += o.start[i];
            o.at.resize(static_cast<size_t>(o.start[n_index]));
            next[s].assign(o.start.begin(), o.start.end() - 1);
            if (columns) {
                opened[s].assign(n_index, 0);
                top[s].assign(n_index, 0);
            }
        }
    }
};

// The counting pass of `sides`, in link order: order[s].start[i + 1] counts
// index i's links on side s. Returns the first link a bucket of those sides
// has no room for, its second end before its first (link -1: none), where
// the pass stops.
template <class Variant, class Io, class Poller>
Overflow count_links(const Inputs& in, const Io& io, const Poller& poller, Sides sides,
                     Ordering& o) {
    const bool second = serves(sides, by_second);
    const bool first = serves(sides, by_first);
    Overflow stop{-1, 0, false, 0};
    // Takes link j into index i's bucket on side s, or stops where it is full.
    auto take = [&](Side s, int32_t i, int32_t j) {
        int32_t& taken = o.order[s].start[static_cast<size_t>(i) + 1];
        if (taken >= in.count(s, i)) {
            stop = Overflow{j, i, s == by_second, in.count(s, i)};
            return false;
        }
        ++taken;
        return true;
    };
    for_each_taken<Variant>(in.links, io, poller, [&](int32_t j, int32_t a, int32_t b) {
        return (!second || take(by_second, b, j)) && (!first || take(by_first, a, j));
    });
    return stop;
}

// The ordering pass of `sides` once `o` is prepared: the positions of each
// index's links, in link order, and where `o` has room for them, each
// index's output columns (count_opened, counted on the way: a partner end
// above the highest so far opens one).
template <class Variant, class Io, class Poller>
void order_links(const Inputs& in, const Io& io, const Poller& poller, Sides sides, Ordering& o) {
    auto file = [&](Side s, int32_t i, int32_t partner, int32_t j) {
        const size_t k = static_cast<size_t>(i);
        o.order[s].at[static_cast<size_t>(o.next[s][k]++)] = j;
        if (!o.opened[s].empty() && partner > o.top[s][k]) {
            o.top[s][k] = partner;
            ++o.opened[s][k];
        }
    };
    const bool second = serves(sides, by_second);
    const bool first = serves(sides, by_first);
    for_each_taken<Variant>(in.links, io, poller, [&](int32_t j, int32_t a, int32_t b) {
        if (second) file(by_second, b, a + 1, j);
        if (first) file(by_first, a, b + 1, j);
        return true;
    });
}

// Files and folds the checked inputs `in` of `Variant`: by_second, then
// by_first, as the bucket kernel does. A bucket that would receive more
// links than its count ends the call before any output exists, at the link
// where the bucket kernel's filing stops (the returned Overflow says which);
// otherwise the returned Overflow's link is -1.
template <class Variant, class Io> Overflow fold_in_place(const Inputs& in, Io& io) {
    const DoubleMatrix& links = in.links;
    Ordering o(in.n_index);
    const Overflow stop = count_links<Variant>(in, io, io, both_sides, o);
    if (stop.link >= 0) return stop;
    o.prepare(false);
    order_links<Variant>(in, io, io, both_sides, o);
    const LinkOrder(&order)[2] = o.order;
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

// The same fold on `threads` threads (threads.h). Counting and ordering run
// one side a thread (each reads every link); then the calling thread
// creates every output, in the order fold_in_place creates them, while the
// other threads fold the entries created so far, in parts of about equal
// numbers of links, and joins them once it is done. Each output entry is
// written by one thread, from the links of its index in link order, as
// fold_in_place writes it; the overflow returned is the one fold_in_place
// finds. Besides the members fold_in_place uses, `io` offers
//   DoubleMatrix output(Side s, int32_t i, int32_t rows, int32_t cols)
//        entry i of output s, once created; may be called from any thread;
// its is_nan may be called from any thread too, its create and poll on the
// calling thread alone. `host_poll` is the host's poll on the calling
// thread. Scratch: that of fold_in_place and two more counts per index and
// side.
template <class Variant, class Io>
Overflow fold_in_place_threaded(const Inputs& in, Io& io, int threads, void (*host_poll)()) {
    const DoubleMatrix& links = in.links;
    Ordering o(in.n_index);
    const Sides side_of[2] = {second_side, first_side};
    Overflow stop[2] = {{-1, 0, false, 0}, {-1, 0, false, 0}};
    threads::run(threads, 2, host_poll, [&](int32_t s, const threads::Poll& poll, int) {
        stop[s] = count_links<Variant>(in, io, poll, side_of[s], o);
    });
    // The overflow at the first link, its second end before its first.
    if (stop[by_second].link >= 0 &&
        (stop[by_first].link < 0 || stop[by_second].link <= stop[by_first].link))
        return stop[by_second];
    if (stop[by_first].link >= 0) return stop[by_first];
    o.prepare(true);
    threads::run(threads, 2, host_poll, [&](int32_t s, const threads::Poll& poll, int) {
        order_links<Variant>(in, io, poll, side_of[s], o);
    });
    const LinkOrder(&order)[2] = o.order;
    const std::vector<int32_t>(&opened)[2] = o.opened;

    // Output entry g of the sequence in which they are created: side
    // g / n_index, index g % n_index. `created` counts those created.
    const int64_t n_index = in.n_index;
    const int64_t total = 2 * n_index;
    std::atomic<int64_t> created{0};
    auto create_all = [&] {
        for (const Side s : {by_second, by_first})
            for (int32_t i = 0; i < in.n_index; ++i) {
                checks::poll_at(io, i);
                io.create(s, i, in.bucket_rows, opened[s][static_cast<size_t>(i)]);
                created.store(s * n_index + i + 1, std::memory_order_release);
            }
    };
    // Part p folds the entries whose links start in its share of all links.
    const int32_t parts = threads * 16;
    const int64_t taken = static_cast<int64_t>(order[by_second].at.size());
    auto entry_at = [&](int32_t p) -> int64_t {
        if (p == 0) return 0;
        if (p == parts) return total;
        const int64_t share = 2 * taken * p / parts;
        const Side s = share <= taken ? by_second : by_first;
        const std::vector<int32_t>& start = order[s].start;
        const int64_t at = s == by_second ? share : share - taken;
        return s * n_index + (std::lower_bound(start.begin(), start.end() - 1, at) - start.begin());
    };
    auto fold_part = [&](int32_t part, const threads::Poll& poll, int) {
        const int64_t past = entry_at(part + 1);
        for (int64_t g = entry_at(part); g < past; ++g) {
            while (created.load(std::memory_order_acquire) <= g) {
                poll.poll();
                threads::pause();
            }
            const Side s = g < n_index ? by_second : by_first;
            const int32_t i = static_cast<int32_t>(g - s * n_index);
            checks::poll_at(poll, i);
            fetch_ahead(links, order[s], i, in.n_index);
            const DoubleMatrix out =
                io.output(s, i, in.bucket_rows, opened[s][static_cast<size_t>(i)]);
            fold_index_into<Variant>(in, s, i, order[s], out);
        }
    };
    threads::run(threads, parts, host_poll, fold_part, create_all);
    return Overflow{-1, 0, false, 0};
}

} // namespace fold_links

#endif
