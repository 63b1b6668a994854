// The payload of a Kuvo message sent from MATLAB or Octave, and its reading.
//
// Payload: the body, then 0x00, then a marker: '8' when the body is the raw
// bytes of a real int8 vector, 'S' when it is the value's serialized stream.
// The stream is MATLAB's own (mxSerialize) when built for MATLAB
// (KUVO_HOST_MATLAB), and Kuvo's MAT-format serializer on Octave.
#ifndef KUVO_VALUE_CODEC_H
#define KUVO_VALUE_CODEC_H

#include <cstddef>

#include "mex.h"

namespace kuvo::gateway {

constexpr char kRawMarker = '8';
constexpr char kStreamMarker = 'S';

// True when the value travels as raw bytes: a real int8 array of at most two
// dimensions that is a row, a column, a scalar or empty. A complex int8
// vector is serialized instead, so that its imaginary part is not dropped.
bool travelsRaw(const mxArray* value);

enum class Encoding { Raw, Serialized, Unsupported, TooLarge, NoMemory };

struct Payload {
  Encoding encoding = Encoding::NoMemory;
  char* bytes = nullptr;  // mxCalloc'ed: body, 0x00, marker; the caller mxFree's it
  size_t length = 0;      // body length + 2
  char what[128] = {};    // Unsupported: the class or reason the serializer named
};

// Builds the payload of `value` in one allocation of exactly its length.
// Nothing is allocated unless the encoding is Raw or Serialized.
Payload encodePayload(const mxArray* value);

// The MATLAB value of one received message of `length` bytes:
//   ends in 0x00 'S' (length >= 3): the deserialized value of the body;
//   ends in 0x00 '8' (length >= 2): 1-by-(length-2) int8 row of the body;
//   anything else: 1-by-length int8 row of all bytes.
// A message ending in 0x00 'S' whose body is no valid stream is anybody's
// datagram, not a fault of the receiver: it comes back as the int8 row of all
// its bytes, like a message without a marker. Null only when memory is short.
mxArray* decodeMessage(const char* data, size_t length);

}  // namespace kuvo::gateway

#endif  // KUVO_VALUE_CODEC_H
