// bytes = Kuvosend(socketHandle, IP, port, data): sends any value as one
// message. A real int8 vector travels as its bytes, any other value as its
// serialized stream; a two-byte marker tells the receiver which.
#include "gateway.h"
#include "kuvo.h"
#include "value_codec.h"

using namespace kuvo::gateway;

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs != 4) {
    mexErrMsgIdAndTxt("Kuvosend:Input", "Four input parameters are required\n%s\n%s",
                      KUVOSEND_USAGE, KUVOSEND_NOTE);
    return;
  }
  if (nlhs > 1) {
    mexErrMsgIdAndTxt("Kuvosend:Output", "Just one output parameter is allowed\n%s\n%s",
                      KUVOSEND_USAGE, KUVOSEND_NOTE);
    return;
  }
  if (!isHandle(prhs[0])) {
    mexErrMsgIdAndTxt("Kuvosend:Input",
                      "The first input parameter must be an integer handle\n%s\n%s",
                      KUVOSEND_USAGE, KUVOSEND_NOTE);
    return;
  }
  if (!mxIsChar(prhs[1]) || mxIsEmpty(prhs[1])) {
    mexErrMsgIdAndTxt("Kuvosend:Input", "The second input parameter must be a string\n%s\n%s",
                      KUVOSEND_USAGE, KUVOSEND_NOTE);
    return;
  }
  if (!mxIsNumeric(prhs[2])) {
    mexErrMsgIdAndTxt("Kuvosend:Input", "The third input parameter must be an integer\n%s\n%s",
                      KUVOSEND_USAGE, KUVOSEND_NOTE);
    return;
  }

  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  const uint64_t handle = handleOf(prhs[0]);

  // Every buffer below is host-managed, so an error or a warning turned into
  // an error frees it with the call.
  Payload payload = encodePayload(prhs[3]);
  switch (payload.encoding) {
    case Encoding::Raw:
      break;
    case Encoding::Serialized:
      mexWarnMsgIdAndTxt("Kuvosend:Input3:serialize",
                         "The fourth input parameter is not an int8 array and thus will be "
                         "converted to serialized matlab stream\n%s\n%s",
                         KUVOSEND_USAGE, KUVOSEND_NOTE);
      break;
    case Encoding::Unsupported:
      mexErrMsgIdAndTxt("Kuvosend:Input3:unsupported",
                        "The fourth input parameter cannot be serialized: %s\n%s\n%s",
                        payload.what, KUVOSEND_USAGE, KUVOSEND_NOTE);
      return;
    case Encoding::TooLarge:
      mexErrMsgIdAndTxt("Kuvosend:Input3:size",
                        "The fourth input parameter is too large: a message holds at most "
                        "2147483647 bytes\n%s\n%s",
                        KUVOSEND_USAGE, KUVOSEND_NOTE);
      return;
    case Encoding::NoMemory:
      mexErrMsgIdAndTxt("Kuvosend:memory", "Not enough memory to send the value");
      return;
  }

  const size_t ipSize = mxGetNumberOfElements(prhs[1]) + 1;
  char* ip = static_cast<char*>(mxCalloc(ipSize, 1));
  if (!ip) {
    mxFree(payload.bytes);
    mexErrMsgIdAndTxt("Kuvosend:memory", "Not enough memory to send the value");
    return;
  }
  mxGetString(prhs[1], ip, static_cast<mwSize>(ipSize));

  const int sent = KuvosendBytes(handle, ip, portOf(prhs[2]), payload.bytes,
                                 static_cast<int>(payload.length));
  *mxGetPr(plhs[0]) = sent;

  mxFree(payload.bytes);
  mxFree(ip);
}
