// ok = KuvocloseALL(): requests the close of every socket (0 accepted, -1 refused).
#include "gateway.h"
#include "kuvo.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  (void)prhs;
  registerExitHook();
  if (nrhs > 0) {
    mexErrMsgIdAndTxt("KuvocloseALL:Input", "No input parameter is allowed" KUVOCLOSEALL_USAGE);
    return;
  }
  if (nlhs > 1) {
    mexErrMsgIdAndTxt("KuvocloseALL:Output",
                      "Just one output parameter is allowed" KUVOCLOSEALL_USAGE);
    return;
  }
  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  *mxGetPr(plhs[0]) = KuvocloseALL();
}
