// ok = Kuvoclose(socketHandle): requests the close of one socket.
#include "gateway.h"
#include "kuvo.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs != 1) {
    mexErrMsgIdAndTxt("Kuvoclose:Input", "One input parameter is required" KUVOCLOSE_USAGE);
    return;
  }
  if (nlhs > 1) {
    mexErrMsgIdAndTxt("Kuvoclose:Output", "Just one output parameter is allowed" KUVOCLOSE_USAGE);
    return;
  }
  if (!isHandle(prhs[0])) {
    mexErrMsgIdAndTxt("Kuvoclose:Input",
                      "The input parameter must be an integer handle" KUVOCLOSE_USAGE);
    return;
  }
  // Placed in slot 1 even without an output variable: the result goes to ans.
  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  *mxGetPr(plhs[0]) = Kuvoclose(handleOf(prhs[0]));
}
