// data = Kuvorecv(socketHandle[,count=1]): returns received values, oldest first.
#include "gateway.h"
#include "receive.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs < 1) {
    mexErrMsgIdAndTxt("Kuvorecv:Input", "One input parameter is required%s", KUVORECV_USAGE);
    return;
  }
  if (nrhs > 2) {
    mexErrMsgIdAndTxt("Kuvorecv:Input", "Too many input parameter(s)! %s", KUVORECV_USAGE);
    return;
  }
  uint64_t count = 1;
  if (nrhs == 2 && !countOf(prhs[1], count)) {
    mexErrMsgIdAndTxt("Kuvorecv:Input",
                      "Optional parameter count must be single positive number or empty for "
                      "all available messages! %s",
                      KUVORECV_USAGE);
    return;
  }
  if (nlhs != 1) {
    mexErrMsgIdAndTxt("Kuvorecv:Output", "One output parameter is required%s", KUVORECV_USAGE);
    return;
  }
  if (!isHandle(prhs[0])) {
    mexErrMsgIdAndTxt("Kuvorecv:Input", "The input parameter must be an integer handle%s",
                      KUVORECV_USAGE);
    return;
  }
  ReceivedOutputs outputs(false);
  if (!receiveInto(handleOf(prhs[0]), count, outputs)) {
    mexErrMsgIdAndTxt("Kuvorecv:Output", "Not enough memory to deliver the received messages");
    return;
  }
  plhs[0] = outputs.slot[0];
}
