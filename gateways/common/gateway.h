// What the seven Kuvo plug-ins share: the exit hook, the conversions of MATLAB
// arguments into the core's handles, ports and counts, and the usage texts.
//
// The plug-ins use the plain C MEX API only, so one source builds for MATLAB
// and for GNU Octave. Sizes are mwSize throughout: Octave's mwSize is 64-bit,
// and MATLAB's mex.h binds the 64-bit ("_730") entry points by itself under
// its large-array-dimensions API, the default of its mex command.
//
// Errors are raised with mexErrMsgIdAndTxt, which never returns (MATLAB jumps
// out of the plug-in, Octave throws through it). Hence every buffer a plug-in
// holds while it may raise an error is MATLAB-managed memory (mxCalloc or an
// mxArray), which the host frees when the call ends.
#ifndef KUVO_GATEWAY_H
#define KUVO_GATEWAY_H

#include <cstdint>

#include "mex.h"

namespace kuvo::gateway {

// Registers the core's releaseUDP with the host's exit hook on the plug-in's
// first call, before any argument is looked at: clearing any plug-in, or
// leaving the host, then destroys the engine with every socket.
void registerExitHook();

// A socket handle is any non-empty uint64 array; its first element counts.
bool isHandle(const mxArray* value);
uint64_t handleOf(const mxArray* value);

// The port is the first element of a numeric array, read as a double and
// truncated toward zero to a signed 32-bit integer. Values the truncation
// cannot represent saturate as MATLAB's own int32() does: NaN gives 0, values
// at or beyond the int32 limits give INT32_MIN or INT32_MAX. An empty array
// gives 0.
int32_t portOf(const mxArray* value);
int32_t truncateToInt32(double value);

// The optional count of the receive plug-ins. Absent: 1. Empty: every queued
// message (UINT64_MAX). A single number: its value truncated toward zero,
// where 0 counts as 1. False for a value that is not numeric, neither a single
// number nor empty, negative after truncation, not finite, or 2^63 or more.
bool countOf(const mxArray* value, uint64_t& count);

}  // namespace kuvo::gateway

// Usage texts, appended to every argument error. Kept as literals so that the
// management plug-ins can pass phrase and usage as one format text.
#define KUVOINIT_USAGE \
  "\nsocketHandle = Kuvoinit(port)\nsocketHandle\tint\toutput\nport\t\t\tint\tinput\n"
#define KUVOCLOSE_USAGE \
  "\nok = Kuvoclose(socketHandle)\nok\t\t\t\tint\toutput\nsocketHandle\tint\tinput\n"
#define KUVOCLOSEPORT_USAGE \
  "\nok = KuvoclosePort(port)\nok\t\t\t\tint\toutput\nport\tint\tinput\n"
#define KUVOCLOSEALL_USAGE "\nok = KuvocloseALL()\nok\t\t\t\tint\toutput\n"
#define KUVOSEND_USAGE                                                         \
  "bytes = Kuvosend(socketHandle, IP, port, data)\nbytes\t\t\tint\t\toutput\n" \
  "socketHandle\tint\t\tinput\nIP\t\t\t\tstring\tinput\nport\t\t\tint\t\tinput\n" \
  "data\t\t\tany(*)\tinput\n"
#define KUVOSEND_NOTE                                                          \
  "\n\t(*)onedimensional arrays of type int8 and int8 are directly transfered " \
  "any other matlab datatype and structure is serialized using matlab file format"
#define KUVORECV_USAGE                                                          \
  "\ndata = Kuvorecv(socketHandle[,count=1])\ndata\t\t\tstring\toutput\n"      \
  "socketHandle\tint\t\tinput\ncount\tnumeric\t\tinput\n"
#define KUVORECVIP_USAGE                                                        \
  "\n[data IP port] = KuvorecvIP(socketHandle[,count=1])\ndata\t\t\tstring\toutput\n" \
  "IP\t\t\t\tstring\toutput\nport\t\t\tint\t\toutput\nsocketHandle\tint\t\tinput\n" \
  "count\tnumeric\t\tintput\n"

#endif  // KUVO_GATEWAY_H
