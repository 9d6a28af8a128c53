// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked and fold_links_full as native Octave functions: the
// links folded in place (kernels/fold_links_in_place.h), with scratch that
// grows with the links rather than the counts, and the outputs written
// straight into the Octave arrays they return.
#ifndef NATIVE_FOLD_LINKS_H
#define NATIVE_FOLD_LINKS_H

#include "fold_links_in_place.h"
#include "native.h"

namespace fold_links {

// The two output lists as Octave values.
class NativeIo {
  public:
    explicit NativeIo(const Inputs& in)
        : outputs_{native::OutputList(in.n_index), native::OutputList(in.n_index)} {}

    bool is_nan(double x) const { return x != x; }
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
        const Overflow full = fold_in_place<V>(in, io);
        if (full.link >= 0) native::report(V::name, overflow_fault<V>(full));
        return io.finish();
    });
}

} // namespace fold_links

#endif
