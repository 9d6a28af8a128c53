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

// The two output lists as Octave values, created entry by entry as the
// fold goes (NativeIo) or all before a fold on several threads (ThreadedIo).
using NativeIo = OutputIo<native::OutputList, native::poll>;
using ThreadedIo = OutputIo<native::Outputs, native::poll>;

// The outputs of a finished call.
template <class Io> octave_value_list finish(Io& io) {
    octave_value_list out(2);
    out(0) = io.out[by_second].finish();
    out(1) = io.out[by_first].finish();
    return out;
}

// The whole native call of `Variant`.
template <class Variant>
octave_value_list native_entry(const octave_value_list& args, int nargout) {
    return native::checked_call<Inputs>(
        Variant::name, args, nargout, check_inputs<Variant, native::Access>,
        [](native::Access&, const native::Args&, const Inputs& in) {
            // Work: every link filed and folded on both sides, when there are
            // enough links per index that it outweighs creating the outputs
            // (which the calling thread does alone).
            const int64_t work =
                static_cast<int64_t>(in.links.cols) * (2 * static_cast<int64_t>(in.links.rows) + 4);
            const int threads = native::threads_for_work(
                work >= 64 * static_cast<int64_t>(in.n_index) ? work : 0, kThreadWork);
            if (threads > 1) {
                ThreadedIo io(in);
                const Overflow stop =
                    fold_in_place_threaded<Variant>(in, io, threads, native::poll);
                if (stop.link >= 0) native::report(Variant::name, overflow_fault<Variant>(stop));
                return finish(io);
            }
            NativeIo io(in);
            const Overflow stop = fold_in_place<Variant>(in, io);
            if (stop.link >= 0) native::report(Variant::name, overflow_fault<Variant>(stop));
            return finish(io);
        });
}

} // namespace fold_links

#endif
