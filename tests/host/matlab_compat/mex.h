// SPDX-License-Identifier: BSD-3-Clause
// A stand-in for MATLAB's mex.h, written for one purpose: to compile the
// plug-ins' MATLAB branch of host/mex_host.h on a machine without MATLAB.
// The emulated host already declares MATLAB's 32-bit compatible API with its
// names, types and values (the sized functions under their _700 names); this
// header adds what -compatibleArrayDims presents on top of it: 32-bit mwSize
// and mwIndex, and the macros that rename the sized functions, so that code
// written with the plain names reaches the _700 ones. Nothing is linked
// against it.
#ifndef MATLAB_COMPAT_STUB_MEX_H
#define MATLAB_COMPAT_STUB_MEX_H

#include "emulated/mex_api.h"

typedef int mwSize;
typedef int mwIndex;

#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxGetCell mxGetCell_700
#define mxSetCell mxSetCell_700
#define mxCreateCellMatrix mxCreateCellMatrix_700
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericMatrix mxCreateNumericMatrix_700

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#endif
