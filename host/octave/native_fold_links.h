// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked and fold_links_full as native Octave functions: the
// kernel of kernels/fold_links.h with its buckets in plain memory (the
// bucket store of kernels/plain_io.h) and its outputs written straight into
// the Octave arrays it returns.
#ifndef NATIVE_FOLD_LINKS_H
#define NATIVE_FOLD_LINKS_H

#include "fold_links.h"
#include "native.h"
#include "plain_io.h"

#include <vector>

namespace fold_links {

// The buckets in plain memory and the two output lists as Octave values.
class NativeIo {
  public:
    explicit NativeIo(const Inputs& in)
        : buckets_(in), outputs_{native::OutputList(in.n_index), native::OutputList(in.n_index)} {}

    bool is_nan(double x) const { return x != x; }
    DoubleMatrix filing(Side s, int32_t i) const { return buckets_(s, i); }
    DoubleMatrix bucket(Side s, int32_t i) const { return buckets_(s, i); }
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
    plain::Buckets buckets_;
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
        std::vector<int32_t> pairs(2 * static_cast<size_t>(in.n_index), 0);
        const Overflow full = file_links<V>(in.links, pairs.data(), io);
        if (full.link >= 0) native::report(V::name, overflow_fault<V>(full));
        fold<V>(in.n_index, io);
        return io.finish();
    });
}

} // namespace fold_links

#endif
