// SPDX-License-Identifier: BSD-3-Clause
// A plug-in that breaks the host's rules on purpose, one rule per mode
// (prhs[0] holds the mode), so the tests can show the emulated host catches
// each. Modes: 0 behaves; 1 leaks; 2 writes an input; 3 writes past an
// output's data; 4 destroys an input; 5 stores one array twice; 6 uses an
// array after destroying it; 7 lets a C++ exception out; 8 reports an error
// after storing an output; 9 leaks a cell with its entry; 10 reads a cell
// entry out of range; 11 writes past the output slots; 12 runs the host out
// of memory while holding scratch.
#include "mex_host.h"

#include <stdexcept>

MEX_ENTRY mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
    const int mode = static_cast<int>(mxGetScalar(prhs[0]));
    mxArray* out = mxCreateDoubleMatrix_700(2, 2, mxREAL);
    plhs[0] = out;
    switch (mode) {
    case 1:
        mxCreateDoubleMatrix_700(1, 1, mxREAL);
        break;
    case 2:
        mxGetPr(prhs[0])[0] = 99;
        break;
    case 3:
        mxGetPr(out)[4] = 1;
        break;
    case 4:
        mxDestroyArray(const_cast<mxArray*>(prhs[0]));
        break;
    case 5: {
        mxArray* c = mxCreateCellMatrix_700(1, 1);
        mxSetCell_700(c, 0, out);
        plhs[1] = c;
        break;
    }
    case 6: {
        mxArray* t = mxCreateDoubleMatrix_700(1, 1, mxREAL);
        mxDestroyArray(t);
        mxGetPr(t);
        break;
    }
    case 7:
        throw std::runtime_error("escaped");
    case 8:
        mexErrMsgIdAndTxt("test:failed", "failed with %d", 42);
        break;
    case 9: {
        mxArray* c = mxCreateCellMatrix_700(2, 1);
        mxSetCell_700(c, 1, mxCreateDoubleMatrix_700(1, 1, mxREAL));
        break;
    }
    case 10:
        mxGetCell_700(prhs[1], 5);
        break;
    case 11:
        plhs[3] = mxCreateDoubleMatrix_700(1, 1, mxREAL);
        break;
    case 12:
        mxCreateDoubleMatrix_700(1, 1, mxREAL);
        mxCreateDoubleMatrix_700(1000, 1000, mxREAL);
        break;
    default:
        mxGetPr(out)[3] = 7;
        break;
    }
}
