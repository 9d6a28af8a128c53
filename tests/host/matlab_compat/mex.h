// SPDX-License-Identifier: BSD-3-Clause
// A stand-in for MATLAB's mex.h, written for one purpose: to compile the
// plug-ins' MATLAB branch of host/mex_host.h on a machine without MATLAB. It
// declares the 32-bit compatible API the way -compatibleArrayDims presents
// it (sizes and indices are int; the sized functions carry the _700 names).
// Nothing is linked against it.
#ifndef MATLAB_COMPAT_STUB_MEX_H
#define MATLAB_COMPAT_STUB_MEX_H

#include <cstddef>

extern "C" {
typedef struct mxArray_tag mxArray;
typedef int mwSize;
typedef int mwIndex;
typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;
typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxGetCell mxGetCell_700
#define mxSetCell mxSetCell_700
#define mxCreateCellMatrix mxCreateCellMatrix_700
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericMatrix mxCreateNumericMatrix_700

void mexErrMsgTxt(const char* message);
void mexErrMsgIdAndTxt(const char* id, const char* format, ...);
double* mxGetPr(const mxArray* a);
const mwSize* mxGetDimensions(const mxArray* a);
mwSize mxGetNumberOfDimensions(const mxArray* a);
size_t mxGetNumberOfElements(const mxArray* a);
mxArray* mxGetCell(const mxArray* a, mwIndex i);
void mxSetCell(mxArray* a, mwIndex i, mxArray* value);
mxArray* mxCreateCellMatrix(mwSize m, mwSize n);
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID cls, mxComplexity flag);
void mxDestroyArray(mxArray* a);
bool mxIsEmpty(const mxArray* a);
bool mxIsCell(const mxArray* a);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsSparse(const mxArray* a);
bool mxIsNumeric(const mxArray* a);
bool mxIsLogical(const mxArray* a);
const char* mxGetClassName(const mxArray* a);
double mxGetScalar(const mxArray* a);
bool mxIsNaN(double value);
double mxGetNaN(void);
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
}

#endif
