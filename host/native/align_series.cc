// SPDX-License-Identifier: BSD-3-Clause
// align_series as a native Octave function: the kernel of align_series.h
// writing straight into the Octave arrays it returns.
#include "align_series.h"
#include "native.h"
#include "plugin_help.h"

namespace {

// The four output lists, of type List (native::OutputList or
// native::Outputs), and what both io policies below share.
template <class List> class OutputLists {
  public:
    explicit OutputLists(int32_t n) : lists_{List(n), List(n), List(n), List(n)} {}

    void create(int32_t i, int32_t m, const int32_t (&rows)[4], DoubleMatrix (&out)[4]) {
        for (int k = 0; k < 4; ++k)
            out[k] = lists_[k].create(i, rows[k], m);
    }
    double nan() const { return lo_ieee_nan_value(); }
    void poll() const { native::poll(); }

    octave_value_list finish() {
        octave_value_list out(4);
        for (int k = 0; k < 4; ++k)
            out(k) = lists_[k].finish();
        return out;
    }

  protected:
    List lists_[4];
};

// The kernel's lists as Octave values: inputs read in place, each output
// entry written once into the memory it keeps.
class NativeIo : public OutputLists<native::OutputList> {
  public:
    NativeIo(native::Access& h, const octave_value* const* in, const align_series::Shape& s)
        : OutputLists(s.n), h_(h), in_(in), value_rows_(s.v + 1) {}

    void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b) {
        a = entry(in_[2], i, a.rows);
        b = entry(in_[3], i, b.rows);
    }
    DoubleMatrix values(int k, int32_t i) { return entry(in_[k], i, value_rows_); }

  private:
    DoubleMatrix entry(const octave_value* list, int32_t i, int32_t rows) {
        const octave_value* e = h_.cell(list, i);
        return DoubleMatrix{h_.data(e), rows, h_.dims(e)[1]};
    }

    native::Access& h_;
    const octave_value* const* in_;
    int32_t value_rows_;
};

// The same lists for a call on several threads: every input entry the
// kernel reads is looked up on the calling thread first, so that the
// threads read plain views; outputs are created on the calling thread
// (native::Outputs) and written by the threads.
class ThreadedIo : public OutputLists<native::Outputs> {
  public:
    ThreadedIo(native::Access& h, const octave_value* const* in, const align_series::Shape& s)
        : OutputLists(s.n), value_rows_(s.v + 1), e_(s.e) {
        for (int k = s.v > 0 ? 0 : 2; k < 4; ++k) {
            in_[k].resize(static_cast<size_t>(s.n));
            for (int32_t i = 0; i < s.n; ++i) {
                checks::poll_at(h, i);
                const octave_value* e = h.cell(in[k], i);
                const int32_t cols = h.dims(e)[1];
                in_[k][static_cast<size_t>(i)] =
                    DoubleMatrix{cols > 0 ? h.data(e) : nullptr, k < 2 ? value_rows_ : e_, cols};
            }
        }
    }

    void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b) const {
        a = in_[2][static_cast<size_t>(i)];
        b = in_[3][static_cast<size_t>(i)];
    }
    void output(int32_t i, int32_t m, DoubleMatrix (&out)[4]) const {
        for (int k = 0; k < 4; ++k)
            out[k] = DoubleMatrix{lists_[k].data(i), k < 2 ? value_rows_ : e_, m};
    }
    DoubleMatrix values(int k, int32_t i) const { return in_[k][static_cast<size_t>(i)]; }

  private:
    int32_t value_rows_;
    int32_t e_;
    std::vector<DoubleMatrix> in_[4];
};

// Threads worth starting for a call: its elements written, when entries
// are large enough that writing them outweighs creating them (which the
// calling thread does alone), against what a thread costs to start.
int threads_for(const align_series::Shape& s) {
    const int64_t elements = s.keys * (2 * int64_t(s.v + 1) + 2 * int64_t(s.e));
    return native::threads_for_work(elements >= 256 * int64_t(s.n) ? elements : 0,
                                    align_series::kThreadWork);
}

} // namespace

DEFUN_DLD(align_series, args, nargout, PLUGIN_HELP) {
    return native::checked_call<align_series::Shape>(
        "align_series", args, nargout, align_series::check_inputs<native::Access>,
        [](native::Access& h, const native::Args& in, const align_series::Shape& shape) {
            const int threads = threads_for(shape);
            if (threads > 1) {
                ThreadedIo io(h, in.get(), shape);
                align_series::run_threaded(shape, io, threads, native::poll);
                return io.finish();
            }
            NativeIo io(h, in.get(), shape);
            align_series::run(shape, io);
            return io.finish();
        });
}
