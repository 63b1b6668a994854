// Test gateway for the value serializer:
//   bytes = kuvo_stream_test('write', value)        uint8 row of the stream
//   value = kuvo_stream_test('read', bytes)         error when invalid
//   ok    = kuvo_stream_test('valid', bytes)        true when bytes read back
//   bytes = kuvo_stream_test('file', value, name)   MAT-file bytes for load
//   t     = kuvo_stream_test('bench', value, reps)  fastest seconds of
//           [measure+write, read+destroy, memcpy of the stream]
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "mat_stream.h"
#include "mex.h"

namespace {

std::string command(const mxArray* a) {
  char buffer[16] = {};
  if (!mxIsChar(a) || mxGetString(a, buffer, sizeof buffer) != 0) return {};
  return buffer;
}

const uint8_t* bytesOf(const mxArray* a, size_t& length) {
  if (!mxIsUint8(a) || mxIsComplex(a))
    mexErrMsgIdAndTxt("kuvo_stream_test:input", "bytes must be a real uint8 array");
  length = mxGetNumberOfElements(a);
  return static_cast<const uint8_t*>(mxGetData(a));
}

mxArray* byteRow(size_t n) {
  return mxCreateUninitNumericMatrix(1, n, mxUINT8_CLASS, mxREAL);
}

// The stream of `value`, or a MATLAB error naming what cannot be sent.
std::vector<uint8_t> streamOf(const mxArray* value) {
  size_t size = 0;
  std::string what;
  if (!kuvo::mat::streamSize(value, size, what))
    mexErrMsgIdAndTxt("kuvo_stream_test:unsupported", "cannot serialize %s", what.c_str());
  std::vector<uint8_t> stream(size);
  kuvo::mat::writeStream(value, stream.data(), size);
  return stream;
}

uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// A MAT file holding the stream as variable `name`: a 128-byte header, then
// the element with its empty name subelement replaced by `name`.
std::vector<uint8_t> matFile(const std::vector<uint8_t>& stream, const std::string& name) {
  // The name follows the tag (8), the flags (16) and the dimensions element.
  const size_t dimsBytes = (load32(&stream[24 + 4]) + 7) / 8 * 8;
  const size_t nameAt = 24 + 8 + dimsBytes;
  std::vector<uint8_t> nameElement;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) nameElement.push_back(uint8_t(v >> (8 * i)));
  };
  if (name.size() <= 4) {
    put32(1 | uint32_t(name.size()) << 16);
    nameElement.insert(nameElement.end(), name.begin(), name.end());
    nameElement.resize(8, 0);
  } else {
    put32(1);
    put32(uint32_t(name.size()));
    nameElement.insert(nameElement.end(), name.begin(), name.end());
    nameElement.resize(8 + (name.size() + 7) / 8 * 8, 0);
  }
  std::vector<uint8_t> file(128, ' ');
  const char text[] = "MATLAB 5.0 MAT-file, Kuvo serializer test";
  std::memcpy(file.data(), text, sizeof text - 1);
  std::fill(file.begin() + 116, file.begin() + 124, 0);
  file[124] = 0x00;
  file[125] = 0x01;
  file[126] = 'I';
  file[127] = 'M';
  file.insert(file.end(), stream.begin(), stream.begin() + nameAt);
  file.insert(file.end(), nameElement.begin(), nameElement.end());
  file.insert(file.end(), stream.begin() + nameAt + 8, stream.end());
  const uint32_t count = uint32_t(file.size() - 128 - 8);
  std::memcpy(&file[128 + 4], &count, 4);
  return file;
}

mxArray* rowOf(const std::vector<uint8_t>& bytes) {
  mxArray* row = byteRow(bytes.size());
  if (!bytes.empty()) std::memcpy(mxGetData(row), bytes.data(), bytes.size());
  return row;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void bench(const mxArray* value, int reps, double* out) {
  using clock = std::chrono::steady_clock;
  const std::vector<uint8_t> stream = streamOf(value);
  std::vector<uint8_t> buffer(stream.size());
  std::vector<uint8_t> copy(stream.size());
  out[0] = out[1] = out[2] = 1e30;
  for (int r = 0; r < reps; ++r) {
    auto start = clock::now();
    size_t size = 0;
    std::string what;
    kuvo::mat::streamSize(value, size, what);
    kuvo::mat::writeStream(value, buffer.data(), size);
    out[0] = std::min(out[0], seconds(start));

    start = clock::now();
    mxArray* back = kuvo::mat::readStream(stream.data(), stream.size());
    mxDestroyArray(back);
    out[1] = std::min(out[1], seconds(start));

    start = clock::now();
    std::memcpy(copy.data(), stream.data(), stream.size());
    volatile uint8_t sink = copy[copy.size() / 2];  // keeps the copy
    (void)sink;
    out[2] = std::min(out[2], seconds(start));
  }
}

}  // namespace

void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const std::string cmd = nrhs >= 1 ? command(prhs[0]) : std::string();
  if (cmd == "write" && nrhs == 2) {
    plhs[0] = rowOf(streamOf(prhs[1]));
  } else if ((cmd == "read" || cmd == "valid") && nrhs == 2) {
    size_t length = 0;
    const uint8_t* bytes = bytesOf(prhs[1], length);
    mxArray* value = kuvo::mat::readStream(bytes, length);
    if (cmd == "valid") {
      plhs[0] = mxCreateLogicalScalar(value != nullptr);
      if (value) mxDestroyArray(value);
    } else if (!value) {
      mexErrMsgIdAndTxt("kuvo_stream_test:invalid", "no valid stream");
    } else {
      plhs[0] = value;
    }
  } else if (cmd == "file" && nrhs == 3 && mxIsChar(prhs[2])) {
    char name[64] = {};
    mxGetString(prhs[2], name, sizeof name);
    plhs[0] = rowOf(matFile(streamOf(prhs[1]), name));
  } else if (cmd == "bench" && nrhs == 3) {
    plhs[0] = mxCreateDoubleMatrix(1, 3, mxREAL);
    bench(prhs[1], std::max(1, int(mxGetScalar(prhs[2]))), mxGetPr(plhs[0]));
  } else {
    mexErrMsgIdAndTxt("kuvo_stream_test:usage",
                      "usage: kuvo_stream_test('write'|'read'|'valid'|'file'|'bench', ...)");
  }
}
