// SPDX-License-Identifier: BSD-3-Clause
// The C entry points of the emulated host: the same names, types and values
// as MATLAB's 32-bit compatible array API, so a plug-in built against this
// header resolves its host symbols from the emulated host when it is loaded,
// the way a MATLAB plug-in resolves them from MATLAB.
#ifndef MEX_EMULATED_API_H
#define MEX_EMULATED_API_H

#include <cstddef>

extern "C" {

typedef struct mxArray_tag mxArray;

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

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

// Exported from the emulated host's libraries: default visibility on ELF;
// on Windows their link exports every function of their own objects.
#if defined(_WIN32)
#define MEXHOST_EXPORT
#else
#define MEXHOST_EXPORT __attribute__((visibility("default")))
#endif

MEXHOST_EXPORT void mexErrMsgTxt(const char* message);
MEXHOST_EXPORT void mexErrMsgIdAndTxt(const char* id, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

MEXHOST_EXPORT double* mxGetPr(const mxArray* a);
MEXHOST_EXPORT const int* mxGetDimensions_700(const mxArray* a);
MEXHOST_EXPORT int mxGetNumberOfDimensions_700(const mxArray* a);
MEXHOST_EXPORT size_t mxGetNumberOfElements(const mxArray* a);
MEXHOST_EXPORT mxArray* mxGetCell_700(const mxArray* cell, int index);
MEXHOST_EXPORT void mxSetCell_700(mxArray* cell, int index, mxArray* value);
MEXHOST_EXPORT mxArray* mxCreateCellMatrix_700(int rows, int cols);
MEXHOST_EXPORT mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag);
MEXHOST_EXPORT mxArray* mxCreateNumericMatrix_700(int rows, int cols, mxClassID cls,
                                                  mxComplexity flag);
MEXHOST_EXPORT void mxDestroyArray(mxArray* a);

MEXHOST_EXPORT bool mxIsEmpty(const mxArray* a);
MEXHOST_EXPORT bool mxIsCell(const mxArray* a);
MEXHOST_EXPORT bool mxIsDouble(const mxArray* a);
MEXHOST_EXPORT bool mxIsComplex(const mxArray* a);
MEXHOST_EXPORT bool mxIsSparse(const mxArray* a);
MEXHOST_EXPORT bool mxIsNumeric(const mxArray* a);
MEXHOST_EXPORT bool mxIsLogical(const mxArray* a);
MEXHOST_EXPORT const char* mxGetClassName(const mxArray* a);
MEXHOST_EXPORT double mxGetScalar(const mxArray* a);
MEXHOST_EXPORT bool mxIsNaN(double value);
MEXHOST_EXPORT double mxGetNaN(void);

} // extern "C"

#endif
