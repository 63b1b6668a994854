// [data IP port] = KuvorecvIP(socketHandle[,count=1]): returns received values
// with each sender's address text and port.
#include "gateway.h"
#include "receive.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs < 1) {
    mexErrMsgIdAndTxt("KuvorecvIP:Input", "One input parameter(s) is required! %s",
                      KUVORECVIP_USAGE);
    return;
  }
  if (nrhs > 2) {
    mexErrMsgIdAndTxt("KuvorecvIP:Input", "Too many input parameter(s)! %s", KUVORECVIP_USAGE);
    return;
  }
  uint64_t count = 1;
  if (nrhs == 2 && !countOf(prhs[1], count)) {
    mexErrMsgIdAndTxt("KuvorecvIP:Input",
                      "Optional parameter count must be single positive number or empty for "
                      "all available messages! %s",
                      KUVORECVIP_USAGE);
    return;
  }
  if (nlhs != 3) {
    mexErrMsgIdAndTxt("KuvorecvIP:Output", "Three output parameters are required%s",
                      KUVORECVIP_USAGE);
    return;
  }
  if (!isHandle(prhs[0])) {
    mexErrMsgIdAndTxt("KuvorecvIP:Input", "The first input parameter must be an integer handle%s",
                      KUVORECVIP_USAGE);
    return;
  }
  ReceivedOutputs outputs(true);
  if (!receiveInto(handleOf(prhs[0]), count, outputs)) {
    mexErrMsgIdAndTxt("KuvorecvIP:Output", "Not enough memory to deliver the received messages");
    return;
  }
  for (int k = 0; k < 3; ++k) plhs[k] = outputs.slot[k];
}
