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

}  // namespace kuvo::gateway

#endif  // KUVO_RECEIVE_H
