#include "receive.h"

#include <cstring>

#include "gateway.h"
#include "kuvo.h"
#include "value_codec.h"

namespace kuvo::gateway {

namespace {

enum Slot { kData = 0, kAddress = 1, kPort = 2 };

ReceivedOutputs& outputsOf(void* userValue) {
  return *static_cast<ReceivedOutputs*>(userValue);
}

// A refusal at message `index`: the results keep exactly the messages
// delivered before it, or are dropped altogether when there were none.
bool refuse(ReceivedOutputs& out, uint32_t index) {
  for (int k = 0; k < out.count; ++k) {
    if (!out.slot[k]) continue;
    if (index >= 1) {
      // A cell may already hold the refused message's entry: free it first.
      if (mxIsCell(out.slot[k])) {
        const size_t n = mxGetNumberOfElements(out.slot[k]);
        for (size_t j = index; j < n; ++j) {
          if (mxArray* cell = mxGetCell(out.slot[k], j)) {
            mxDestroyArray(cell);
            mxSetCell(out.slot[k], j, nullptr);
          }
        }
      }
      mxSetN(out.slot[k], index);
    } else {
      mxDestroyArray(out.slot[k]);
      out.slot[k] = nullptr;
    }
  }
  return false;
}

mxArray* newRow(Slot slot, uint32_t n) {
  if (slot == kPort) {
    const mwSize dims[2] = {1, static_cast<mwSize>(n)};
    return mxCreateNumericArray(2, dims, mxUINT16_CLASS, mxREAL);
  }
  return mxCreateCellMatrix(1, n);
}

// Creates a result at its final size on the first message.
bool ensureSlot(ReceivedOutputs& out, Slot slot, uint32_t remaining) {
  if (!out.slot[slot]) out.slot[slot] = newRow(slot, remaining);
  return out.slot[slot] != nullptr;
}

mxArray* charRow(const char* text, uint64_t length) {
  const mwSize dims[2] = {1, static_cast<mwSize>(length)};
  mxArray* row = mxCreateCharArray(2, dims);
  if (!row) return nullptr;
  if (mxGetElementSize(row) == 1) {
    std::memcpy(mxGetData(row), text, length);
  } else {
    // Two bytes per character; the address text is plain ASCII.
    auto* chars = static_cast<uint16_t*>(mxGetData(row));
    for (uint64_t k = 0; k < length; ++k) chars[k] = static_cast<unsigned char>(text[k]);
  }
  return row;
}

// The callbacks run inside the core: nothing may be thrown through it, so any
// failure of the host's allocation, however reported, becomes a refusal.

bool onData(const char* data, uint32_t length, uint32_t index, uint32_t remaining,
            void* userValue) {
  ReceivedOutputs& out = outputsOf(userValue);
  try {
    if (!ensureSlot(out, kData, remaining)) return refuse(out, index);
    mxArray* value = decodeMessage(data, length);
    if (!value) return refuse(out, index);
    mxSetCell(out.slot[kData], index, value);
    return true;
  } catch (...) {
    return refuse(out, index);
  }
}

bool onAddress(const char* text, uint64_t length, uint32_t index, uint32_t remaining,
               void* userValue) {
  ReceivedOutputs& out = outputsOf(userValue);
  try {
    if (!ensureSlot(out, kAddress, remaining)) return refuse(out, index);
    mxArray* row = charRow(text, length);
    if (!row) return refuse(out, index);
    mxSetCell(out.slot[kAddress], index, row);
    return true;
  } catch (...) {
    return refuse(out, index);
  }
}

bool onPort(uint16_t port, uint32_t index, uint32_t remaining, void* userValue) {
  ReceivedOutputs& out = outputsOf(userValue);
  try {
    if (!ensureSlot(out, kPort, remaining)) return refuse(out, index);
    static_cast<uint16_t*>(mxGetData(out.slot[kPort]))[index] = port;
    return true;
  } catch (...) {
    return refuse(out, index);
  }
}

bool ignoreAddress(const char*, uint64_t, uint32_t, uint32_t, void*) { return true; }
bool ignorePort(uint16_t, uint32_t, uint32_t, void*) { return true; }

void dropAll(ReceivedOutputs& out) {
  for (int k = 0; k < out.count; ++k) {
    if (out.slot[k]) mxDestroyArray(out.slot[k]);
    out.slot[k] = nullptr;
  }
}

}  // namespace

bool receiveInto(uint64_t handle, uint64_t count, ReceivedOutputs& out) {
  const bool withSenders = out.count == 3;
  if (!Kuvorecv(handle, count, onData, withSenders ? onAddress : ignoreAddress,
                withSenders ? onPort : ignorePort, &out)) {
    dropAll(out);
    return false;
  }
  for (int k = 0; k < out.count; ++k) {
    if (!out.slot[k]) out.slot[k] = newRow(static_cast<Slot>(k), 0);
    if (!out.slot[k]) {
      dropAll(out);
      return false;
    }
  }
  return true;
}

void runReceive(const ReceiveFunction& f, int nlhs, mxArray* plhs[], int nrhs,
                const mxArray* prhs[]) {
  registerExitHook();
  if (nrhs < 1) {
    mexErrMsgIdAndTxt(f.inputId, f.tooFewInputs, f.usage);
    return;
  }
  if (nrhs > 2) {
    mexErrMsgIdAndTxt(f.inputId, "Too many input parameter(s)! %s", f.usage);
    return;
  }
  uint64_t count = 1;
  if (nrhs == 2 && !countOf(prhs[1], count)) {
    mexErrMsgIdAndTxt(f.inputId,
                      "Optional parameter count must be single positive number or empty for "
                      "all available messages! %s",
                      f.usage);
    return;
  }
  if (nlhs != (f.withSenders ? 3 : 1)) {
    mexErrMsgIdAndTxt(f.outputId, f.wrongOutputs, f.usage);
    return;
  }
  if (!isHandle(prhs[0])) {
    mexErrMsgIdAndTxt(f.inputId, f.badHandle, f.usage);
    return;
  }
  ReceivedOutputs outputs(f.withSenders);
  if (!receiveInto(handleOf(prhs[0]), count, outputs)) {
    mexErrMsgIdAndTxt(f.outputId, "Not enough memory to deliver the received messages");
    return;
  }
  for (int k = 0; k < outputs.count; ++k) plhs[k] = outputs.slot[k];
}

}  // namespace kuvo::gateway
