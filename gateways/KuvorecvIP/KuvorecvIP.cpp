// [data IP port] = KuvorecvIP(socketHandle[,count=1]): returns received values
// with each sender's address text and port.
#include "gateway.h"
#include "receive.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static const kuvo::gateway::ReceiveFunction kuvorecvIP = {
      true,
      "KuvorecvIP:Input",
      "KuvorecvIP:Output",
      KUVORECVIP_USAGE,
      "One input parameter(s) is required! %s",
      "Three output parameters are required%s",
      "The first input parameter must be an integer handle%s",
  };
  kuvo::gateway::runReceive(kuvorecvIP, nlhs, plhs, nrhs, prhs);
}
