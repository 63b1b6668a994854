// socketHandle = Kuvoinit(port): opens a UDP socket bound to the port.
#include <cstring>

#include "gateway.h"
#include "kuvo.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs != 1) {
    mexErrMsgIdAndTxt("Kuvoinit:Input", "One input parameter is required" KUVOINIT_USAGE);
    return;
  }
  if (nlhs != 1) {
    mexErrMsgIdAndTxt("Kuvoinit:Output", "One output parameter is required" KUVOINIT_USAGE);
    return;
  }
  if (!mxIsNumeric(prhs[0])) {
    mexErrMsgIdAndTxt("Kuvoinit:Input", "The input parameter must be an integer" KUVOINIT_USAGE);
    return;
  }
  const mwSize dims[2] = {1, 1};
  plhs[0] = mxCreateNumericArray(2, dims, mxUINT64_CLASS, mxREAL);
  // The core binds the low 16 bits of the port.
  const uint64_t handle = Kuvoinit(static_cast<uint16_t>(portOf(prhs[0])));
  if (handle == UINT64_MAX) {
    mexErrMsgIdAndTxt("Kuvoinit:socket", "Failed to create socket! error code %i",
                      lastSocketError());
    return;
  }
  std::memcpy(mxGetData(plhs[0]), &handle, sizeof handle);
}
