#include "zip/zip_exception.h"

#include <utility>

CZipException::CZipException(int cause_, std::string fileName_)
    : fileName(std::move(fileName_)), cause(cause_) {}

CZipException::~CZipException() = default;

int CZipException::ZlibCause(int zlibResult) {
  // zlib results 1 .. -6 map in order onto 500 .. 507.
  if (zlibResult <= 2 && zlibResult >= -6) {
    static const int causes[] = {errZVersion, errZBuf, errZMem,       errZData,    errZStream,
                                 errZErrno,   -1,      errZStreamEnd, errZNeedDict};
    int cause = causes[zlibResult + 6];
    if (cause != -1) return cause;
  }
  return errGeneric;
}

void CZipException::Throw(int cause, const std::string& fileName) { throw CZipException(cause, fileName); }
