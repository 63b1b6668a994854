// Kuvo's own serializer of MATLAB values, for hosts without mxSerialize
// (GNU Octave). A stream is exactly one Level 5 MAT-file miMATRIX data element
// with an empty array name, little-endian and uncompressed; with the 128-byte
// MAT-file header in front it is a MAT-file that Octave's load reads.
#ifndef KUVO_MAT_STREAM_H
#define KUVO_MAT_STREAM_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "mex.h"

namespace kuvo::mat {

// Measures the stream of `value`, walking all of it. False when the value, or
// anything inside it, cannot be represented (function handle, object, a field
// name longer than 63 bytes, nesting deeper than 200 levels, a size the format
// cannot hold); `what` then names the offending class (e.g. "function_handle")
// or reason, for the caller's error message.
bool streamSize(const mxArray* value, size_t& size, std::string& what);

// Writes the stream of a value that streamSize accepted: exactly `size` bytes,
// straight into `out`. The value must not change between the two calls.
void writeStream(const mxArray* value, uint8_t* out, size_t size);

// Rebuilds the value of a stream; the caller owns the result. Null when the
// bytes are no valid stream (malformed, truncated, lying lengths, sizes the
// bytes cannot justify, nesting deeper than 200 levels, trailing bytes) or
// memory is short; never allocates more than the stream justifies and leaves
// nothing behind on failure.
mxArray* readStream(const uint8_t* data, size_t length);

}  // namespace kuvo::mat

#endif  // KUVO_MAT_STREAM_H
