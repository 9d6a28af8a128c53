// SPDX-License-Identifier: BSD-3-Clause
// align_series on arbitrary arguments, and on valid lists against the reference.
#include "align_series_ref.h"
#include "fuzz_args.h"

namespace {

// Valid lists (random_inputs.h) against the reference.
void valid_call(FuzzedDataProvider& d) {
    fuzzargs::InputBits bits{d};
    const random_inputs::AlignCase c = random_inputs::align(bits);
    using support::list_of;
    auto l1 = list_of(c.in[0]), l2 = list_of(c.in[1]), l3 = list_of(c.in[2]), l4 = list_of(c.in[3]);
    const auto r =
        support::plugin("align_series").call(4, {l1.get(), l2.get(), l3.get(), l4.get()});
    fuzzargs::check(r);
    if (r.failed) fuzzargs::fail("valid input refused: " + r.error_message);
    fuzzargs::expect_reference(support::against_reference(
        r, reference::align_series(c.in[0], c.in[1], c.in[2], c.in[3], c.v, c.e, c.n), c.n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzargs::run("align_series", data, size, valid_call);
}
