#include "gateway.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "kuvo.h"

namespace kuvo::gateway {

namespace {
// One flag per plug-in: this file is linked into each of them.
bool exitHookRegistered = false;
}  // namespace

void registerExitHook() {
  if (!exitHookRegistered) {
    mexAtExit(releaseUDP);
    exitHookRegistered = true;
  }
}

bool isHandle(const mxArray* value) {
  return mxIsUint64(value) && !mxIsEmpty(value);
}

uint64_t handleOf(const mxArray* value) {
  uint64_t handle;
  std::memcpy(&handle, mxGetData(value), sizeof handle);
  return handle;
}

int32_t truncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double t = std::trunc(value);
  if (t <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  if (t >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(t);
}

int32_t portOf(const mxArray* value) {
  if (mxIsEmpty(value)) return 0;
  return truncateToInt32(mxGetScalar(value));
}

bool countOf(const mxArray* value, uint64_t& count) {
  if (!mxIsNumeric(value)) return false;
  if (mxIsEmpty(value)) {
    count = std::numeric_limits<uint64_t>::max();
    return true;
  }
  if (mxGetNumberOfElements(value) != 1) return false;
  const double t = std::trunc(mxGetScalar(value));
  // 2^63: the first value a signed 64-bit count cannot hold.
  if (!std::isfinite(t) || t < 0 || t >= 9223372036854775808.0) return false;
  count = t == 0 ? 1 : static_cast<uint64_t>(t);
  return true;
}

}  // namespace kuvo::gateway
