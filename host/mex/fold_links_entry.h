// SPDX-License-Identifier: BSD-3-Clause
// The MEX entry of fold_links_masked and fold_links_full: the kernel's
// buckets, counters and outputs as host arrays.
//
// Host calls, in the order MATLAB users' code has always seen them (keep
// every call and its place; they are the plug-ins' compatibility contract):
//   1. the argument counts: inputs first, then outputs;
//   2. mxGetPr of input 1 (links), then of input 2 (counts);
//      mxGetDimensions_700 of input 2 (N), then of input 1 (v, n);
//   3. four mxCreateCellMatrix_700(N, 1): output 1, stored in slot 1 at once;
//      output 2, stored in slot 2 at once; the second-end bucket list; the
//      first-end bucket list;
//   4. for i = 1..N: mxCreateDoubleMatrix_700(v - 1, count) stored with
//      mxSetCell_700 as second-end bucket i, then the same for first-end
//      bucket i;
//   5. mxCreateNumericMatrix_700(2, N, int64) and its mxGetPr: the counters;
//   6. per link: (masked) mxIsNaN of row 3; for a taken link, mxGetCell_700
//      and mxGetPr of second-end bucket b, then of first-end bucket a;
//   7. per entry of the second-end list, then of the first-end list:
//      mxGetCell_700 and mxGetPr of the bucket, mxGetCell_700 and
//      mxGetDimensions_700 of the bucket, mxCreateDoubleMatrix_700 of the
//      output entry, mxSetCell_700 into the output list, mxGetCell_700 and
//      mxGetPr of it;
//   8. mxDestroyArray of the second-end list, the first-end list and the
//      counters, in this order.
// The input checks add only type queries before step 2; every refusal but
// a bucket overflow comes before anything is created, and an overflow
// destroys every created array before it is reported.
#ifndef MEX_FOLD_LINKS_ENTRY_H
#define MEX_FOLD_LINKS_ENTRY_H

#include "fold_links.h"
#include "mex_host.h"

namespace fold_links {

// The kernel's buckets and outputs as host arrays (see the order above).
class MexIo {
  public:
    MexIo(const Inputs& in, mxArray* const (&buckets)[2], mxArray* const (&outputs)[2],
          int32_t* counters)
        : in_(in), buckets_{buckets[0], buckets[1]}, outputs_{outputs[0], outputs[1]},
          counters_(counters) {}

    bool is_nan(double x) const { return mxIsNaN(x); }
    DoubleMatrix filing(Side s, int32_t i) const {
        return DoubleMatrix{mxGetPr(mxGetCell_700(buckets_[s], i)), in_.bucket_rows,
                            in_.count(s, i)};
    }
    DoubleMatrix bucket(Side s, int32_t i) const {
        double* data = mxGetPr(mxGetCell_700(buckets_[s], i));
        const int32_t m = mxGetDimensions_700(mxGetCell_700(buckets_[s], i))[1];
        return DoubleMatrix{data, in_.bucket_rows, m};
    }
    DoubleMatrix create(Side s, int32_t i, int32_t rows, int32_t cols) const {
        mxSetCell_700(outputs_[s], i, mxCreateDoubleMatrix_700(rows, cols, mxREAL));
        return DoubleMatrix{mxGetPr(mxGetCell_700(outputs_[s], i)), rows, cols};
    }
    int32_t* counters() const { return counters_; }
    void poll() const {}

  private:
    const Inputs& in_;
    mxArray* buckets_[2];
    mxArray* outputs_[2];
    int32_t* counters_;
};

// The whole MEX call of `Variant`: counts and checks, outputs, scratch,
// kernel, scratch destroyed, errors.
template <class Variant>
void mex_entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexhost::Access host;
    Inputs in;
    mexhost::require(check_inputs<Variant>(host, nlhs, nrhs, prhs, in));
    const int32_t n_index = in.n_index;

    mxArray* const outputs[2] = {plhs[0] = mxCreateCellMatrix_700(n_index, 1),
                                 plhs[1] = mxCreateCellMatrix_700(n_index, 1)};
    mxArray* const buckets[2] = {mxCreateCellMatrix_700(n_index, 1),
                                 mxCreateCellMatrix_700(n_index, 1)};
    for (int32_t i = 0; i < n_index; ++i) {
        mxSetCell_700(buckets[by_second], i,
                      mxCreateDoubleMatrix_700(in.bucket_rows, in.count(by_second, i), mxREAL));
        mxSetCell_700(buckets[by_first], i,
                      mxCreateDoubleMatrix_700(in.bucket_rows, in.count(by_first, i), mxREAL));
    }
    // N pairs of 32-bit counters in the storage of 64-bit elements 0..N-1,
    // created zero-filled. The storage is only ever accessed as int32_t.
    mxArray* const storage = mxCreateNumericMatrix_700(2, n_index, mxINT64_CLASS, mxREAL);
    int32_t* const counters = static_cast<int32_t*>(static_cast<void*>(mxGetPr(storage)));

    MexIo io(in, buckets, outputs, counters);
    const Overflow stop = run<Variant>(in, io);

    mxDestroyArray(buckets[by_second]);
    mxDestroyArray(buckets[by_first]);
    mxDestroyArray(storage);
    if (stop.link >= 0) {
        // Nothing of this call may outlive the error: the outputs go too.
        plhs[0] = nullptr;
        plhs[1] = nullptr;
        mxDestroyArray(outputs[0]);
        mxDestroyArray(outputs[1]);
        mexhost::report(overflow_fault<Variant>(stop));
    }
}

} // namespace fold_links

#endif
