// SPDX-License-Identifier: BSD-3-Clause
// The host's array interface as the plug-ins' entry code sees it.
//
// Entry code calls the host operations under their 32-bit compatible names
// (mxGetDimensions_700, mxGetCell_700, ...), whatever host it is built for:
//
//   HOST_MATLAB    MATLAB's own headers, built with `mex -compatibleArrayDims`
//                  (sizes and indices are already signed 32-bit there);
//   HOST_OCTAVE    GNU Octave's headers, whose sizes are 64-bit: the inline
//                  wrappers below convert them and reject a dimension that
//                  does not fit a signed 32-bit integer;
//   HOST_EMULATED  our own host (host/emulated/), which exports the same
//                  C entry points as MATLAB's 32-bit API, for tests and
//                  benchmarks.
//
// The result of mxGetDimensions_700 is a pointer on MATLAB and the emulated
// host and a small value on Octave; entry code holds it with `auto` and reads
// elements [0] and [1] only.
//
// Kernels never include a host header: they work on the views declared in
// kernels/views.h and check their inputs through the accessor below.
#ifndef MEX_HOST_H
#define MEX_HOST_H

#include "checks.h"
#include "views.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(HOST_MATLAB) + defined(HOST_OCTAVE) + defined(HOST_EMULATED) != 1
#error "define exactly one of HOST_MATLAB, HOST_OCTAVE, HOST_EMULATED"
#endif

#if defined(HOST_MATLAB)

#ifndef MX_COMPAT_32
#error "build the plug-ins for MATLAB with: mex -compatibleArrayDims"
#endif
#include "mex.h"

static_assert(sizeof(mwSize) == 4 && sizeof(mwIndex) == 4,
              "the 32-bit compatible array API is required (-compatibleArrayDims)");

// Under MX_COMPAT_32 MATLAB's libmx exports these entry points; declaring them
// here keeps the names available whatever renaming macros matrix.h applies.
extern "C" {
const int* mxGetDimensions_700(const mxArray* a);
int mxGetNumberOfDimensions_700(const mxArray* a);
mxArray* mxGetCell_700(const mxArray* cell, int index);
void mxSetCell_700(mxArray* cell, int index, mxArray* value);
mxArray* mxCreateCellMatrix_700(int rows, int cols);
mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag);
mxArray* mxCreateNumericMatrix_700(int rows, int cols, mxClassID cls, mxComplexity flag);
}

#elif defined(HOST_OCTAVE)

#include "mex.h"

namespace mexhost {

[[noreturn]] void report(const checks::Fault& fault);

// The refusal of a size that does not fit in 32 bits (checks::narrow).
struct Refuse {
    [[noreturn]] void operator()(const checks::Fault& fault) const { report(fault); }
};

} // namespace mexhost

inline checks::Dims mxGetDimensions_700(const mxArray* a) {
    const mwSize* dims = mxGetDimensions(a);
    return checks::first_two(
        checks::narrow(mxGetNumberOfDimensions(a), mexhost::Refuse()),
        [dims](int i) { return dims[i]; }, mexhost::Refuse());
}
inline int mxGetNumberOfDimensions_700(const mxArray* a) {
    return checks::narrow(mxGetNumberOfDimensions(a), mexhost::Refuse());
}
inline mxArray* mxGetCell_700(const mxArray* cell, int index) {
    return mxGetCell(cell, index);
}
inline void mxSetCell_700(mxArray* cell, int index, mxArray* value) {
    mxSetCell(cell, index, value);
}
inline mxArray* mxCreateCellMatrix_700(int rows, int cols) {
    return mxCreateCellMatrix(rows, cols);
}
inline mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag) {
    return mxCreateDoubleMatrix(rows, cols, flag);
}
inline mxArray* mxCreateNumericMatrix_700(int rows, int cols, mxClassID cls, mxComplexity flag) {
    return mxCreateNumericMatrix(rows, cols, cls, flag);
}

#else // HOST_EMULATED

#include "emulated/mex_api.h"

#endif

// The plug-in's one export. The linker's version script keeps every other
// symbol local; this makes mexFunction visible even under -fvisibility=hidden.
#define MEX_ENTRY extern "C" TABLEFOLD_EXPORT void

namespace mexhost {

// The one error path of the entry code: the fault's message through the
// host's error call, with its identifier when it has one. The error call
// does not return; should a host ever return from it, the plug-in stops
// rather than run on with input it refused.
[[noreturn]] inline void report(const checks::Fault& fault) {
    if (fault.id[0])
        mexErrMsgIdAndTxt(fault.id, "%s", fault.message);
    else
        mexErrMsgTxt(fault.message);
    std::abort();
}

// The input checks' view of the host's arrays (see kernels/checks.h). Each
// member is one host call, or the untraced type queries, so the checks make
// exactly the calls they name, in their order.
struct Access {
    using Arg = const mxArray*;

    checks::Kind kind(Arg a) const {
        checks::Kind k;
        k.present = a != nullptr;
        if (!a) return k;
        k.is_double = mxIsDouble(a);
        k.number = mxIsNumeric(a) || mxIsLogical(a);
        k.complex = mxIsComplex(a);
        k.sparse = mxIsSparse(a);
        k.ndims = mxGetNumberOfDimensions_700(a);
        return k;
    }
    void class_name(Arg a, char* out, size_t size) const {
        std::snprintf(out, size, "%s", mxGetClassName(a));
    }
    bool is_empty(Arg a) const { return mxIsEmpty(a); }
    bool is_cell(Arg a) const { return mxIsCell(a); }
    checks::Dims dims(Arg a) const {
        const auto d = mxGetDimensions_700(a);
        return checks::Dims{{d[0], d[1]}};
    }
    uint64_t numel(Arg a) const { return mxGetNumberOfElements(a); }
    Arg cell(Arg list, int32_t i) const { return mxGetCell_700(list, i); }
    double scalar(Arg a) const { return mxGetScalar(a); }
    double* data(Arg a) const { return mxGetPr(a); }
    // The host acts on an interrupt only once a MEX file has returned.
    void poll() const {}
};

// Reports a fault when a check raised one.
inline void require(const checks::Fault& fault) {
    if (fault) report(fault);
}

} // namespace mexhost

#endif
