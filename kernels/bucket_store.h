// SPDX-License-Identifier: BSD-3-Clause
// Link folding with its scratch in plain memory: the bucket store, and the
// io policy over it (see fold_links.h) that the native Octave functions, the
// tests and the benchmarks share. They differ only in the output lists they
// create and in whether a long call polls for an interrupt.
#ifndef KERNELS_BUCKET_STORE_H
#define KERNELS_BUCKET_STORE_H

#include "fold_links.h"
#include "views.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace fold_links {

// Both bucket lists in plain memory: each list one zero-filled block with its
// buckets side by side in index order, at the sizes the counts give.
class Buckets {
  public:
    explicit Buckets(const Inputs& in)
        : in_(in), start_{offsets(in, by_second), offsets(in, by_first)},
          block_{zeroed(start_[0].back()), zeroed(start_[1].back())} {}

    DoubleMatrix operator()(Side s, int32_t i) const {
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
    static std::vector<int64_t> offsets(const Inputs& in, Side s) {
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

    const Inputs& in_;
    std::vector<int64_t> start_[2];
    Zeroed block_[2];
};

// The fold's io policy over a bucket store and counters in plain memory.
// `Outputs` is an output list: constructed with N, it creates entry i with
// `DoubleMatrix create(int32_t i, int32_t rows, int32_t cols)`. `kPoll` is
// what poll() calls.
template <class Outputs, void (*kPoll)()> class StoreIo {
  public:
    explicit StoreIo(const Inputs& in)
        : buckets_(in),
          counters_(2 * static_cast<size_t>(in.n_index), 0), out{Outputs(in.n_index),
                                                                 Outputs(in.n_index)} {}

    bool is_nan(double x) const { return x != x; }
    DoubleMatrix filing(Side s, int32_t i) const { return buckets_(s, i); }
    DoubleMatrix bucket(Side s, int32_t i) const { return buckets_(s, i); }
    DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols) {
        return out[s].create(i, rows, cols);
    }
    int32_t* counters() { return counters_.data(); }
    void poll() const { kPoll(); }

  private:
    Buckets buckets_;
    std::vector<int32_t> counters_;

  public:
    Outputs out[2]; // by_second, by_first
};

} // namespace fold_links

#endif
