// fold_links_masked and fold_links_full as native Octave functions: the
// kernel of kernels/fold_links.h with its buckets in plain memory and its
// outputs written straight into the Octave arrays it returns.
#ifndef NATIVE_FOLD_LINKS_H
#define NATIVE_FOLD_LINKS_H

#include "fold_links.h"
#include "native.h"

#include <vector>

namespace fold_links {

// The buckets of both lists, each list one zero-filled block with its
// buckets side by side in index order, and the two output lists.
class NativeIo {
  public:
    explicit NativeIo(const Inputs& in)
        : in_(in), start_{offsets(in, by_second), offsets(in, by_first)},
          block_{native::Scratch<double>(static_cast<size_t>(start_[0].back())),
                 native::Scratch<double>(static_cast<size_t>(start_[1].back()))},
          outputs_{native::OutputList(in.n_index), native::OutputList(in.n_index)} {}

    bool is_nan(double x) const { return x != x; }
    DoubleMatrix filing(Side s, int32_t i) const { return bucket(s, i); }
    DoubleMatrix bucket(Side s, int32_t i) const {
        return DoubleMatrix{block_[s].get() + start_[s][static_cast<size_t>(i)], in_.bucket_rows,
                            in_.count(s, i)};
    }
    DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols) {
        return outputs_[s].create(i, rows, cols);
    }
    void poll() const { native::poll(); }

    octave_value_list finish() {
        octave_value_list out(2);
        out(0) = outputs_[by_second].finish();
        out(1) = outputs_[by_first].finish();
        return out;
    }

  private:
    // Where each bucket of one list starts in its block, and the block's
    // size last.
    static std::vector<int64_t> offsets(const Inputs& in, Side s) {
        std::vector<int64_t> start(static_cast<size_t>(in.n_index) + 1, 0);
        for (int32_t i = 0; i < in.n_index; ++i)
            start[static_cast<size_t>(i) + 1] =
                start[static_cast<size_t>(i)] +
                static_cast<int64_t>(in.bucket_rows) * in.count(s, i);
        return start;
    }

    const Inputs& in_;
    std::vector<int64_t> start_[2];
    native::Scratch<double> block_[2];
    native::OutputList outputs_[2];
};

// The whole native call of variant V.
template <class V> octave_value_list native_entry(const octave_value_list& args, int nargout) {
    return native::guarded([&] {
        native::Access h(V::name);
        const native::Args a(args);
        Inputs in;
        if (const checks::Fault f = check_inputs<V>(h, nargout, a.count(), a.get(), in))
            native::report(V::name, f);

        NativeIo io(in);
        native::Scratch<int32_t> pairs(2 * static_cast<size_t>(in.n_index));
        const Overflow full = file_links<V>(in.links, pairs.get(), io);
        if (full.link >= 0) native::report(V::name, overflow_fault<V>(full));
        fold<V>(in.n_index, io);
        return io.finish();
    });
}

} // namespace fold_links

#endif
