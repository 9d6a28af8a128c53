// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_full and tally_pairs_masked as native Octave functions: the
// loop nest of kernels/tally_pairs.h over the record list in place.
#ifndef NATIVE_TALLY_PAIRS_H
#define NATIVE_TALLY_PAIRS_H

#include "native.h"
#include "tally_pairs.h"

namespace tally_pairs {

// The record list and F_switch as Octave values. F_switch is read when a
// NaN record first needs it; its value cannot change within the call.
class NativeIo {
  public:
    NativeIo(native::Access& h, const octave_value* list, const octave_value* f_switch, int32_t n)
        : h_(h), list_(list), f_switch_(f_switch), n_(n) {}

    DoubleMatrix records(int32_t g) {
        const octave_value* e = h_.cell(list_, g);
        const int32_t m = h_.dims(e)[1];
        return DoubleMatrix{m > 0 ? h_.data(e) : nullptr, n_, m};
    }
    bool is_nan(double x) const { return x != x; }
    double read_switch() {
        if (!switch_read_) {
            switch_ = h_.scalar(f_switch_);
            switch_read_ = true;
        }
        return switch_;
    }
    void poll() const { native::poll(); }

  private:
    native::Access& h_;
    const octave_value* list_;
    const octave_value* f_switch_;
    int32_t n_;
    double switch_ = 0.0;
    bool switch_read_ = false;
};

// The record list looked up on the calling thread, for a call whose tally
// may run on several threads: every thread reads the records through plain
// views; F_switch and poll as in NativeIo, on the calling thread.
class ListedIo {
  public:
    ListedIo(native::Access& h, const octave_value* list, const octave_value* f_switch, int32_t n,
             int32_t G)
        : io_(h, list, f_switch, n), records_(static_cast<size_t>(G)) {
        for (int32_t g = 0; g < G; ++g) {
            checks::poll_at(h, g);
            records_[static_cast<size_t>(g)] = io_.records(g);
        }
    }

    DoubleMatrix records(int32_t g) const { return records_[static_cast<size_t>(g)]; }
    bool is_nan(double x) const { return x != x; }
    double read_switch() { return io_.read_switch(); }
    void poll() const { native::poll(); }

  private:
    NativeIo io_;
    std::vector<DoubleMatrix> records_;
};

// The whole native call of `Variant`.
template <class Variant>
octave_value_list native_entry(const octave_value_list& args, int nargout) {
    return native::checked_call<Inputs>(
        Variant::name, args, nargout, check_inputs<Variant, native::Access>,
        [](native::Access& h, const native::Args& a, const Inputs& in) {
            NDArray tally(dim_vector(in.rows, in.r), 0.0);
            const DoubleMatrix out{tally.fortran_vec(), in.rows, in.r};
            ListedIo io(h, a.get()[1], Variant::nan_records ? a.get()[5] : nullptr, in.n,
                        in.W.cols);
            const Status status =
                run_threaded<Variant>(in, out, io, threads::for_call(), native::poll);
            if (const checks::Fault f = status_fault<Variant>(status))
                native::report(Variant::name, f);
            return octave_value_list(octave_value(tally));
        });
}

} // namespace tally_pairs

#endif
