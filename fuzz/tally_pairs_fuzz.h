// SPDX-License-Identifier: BSD-3-Clause
// The tally_pairs fuzz targets: arbitrary arguments, and valid record lists
// compared with the reference (the tally, or the misspecification error).
#ifndef TALLY_PAIRS_FUZZ_H
#define TALLY_PAIRS_FUZZ_H

#include "fuzz_args.h"
#include "tally_pairs_ref.h"

namespace tallyfuzz {

// Valid record lists (random_inputs.h, wide or not) against the reference,
// on one of the tally's code paths (a path the processor lacks runs as the
// widest it has).
inline void valid_call(const char* name, bool full, FuzzedDataProvider& d) {
    setenv("TABLEFOLD_ISA", d.PickValueInArray({"generic", "avx2", "avx512"}), 1);
    const bool wide = d.ConsumeBool();
    fuzzargs::InputBits bits{d};
    const reference::TallyInput in = random_inputs::tally(bits, wide, wide);
    const auto got = support::plugin(name).call(1, support::arrays_of(in).args(full));
    fuzzargs::check(got);
    fuzzargs::expect_reference(support::against_reference(got, reference::tally_pairs(in, full)));
}

inline int run(const char* name, bool full, const uint8_t* data, size_t size) {
    return fuzzargs::run(name, data, size,
                         [&](FuzzedDataProvider& d) { valid_call(name, full, d); });
}

} // namespace tallyfuzz

#endif
