// SPDX-License-Identifier: BSD-3-Clause
// The kernels' io policies over plain memory: the kernels run with no host
// at all, for tests and benchmarks.
#ifndef TEST_PLAIN_IO_H
#define TEST_PLAIN_IO_H

#include "align_series.h"
#include "fold_links.h"
#include "fold_links_in_place.h"
#include "tally_pairs.h"
#include "views.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

// An ordered list of matrices in plain memory, entry i addressed from 0.
struct CellList {
    const DoubleMatrix* entries;
    int32_t count;

    const DoubleMatrix& operator[](int32_t index) const { return entries[index]; }
};

namespace plain {

// A block of doubles that the kernel fills, uninitialised until then.
using Block = std::unique_ptr<double[]>;

// An output list whose entries the kernel creates: each one a block of its
// own, viewed by `entries`.
struct OutputList {
    std::vector<Block> blocks;
    std::vector<DoubleMatrix> entries;

    explicit OutputList(int32_t n)
        : blocks(static_cast<size_t>(n)), entries(static_cast<size_t>(n)) {}
    DoubleMatrix create(int32_t i, int32_t rows, int32_t cols) {
        const size_t at = static_cast<size_t>(i);
        blocks[at].reset(new double[static_cast<size_t>(rows) * static_cast<size_t>(cols)]);
        entries[at] = DoubleMatrix{blocks[at].get(), rows, cols};
        return entries[at];
    }
    double* data(int32_t i) const { return blocks[static_cast<size_t>(i)].get(); }
};

// ---- align_series --------------------------------------------------------------

class AlignIo {
  public:
    // `in` holds inputs 1 to 4; inputs 1 and 2 are read only when V > 0.
    AlignIo(const CellList (&in)[4], const align_series::Shape& s)
        : in_{in[0], in[1], in[2], in[3]},
          value_rows_(s.v + 1), out{OutputList(s.n), OutputList(s.n), OutputList(s.n),
                                    OutputList(s.n)} {}

    void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b) const {
        a = DoubleMatrix{in_[2][i].data, a.rows, in_[2][i].cols};
        b = DoubleMatrix{in_[3][i].data, b.rows, in_[3][i].cols};
    }
    void create(int32_t i, int32_t m, const int32_t (&rows)[4], DoubleMatrix (&views)[4]) {
        for (int k = 0; k < 4; ++k)
            views[k] = out[k].create(i, rows[k], m);
    }
    double nan() const { return std::numeric_limits<double>::quiet_NaN(); }
    DoubleMatrix values(int k, int32_t i) const {
        return DoubleMatrix{in_[k][i].data, value_rows_, in_[k][i].cols};
    }
    void output(int32_t i, int32_t, DoubleMatrix (&views)[4]) const {
        for (int k = 0; k < 4; ++k)
            views[k] = out[k].entries[static_cast<size_t>(i)];
    }
    void poll() const {}

  private:
    CellList in_[4];
    int32_t value_rows_;

  public:
    OutputList out[4];
};

// ---- fold_links ----------------------------------------------------------------

// Both bucket lists in plain memory: each list one zero-filled block with its
// buckets side by side in index order, at the sizes the counts give.
class Buckets {
  public:
    explicit Buckets(const fold_links::Inputs& in)
        : in_(in), start_{offsets(in, fold_links::by_second), offsets(in, fold_links::by_first)},
          block_{zeroed(start_[0].back()), zeroed(start_[1].back())} {}

    DoubleMatrix operator()(fold_links::Side s, int32_t i) const {
        return DoubleMatrix{block_[s].get() + start_[s][static_cast<size_t>(i)], in_.bucket_rows,
                            in_.count(s, i)};
    }

  private:
    struct Free {
        void operator()(double* p) const { std::free(p); }
    };
    using Zeroed = std::unique_ptr<double, Free>;

    // Where each bucket of one list starts in its block; the block's size
    // last.
    static std::vector<int64_t> offsets(const fold_links::Inputs& in, fold_links::Side s) {
        std::vector<int64_t> start(static_cast<size_t>(in.n_index) + 1, 0);
        for (int32_t i = 0; i < in.n_index; ++i)
            start[static_cast<size_t>(i) + 1] =
                start[static_cast<size_t>(i)] +
                static_cast<int64_t>(in.bucket_rows) * in.count(s, i);
        return start;
    }
    // calloc: large blocks come as fresh zero pages, with no fill pass.
    static Zeroed zeroed(int64_t n) {
        double* p =
            static_cast<double*>(std::calloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(double)));
        if (!p) throw std::bad_alloc();
        return Zeroed(p);
    }

    const fold_links::Inputs& in_;
    std::vector<int64_t> start_[2];
    Zeroed block_[2];
};

inline void no_poll() {}

// Both fold kernels' io over plain memory: the outputs (out[0]: by_second,
// out[1]: by_first), and for the bucket kernel the buckets and the fill
// counters.
class FoldIo : public fold_links::OutputIo<OutputList, no_poll> {
  public:
    explicit FoldIo(const fold_links::Inputs& in)
        : OutputIo(in), buckets_(in), counters_(2 * static_cast<size_t>(in.n_index), 0) {}

    DoubleMatrix filing(fold_links::Side s, int32_t i) const { return buckets_(s, i); }
    DoubleMatrix bucket(fold_links::Side s, int32_t i) const { return buckets_(s, i); }
    int32_t* counters() { return counters_.data(); }

  private:
    Buckets buckets_;
    std::vector<int32_t> counters_;
};

// ---- tally_pairs ---------------------------------------------------------------

class TallyIo {
  public:
    // `records` holds at least G entries, each viewed with n rows.
    TallyIo(const CellList& records, int32_t n, double f_switch)
        : records_(records), n_(n), f_switch_(f_switch) {}

    DoubleMatrix records(int32_t g) const {
        return DoubleMatrix{records_[g].data, n_, records_[g].cols};
    }
    bool is_nan(double x) const { return x != x; }
    double read_switch() {
        ++switch_reads;
        return f_switch_;
    }
    void poll() const {}

    int64_t switch_reads = 0; // how often the kernel read F_switch

  private:
    CellList records_;
    int32_t n_;
    double f_switch_;
};

} // namespace plain

#endif
