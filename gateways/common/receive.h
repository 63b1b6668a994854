// Delivery of queued messages into the results of Kuvorecv and KuvorecvIP.
#ifndef KUVO_RECEIVE_H
#define KUVO_RECEIVE_H

#include <cstdint>

#include "mex.h"

namespace kuvo::gateway {

// The results of one receive call: data (1-by-N cell), and with the senders
// also IP (1-by-N cell of char rows) and port (1-by-N uint16 row).
struct ReceivedOutputs {
  explicit ReceivedOutputs(bool withSenders) : count(withSenders ? 3 : 1) {}
  mxArray* slot[3] = {nullptr, nullptr, nullptr};
  int count;
};

// Takes up to `count` messages of the socket into `outputs`. True on success:
// every slot then holds an array, empty (1-by-0) when nothing was delivered.
// False when the first message could not be delivered for want of memory: no
// array is left behind. A failure at a later message keeps the messages
// delivered before it and counts as success.
bool receiveInto(uint64_t handle, uint64_t count, ReceivedOutputs& outputs);

// What tells the two receive functions apart: their outputs, identifiers and
// the phrases of their argument errors (each format ends in "%s", filled
// with the usage text).
struct ReceiveFunction {
  bool withSenders;
  const char* inputId;
  const char* outputId;
  const char* usage;
  const char* tooFewInputs;
  const char* wrongOutputs;
  const char* badHandle;
};

// The whole gateway: checks in order, then delivery into plhs.
void runReceive(const ReceiveFunction& f, int nlhs, mxArray* plhs[], int nrhs,
                const mxArray* prhs[]);

}  // namespace kuvo::gateway

#endif  // KUVO_RECEIVE_H
