// SPDX-License-Identifier: BSD-3-Clause
// align_series as a native Octave function: the kernel of align_series.h
// writing straight into the Octave arrays it returns.
#include "align_series.h"
#include "native.h"
#include "plugin_help.h"

namespace {

// The kernel's lists as Octave values: inputs read in place, each output
// entry written once into the memory it keeps.
class NativeIo {
  public:
    NativeIo(native::Access& h, const octave_value* const* in, const align_series::Shape& s)
        : h_(h), in_(in),
          value_rows_(s.v + 1), lists_{native::OutputList(s.n), native::OutputList(s.n),
                                       native::OutputList(s.n), native::OutputList(s.n)} {}

    void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b) {
        a = entry(in_[2], i, a.rows);
        b = entry(in_[3], i, b.rows);
    }
    void create(int32_t i, int32_t m, const int32_t (&rows)[4], DoubleMatrix (&out)[4]) {
        for (int k = 0; k < 4; ++k)
            out[k] = lists_[k].create(i, rows[k], m);
    }
    double nan() const { return lo_ieee_nan_value(); }
    DoubleMatrix values(int k, int32_t i) { return entry(in_[k], i, value_rows_); }
    void poll() const { native::poll(); }

    octave_value_list finish() {
        octave_value_list out(4);
        for (int k = 0; k < 4; ++k)
            out(k) = lists_[k].finish();
        return out;
    }

  private:
    DoubleMatrix entry(const octave_value* list, int32_t i, int32_t rows) {
        const octave_value* e = h_.cell(list, i);
        return DoubleMatrix{h_.data(e), rows, h_.dims(e)[1]};
    }

    native::Access& h_;
    const octave_value* const* in_;
    int32_t value_rows_;
    native::OutputList lists_[4];
};

} // namespace

DEFUN_DLD(align_series, args, nargout, PLUGIN_HELP) {
    return native::guarded([&] {
        native::Access h("align_series");
        const native::Args in(args);
        align_series::Shape shape;
        if (const checks::Fault f =
                align_series::check_inputs(h, nargout, in.count(), in.get(), shape))
            native::report(h.function(), f);

        NativeIo io(h, in.get(), shape);
        align_series::run(shape, io);
        return io.finish();
    });
}
