// ok = KuvoclosePort(port): requests the close of the socket bound to a port.
#include "gateway.h"
#include "kuvo.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs != 1) {
    mexErrMsgIdAndTxt("KuvoclosePort:Input",
                      "One input parameter is required" KUVOCLOSEPORT_USAGE);
    return;
  }
  if (nlhs > 1) {
    mexErrMsgIdAndTxt("KuvoclosePort:Output",
                      "Just one output parameter is allowed" KUVOCLOSEPORT_USAGE);
    return;
  }
  if (!mxIsNumeric(prhs[0])) {
    mexErrMsgIdAndTxt("KuvoclosePort:Input",
                      "The input parameter must be an integer" KUVOCLOSEPORT_USAGE);
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  // The core compares the whole value, not its low 16 bits.
  *mxGetPr(plhs[0]) = KuvoclosePort(portOf(prhs[0]));
}
