#include "value_codec.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#if defined(KUVO_HOST_MATLAB)
// MATLAB's own value stream, exported by libmx.
namespace matrix::detail::noninlined::mx_array_api {
mxArray* mxSerialize(const mxArray* value);
mxArray* mxDeserialize(const void* bytes, size_t length);
}  // namespace matrix::detail::noninlined::mx_array_api
#else
#include <string>

#include "mat_stream.h"
#endif

namespace kuvo::gateway {

namespace {

// KuvosendBytes takes the length as an int.
constexpr size_t kMaxPayload = static_cast<size_t>(std::numeric_limits<int>::max());

void nameWhat(Payload& payload, const char* what) {
  std::snprintf(payload.what, sizeof payload.what, "%s", what ? what : "unknown");
}

// Allocates body + marker; the body is filled by the caller.
bool allocate(Payload& payload, size_t bodyLength, char marker) {
  if (bodyLength > kMaxPayload - 2) {
    payload.encoding = Encoding::TooLarge;
    return false;
  }
  payload.bytes = static_cast<char*>(mxCalloc(bodyLength + 2, 1));
  if (!payload.bytes) {
    payload.encoding = Encoding::NoMemory;
    return false;
  }
  payload.length = bodyLength + 2;
  payload.bytes[bodyLength] = 0;
  payload.bytes[bodyLength + 1] = marker;
  return true;
}

mxArray* int8Row(const char* data, size_t n) {
  const mwSize dims[2] = {1, static_cast<mwSize>(n)};
  mxArray* row = mxCreateNumericArray(2, dims, mxINT8_CLASS, mxREAL);
  if (row && n > 0) std::memcpy(mxGetData(row), data, n);
  return row;
}

#if defined(KUVO_HOST_MATLAB)

void serialize(const mxArray* value, Payload& payload) {
  mxArray* stream = matrix::detail::noninlined::mx_array_api::mxSerialize(value);
  if (!stream) {
    payload.encoding = Encoding::Unsupported;
    nameWhat(payload, mxGetClassName(value));
    return;
  }
  const size_t n = mxGetNumberOfElements(stream);
  if (allocate(payload, n, kStreamMarker)) {
    std::memcpy(payload.bytes, mxGetData(stream), n);
    payload.encoding = Encoding::Serialized;
  }
  mxDestroyArray(stream);
}

mxArray* deserialize(const char* data, size_t n) {
  return matrix::detail::noninlined::mx_array_api::mxDeserialize(data, n);
}

#else

void serialize(const mxArray* value, Payload& payload) {
  size_t n = 0;
  try {
    std::string what;
    if (!kuvo::mat::streamSize(value, n, what)) {
      payload.encoding = Encoding::Unsupported;
      nameWhat(payload, what.c_str());
      return;
    }
  } catch (const std::bad_alloc&) {
    payload.encoding = Encoding::NoMemory;
    return;
  }
  // The stream is written straight into the payload: no second copy.
  if (allocate(payload, n, kStreamMarker)) {
    kuvo::mat::writeStream(value, reinterpret_cast<uint8_t*>(payload.bytes), n);
    payload.encoding = Encoding::Serialized;
  }
}

// Whatever stops the reader, the bytes are then delivered as they came.
mxArray* deserialize(const char* data, size_t n) {
  try {
    return kuvo::mat::readStream(reinterpret_cast<const uint8_t*>(data), n);
  } catch (...) {
    return nullptr;
  }
}

#endif

}  // namespace

bool travelsRaw(const mxArray* value) {
  return mxIsInt8(value) && !mxIsComplex(value) && mxGetNumberOfDimensions(value) <= 2 &&
         (mxGetM(value) <= 1 || mxGetN(value) <= 1);
}

Payload encodePayload(const mxArray* value) {
  Payload payload;
  if (travelsRaw(value)) {
    const size_t n = mxGetNumberOfElements(value);
    if (allocate(payload, n, kRawMarker)) {
      if (n > 0) std::memcpy(payload.bytes, mxGetData(value), n);
      payload.encoding = Encoding::Raw;
    }
  } else {
    serialize(value, payload);
  }
  return payload;
}

mxArray* decodeMessage(const char* data, size_t length) {
  const bool marked = length >= 2 && data[length - 2] == 0;
  if (marked && length >= 3 && data[length - 1] == kStreamMarker) {
    if (mxArray* value = deserialize(data, length - 2)) return value;
    return int8Row(data, length);
  }
  if (marked && data[length - 1] == kRawMarker) return int8Row(data, length - 2);
  return int8Row(data, length);
}

}  // namespace kuvo::gateway
