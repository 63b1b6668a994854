// data = Kuvorecv(socketHandle[,count=1]): returns received values, oldest first.
#include "gateway.h"
#include "receive.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static const kuvo::gateway::ReceiveFunction kuvorecv = {
      false,
      "Kuvorecv:Input",
      "Kuvorecv:Output",
      KUVORECV_USAGE,
      "One input parameter is required%s",
      "One output parameter is required%s",
      "The input parameter must be an integer handle%s",
  };
  kuvo::gateway::runReceive(kuvorecv, nlhs, plhs, nrhs, prhs);
}
