// SPDX-License-Identifier: BSD-3-Clause
// The benchmarks' straight-loops baseline of tally_pairs_full: a MEX file that
// copies its inputs into the plain reference's vectors and runs the reference
// loop nest (tests/reference/tally_pairs_ref.h) on them, as a user would
// transliterate the definition. Built with mkoctfile --mex and the plug-ins'
// flags when the benchmarks are configured; bench/octave_fresh.m times it
// against the native function and checks that both agree bit for bit.
//
//   T = tally_pairs_loops(W, S_OUT, R, r, F, F_SWITCH)
//
// It checks only what it needs not to crash on well-formed data (argument
// counts, classes, sizes and partner indices); it is no substitute for the
// plug-in's input checks.
#include "mex.h"

#include "tally_pairs_ref.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

bool is_real_double(const mxArray* a) {
    return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

// Copies the inputs, runs the loops and returns the tally, or null with a
// message. No object with a destructor outlives this call, so the caller may
// raise the host's error afterwards.
mxArray* tally(const mxArray* const* in, const char** message) {
    try {
        reference::TallyInput t;
        const mxArray* W = in[0];
        const mxArray* S = in[1];
        const mxArray* R = in[2];
        const mxArray* F = in[4];
        if (!is_real_double(W) || !mxIsCell(S) || !is_real_double(R) || !is_real_double(F)) {
            *message = "tally_pairs_loops: W, R and F must be real double matrices, S_OUT a cell";
            return nullptr;
        }
        t.K = int(mxGetM(W));
        t.G = int(mxGetN(W));
        if (t.G < 1 || mxGetNumberOfElements(S) < size_t(t.G) ||
            mxGetNumberOfElements(R) < size_t(t.K) * size_t(t.K) ||
            mxGetNumberOfElements(F) < 2 * size_t(t.G)) {
            *message = "tally_pairs_loops: inputs too small for W";
            return nullptr;
        }
        const mxArray* first = mxGetCell(S, 0);
        if (first == nullptr || !is_real_double(first) || mxGetM(first) < 2) {
            *message = "tally_pairs_loops: S_OUT{1} must be a real double matrix of 2 or more rows";
            return nullptr;
        }
        t.n = int(mxGetM(first));
        t.W.assign(mxGetPr(W), mxGetPr(W) + size_t(t.K) * size_t(t.G));
        t.R.assign(mxGetPr(R), mxGetPr(R) + size_t(t.K) * size_t(t.K));
        t.F.assign(mxGetPr(F), mxGetPr(F) + 2 * size_t(t.G));
        t.r = mxGetScalar(in[3]);
        t.F_switch = mxGetScalar(in[5]);
        if (!(t.r >= 0 && t.r < 2147483648.0)) {
            *message = "tally_pairs_loops: r must be from 0 to 2^31-1";
            return nullptr;
        }
        t.records.resize(size_t(t.G));
        for (int g = 0; g < t.G; ++g) {
            const mxArray* E = mxGetCell(S, size_t(g));
            if (E == nullptr || mxGetNumberOfElements(E) == 0) continue;
            if (!is_real_double(E) || mxGetM(E) != size_t(t.n)) {
                *message = "tally_pairs_loops: every entry of S_OUT must have n rows";
                return nullptr;
            }
            const double* e = mxGetPr(E);
            const size_t count = mxGetNumberOfElements(E);
            for (size_t j = 0; j < count; j += size_t(t.n)) {
                if (!(e[j] >= 1 && e[j] < double(t.G) + 1)) {
                    *message = "tally_pairs_loops: a partner index lies outside 1 to G";
                    return nullptr;
                }
            }
            t.records[size_t(g)].assign(e, e + count);
        }
        const reference::TallyResult result = reference::tally_pairs_full(t);
        if (result.misspecified) {
            *message = "Misspecification: R[k1,k2] > r\n";
            return nullptr;
        }
        mxArray* out = mxCreateDoubleMatrix(size_t(result.rows), size_t(result.cols), mxREAL);
        if (!result.v.empty())
            std::memcpy(mxGetPr(out), result.v.data(), result.v.size() * sizeof(double));
        return out;
    } catch (const std::bad_alloc&) {
        *message = "tally_pairs_loops: out of memory";
        return nullptr;
    }
}

} // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 6) mexErrMsgTxt("Incorrect number of input arguments");
    if (nlhs > 1) mexErrMsgTxt("Incorrect number of output arguments");
    const char* message = nullptr;
    mxArray* out = tally(prhs, &message);
    if (out == nullptr) mexErrMsgTxt(message);
    plhs[0] = out;
}
