// Kuvo's value serializer: one Level 5 MAT-file miMATRIX element per value.
//
// Writing takes two walks over the value: streamSize checks that every array
// inside it can be represented and adds up the bytes, writeStream then fills
// the caller's buffer in one pass, copying data parts with memcpy and
// back-patching each miMATRIX byte count once its content is written.
//
// Reading trusts nothing: every tag is checked against the bytes that enclose
// it, every count against the dimensions, and every array is allocated only
// after the bytes that must fill it are known to be present.
#include "mat_stream.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kuvo::mat {
namespace {

// Data types of a tag.
enum : uint32_t {
  miINT8 = 1,
  miUINT8 = 2,
  miINT16 = 3,
  miUINT16 = 4,
  miINT32 = 5,
  miUINT32 = 6,
  miSINGLE = 7,
  miDOUBLE = 9,
  miINT64 = 12,
  miUINT64 = 13,
  miMATRIX = 14,
  miCOMPRESSED = 15,
  miUTF8 = 16,
  miUTF16 = 17,
  miUTF32 = 18,
};

// Array classes of the flags word. They differ from mxClassID for logical
// (uint8 plus a flag), sparse (a class of its own) and object (3).
enum : uint8_t {
  kCellClass = 1,
  kStructClass = 2,
  kCharClass = 4,
  kSparseClass = 5,
  kDoubleClass = 6,
  kUint8Class = 9,
  kUint64Class = 15,
};

constexpr uint8_t kComplexFlag = 0x08;
constexpr uint8_t kLogicalFlag = 0x02;

constexpr int kMaxDepth = 200;              // nesting levels, top level is 1
constexpr uint64_t kMaxCount = 0xFFFFFFFFu;  // a tag's byte count is a u32
constexpr uint64_t kMaxDim = 0x7FFFFFFFu;    // dimensions and indices are i32
constexpr uint64_t kMaxNumel = uint64_t(1) << 62;  // what a host index holds
constexpr size_t kNameSlot = 64;             // field name slot, 63 bytes + NUL
constexpr size_t kMaxFieldName = kNameSlot - 1;

// Bytes of [] written as a full element: tag, flags, dims [0 0], name, pr.
constexpr uint64_t kEmptyMatrixSize = 8 + 16 + 16 + 8 + 8;

static_assert(sizeof(mxLogical) == 1, "logical values are single bytes");
static_assert(sizeof(mxChar) == 1 || sizeof(mxChar) == 2,
              "characters are 8-bit (Octave) or 16-bit (MATLAB) units");

#if defined(HAVE_OCTAVE)
// Octave has no complex integer arrays and stores one byte per character.
constexpr bool kComplexIntegers = false;
#else
constexpr bool kComplexIntegers = true;
#endif
constexpr uint32_t kMaxCharUnit = sizeof(mxChar) == 1 ? 0xFF : 0xFFFF;

constexpr uint64_t roundUp8(uint64_t n) { return (n + 7) & ~uint64_t(7); }

// Bytes of a whole non-miMATRIX element holding n data bytes: the small form
// for 1 to 4 bytes, otherwise tag, data and padding.
constexpr uint64_t elementSize(uint64_t n) { return n <= 4 ? 8 : 8 + roundUp8(n); }

template <class T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Storage type, and its size, that the writer uses for each numeric class.
struct NumericType {
  uint32_t type;
  uint32_t size;
};

NumericType numericType(mxClassID id) {
  switch (id) {
    case mxDOUBLE_CLASS: return {miDOUBLE, 8};
    case mxSINGLE_CLASS: return {miSINGLE, 4};
    case mxINT8_CLASS: return {miINT8, 1};
    case mxUINT8_CLASS: return {miUINT8, 1};
    case mxINT16_CLASS: return {miINT16, 2};
    case mxUINT16_CLASS: return {miUINT16, 2};
    case mxINT32_CLASS: return {miINT32, 4};
    case mxUINT32_CLASS: return {miUINT32, 4};
    case mxINT64_CLASS: return {miINT64, 8};
    case mxUINT64_CLASS: return {miUINT64, 8};
    default: return {0, 0};
  }
}

// Size of one value of a numeric storage type; 0 for every other type.
uint32_t storageSize(uint32_t type) {
  switch (type) {
    case miINT8:
    case miUINT8: return 1;
    case miINT16:
    case miUINT16: return 2;
    case miINT32:
    case miUINT32:
    case miSINGLE: return 4;
    case miDOUBLE:
    case miINT64:
    case miUINT64: return 8;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// Writing

enum class Kind { Numeric, Logical, Char, Sparse, Cell, Struct, Unsupported };

Kind kindOf(const mxArray* a) {
  const mxClassID id = mxGetClassID(a);
  if (mxIsSparse(a))
    return id == mxDOUBLE_CLASS || id == mxLOGICAL_CLASS ? Kind::Sparse : Kind::Unsupported;
  switch (id) {
    case mxCELL_CLASS: return Kind::Cell;
    case mxSTRUCT_CLASS: {
      // An old-style object reports the struct class and its own name.
      const char* name = mxGetClassName(a);
      return name && std::strcmp(name, "struct") == 0 ? Kind::Struct : Kind::Unsupported;
    }
    case mxLOGICAL_CLASS: return Kind::Logical;
    case mxCHAR_CLASS: return Kind::Char;
    default: return numericType(id).size ? Kind::Numeric : Kind::Unsupported;
  }
}

std::string className(const mxArray* a) {
  const char* name = mxGetClassName(a);
  return name && *name ? name : "unknown";
}

// Adds up the stream size of a value and refuses what the format cannot hold.
class Sizer {
 public:
  explicit Sizer(std::string& what) : what_(what) {}

  // Whole miMATRIX element of `a` (null: an unset cell or field, i.e. []).
  bool measure(const mxArray* a, int depth, uint64_t& total) {
    if (depth > kMaxDepth) return refuse("value nested deeper than 200 levels");
    if (!a) {
      total = kEmptyMatrixSize;
      return true;
    }
    const Kind kind = kindOf(a);
    if (kind == Kind::Unsupported) return refuse(className(a));

    const size_t ndims = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    for (size_t i = 0; i < ndims; ++i)
      if (uint64_t(dims[i]) > kMaxDim)
        return refuse(className(a) + " array with a dimension above 2147483647");
    const uint64_t numel = mxGetNumberOfElements(a);

    uint64_t body = 16 + elementSize(4 * uint64_t(ndims)) + 8;  // flags, dims, name
    uint64_t bytes = 0;
    switch (kind) {
      case Kind::Numeric: {
        const uint64_t size = numericType(mxGetClassID(a)).size;
        if (numel > kMaxCount / size) return tooLarge(a);
        bytes = numel * size;
        body += elementSize(bytes) * (mxIsComplex(a) ? 2 : 1);
        break;
      }
      case Kind::Logical:
        if (numel > kMaxCount) return tooLarge(a);
        body += elementSize(numel);
        break;
      case Kind::Char:
        if (numel > kMaxCount / 2) return tooLarge(a);
        body += elementSize(2 * numel);
        break;
      case Kind::Sparse: {
        const uint64_t n = dims[1];
        const uint64_t nnz = mxGetJc(a)[n];
        if (nnz > kMaxDim) return tooLarge(a);
        const uint64_t valueSize = mxGetClassID(a) == mxLOGICAL_CLASS ? 1 : 8;
        body += elementSize(4 * nnz) + elementSize(4 * (n + 1)) +
                elementSize(valueSize * nnz) * (mxIsComplex(a) ? 2 : 1);
        break;
      }
      case Kind::Cell:
        for (uint64_t i = 0; i < numel; ++i) {
          uint64_t child = 0;
          if (!measure(mxGetCell(a, i), depth + 1, child)) return false;
          body += child;
          if (body > kMaxCount) return tooLarge(a);
        }
        break;
      case Kind::Struct: {
        const int nfields = mxGetNumberOfFields(a);
        for (int f = 0; f < nfields; ++f) {
          const char* name = mxGetFieldNameByNumber(a, f);
          const size_t length = name ? std::strlen(name) : 0;
          if (length == 0) return refuse("struct with an empty field name");
          if (length > kMaxFieldName)
            return refuse("struct field name longer than 63 bytes (" + std::string(name) + ")");
        }
        if (uint64_t(nfields) * kNameSlot > kMaxCount) return tooLarge(a);
        body += 8 + elementSize(uint64_t(nfields) * kNameSlot);
        // A struct array without fields holds no values, however many elements.
        for (uint64_t i = 0; i < numel && nfields > 0; ++i)
          for (int f = 0; f < nfields; ++f) {
            uint64_t child = 0;
            if (!measure(mxGetFieldByNumber(a, i, f), depth + 1, child)) return false;
            body += child;
            if (body > kMaxCount) return tooLarge(a);
          }
        break;
      }
      case Kind::Unsupported: break;
    }
    if (body > kMaxCount) return tooLarge(a);
    total = 8 + body;
    return true;
  }

 private:
  bool refuse(std::string reason) {
    what_ = std::move(reason);
    return false;
  }
  bool tooLarge(const mxArray* a) { return refuse(className(a) + " array too large for the stream"); }

  std::string& what_;
};

// Fills a buffer that streamSize measured. The bounds checks only guard
// against a value changed between the two calls: the writer then stops
// rather than overrun the buffer.
class Writer {
 public:
  Writer(uint8_t* out, size_t size) : p_(out), end_(out + size) {}

  void matrix(const mxArray* a) {
    uint8_t* const tag = p_;
    if (!reserve(8)) return;
    store<uint32_t>(p_, miMATRIX);
    p_ += 8;
    if (!a) {
      const mwSize zero[2] = {0, 0};
      header(kDoubleClass, 0, 0, 2, zero);
      element(miDOUBLE, 0, [](uint8_t*) {});
    } else {
      content(a);
    }
    if (ok_) store<uint32_t>(tag + 4, uint32_t(p_ - tag - 8));
  }

 private:
  bool reserve(uint64_t n) {
    if (ok_ && uint64_t(end_ - p_) >= n) return true;
    ok_ = false;
    return false;
  }

  // One element of n data bytes; fill(dst) writes exactly n bytes.
  template <class Fill>
  void element(uint32_t type, uint64_t n, Fill&& fill) {
    if (!reserve(elementSize(n))) return;
    if (n >= 1 && n <= 4) {
      store<uint32_t>(p_, type | uint32_t(n) << 16);
      std::memset(p_ + 4, 0, 4);
      fill(p_ + 4);
      p_ += 8;
    } else {
      store<uint32_t>(p_, type);
      store<uint32_t>(p_ + 4, uint32_t(n));
      const uint64_t padded = roundUp8(n);
      std::memset(p_ + 8 + n, 0, padded - n);
      fill(p_ + 8);
      p_ += 8 + padded;
    }
  }

  void copy(uint32_t type, const void* data, uint64_t n) {
    element(type, n, [&](uint8_t* d) {
      if (n) std::memcpy(d, data, n);
    });
  }

  void header(uint8_t cls, uint8_t flags, uint32_t nzmax, size_t ndims, const mwSize* dims) {
    element(miUINT32, 8, [&](uint8_t* d) {
      store<uint32_t>(d, cls | uint32_t(flags) << 8);
      store<uint32_t>(d + 4, nzmax);
    });
    element(miINT32, 4 * uint64_t(ndims), [&](uint8_t* d) {
      for (size_t i = 0; i < ndims; ++i) store<int32_t>(d + 4 * i, int32_t(dims[i]));
    });
    element(miINT8, 0, [](uint8_t*) {});  // array name, always empty
  }

  void content(const mxArray* a) {
    const Kind kind = kindOf(a);
    const mxClassID id = mxGetClassID(a);
    const size_t ndims = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    const size_t numel = mxGetNumberOfElements(a);
    const bool complex = mxIsComplex(a);
    switch (kind) {
      case Kind::Numeric: {
        const NumericType t = numericType(id);
        header(uint8_t(id), complex ? kComplexFlag : 0, 0, ndims, dims);
        copy(t.type, mxGetData(a), uint64_t(numel) * t.size);
        if (complex) copy(t.type, mxGetImagData(a), uint64_t(numel) * t.size);
        break;
      }
      case Kind::Logical:
        header(kUint8Class, kLogicalFlag, 0, ndims, dims);
        copy(miUINT8, mxGetData(a), numel);
        break;
      case Kind::Char: {
        header(kCharClass, 0, 0, ndims, dims);
        const mxChar* chars = mxGetChars(a);
        element(miUINT16, 2 * uint64_t(numel), [&](uint8_t* d) {
          if constexpr (sizeof(mxChar) == 2) {
            if (numel) std::memcpy(d, chars, 2 * numel);
          } else {
            // Octave's bytes become 16-bit units by zero extension.
            for (size_t i = 0; i < numel; ++i)
              store<uint16_t>(d + 2 * i, static_cast<unsigned char>(chars[i]));
          }
        });
        break;
      }
      case Kind::Sparse: sparse(a, dims, complex); break;
      case Kind::Cell:
        header(kCellClass, 0, 0, ndims, dims);
        for (size_t i = 0; i < numel && ok_; ++i) matrix(mxGetCell(a, i));
        break;
      case Kind::Struct: {
        header(kStructClass, 0, 0, ndims, dims);
        const int nfields = mxGetNumberOfFields(a);
        element(miINT32, 4, [](uint8_t* d) { store<int32_t>(d, int32_t(kNameSlot)); });
        element(miINT8, uint64_t(nfields) * kNameSlot, [&](uint8_t* d) {
          std::memset(d, 0, size_t(nfields) * kNameSlot);
          for (int f = 0; f < nfields; ++f) {
            const char* name = mxGetFieldNameByNumber(a, f);
            std::memcpy(d + f * kNameSlot, name, std::min(std::strlen(name), kMaxFieldName));
          }
        });
        for (size_t i = 0; i < numel && nfields > 0 && ok_; ++i)
          for (int f = 0; f < nfields && ok_; ++f) matrix(mxGetFieldByNumber(a, i, f));
        break;
      }
      case Kind::Unsupported: ok_ = false; break;
    }
  }

  void sparse(const mxArray* a, const mwSize* dims, bool complex) {
    const bool logical = mxGetClassID(a) == mxLOGICAL_CLASS;
    const size_t n = dims[1];
    const mwIndex* ir = mxGetIr(a);
    const mwIndex* jc = mxGetJc(a);
    const size_t nnz = jc[n];
    header(kSparseClass, (complex ? kComplexFlag : 0) | (logical ? kLogicalFlag : 0),
           uint32_t(std::max<size_t>(nnz, 1)), 2, dims);
    element(miINT32, 4 * uint64_t(nnz), [&](uint8_t* d) {
      for (size_t k = 0; k < nnz; ++k) store<int32_t>(d + 4 * k, int32_t(ir[k]));
    });
    element(miINT32, 4 * (uint64_t(n) + 1), [&](uint8_t* d) {
      for (size_t j = 0; j <= n; ++j) store<int32_t>(d + 4 * j, int32_t(jc[j]));
    });
    if (logical) {
      const mxLogical* values = static_cast<const mxLogical*>(mxGetData(a));
      element(miUINT8, nnz, [&](uint8_t* d) {
        for (size_t k = 0; k < nnz; ++k) d[k] = values[k] ? 1 : 0;
      });
    } else {
      copy(miDOUBLE, mxGetData(a), 8 * uint64_t(nnz));
      if (complex) copy(miDOUBLE, mxGetImagData(a), 8 * uint64_t(nnz));
    }
  }

  uint8_t* p_;
  uint8_t* const end_;
  bool ok_ = true;
};

// ---------------------------------------------------------------------------
// Reading

struct ArrayDeleter {
  void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using Owned = std::unique_ptr<mxArray, ArrayDeleter>;

struct Element {
  uint32_t type = 0;
  uint32_t count = 0;
  const uint8_t* data = nullptr;
};

// Walks the subelements inside one miMATRIX.
class Cursor {
 public:
  Cursor(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}

  bool done() const { return p_ == end_; }
  size_t left() const { return size_t(end_ - p_); }

  // Next element, in either tag form; false when its tag, data or padding
  // runs past the end.
  bool next(Element& e) {
    if (left() < 8) return false;
    const uint32_t first = load<uint32_t>(p_);
    if (first >> 16) {
      e.type = first & 0xFFFF;
      e.count = first >> 16;
      if (e.count > 4 || e.type == miMATRIX || e.type == miCOMPRESSED) return false;
      e.data = p_ + 4;
      p_ += 8;
      return true;
    }
    e.type = first;
    e.count = load<uint32_t>(p_ + 4);
    if (roundUp8(e.count) > left() - 8) return false;
    e.data = p_ + 8;
    p_ += 8 + roundUp8(e.count);
    return true;
  }

  // Next element of a numeric storage type holding exactly `numel` values.
  bool nextValues(Element& e, uint64_t numel) {
    if (!next(e)) return false;
    const uint32_t size = storageSize(e.type);
    return size && e.count % size == 0 && e.count / size == numel;
  }

 private:
  const uint8_t* p_;
  const uint8_t* const end_;
};

// Calls put(i, value) for the first n values of a numeric storage element.
template <class Put>
void forEachValue(const Element& e, size_t n, Put&& put) {
  const uint8_t* p = e.data;
  switch (e.type) {
    case miINT8: for (size_t i = 0; i < n; ++i) put(i, load<int8_t>(p + i)); break;
    case miUINT8: for (size_t i = 0; i < n; ++i) put(i, load<uint8_t>(p + i)); break;
    case miINT16: for (size_t i = 0; i < n; ++i) put(i, load<int16_t>(p + 2 * i)); break;
    case miUINT16: for (size_t i = 0; i < n; ++i) put(i, load<uint16_t>(p + 2 * i)); break;
    case miINT32: for (size_t i = 0; i < n; ++i) put(i, load<int32_t>(p + 4 * i)); break;
    case miUINT32: for (size_t i = 0; i < n; ++i) put(i, load<uint32_t>(p + 4 * i)); break;
    case miSINGLE: for (size_t i = 0; i < n; ++i) put(i, load<float>(p + 4 * i)); break;
    case miDOUBLE: for (size_t i = 0; i < n; ++i) put(i, load<double>(p + 8 * i)); break;
    case miINT64: for (size_t i = 0; i < n; ++i) put(i, load<int64_t>(p + 8 * i)); break;
    case miUINT64: for (size_t i = 0; i < n; ++i) put(i, load<uint64_t>(p + 8 * i)); break;
    default: break;
  }
}

// A value of one storage type as another class's type, as MATLAB converts:
// integers round to nearest and saturate, NaN becomes 0.
template <class Dst, class Src>
Dst convertValue(Src v) {
  if constexpr (std::is_same_v<Dst, Src>) {
    return v;
  } else if constexpr (std::is_floating_point_v<Dst>) {
    if constexpr (std::is_same_v<Dst, float> && std::is_same_v<Src, double>) {
      if (v > FLT_MAX) return std::numeric_limits<float>::infinity();
      if (v < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    }
    return static_cast<Dst>(v);
  } else if constexpr (std::is_floating_point_v<Src>) {
    if (std::isnan(v)) return 0;
    const Src r = std::round(v);
    if (r <= static_cast<Src>(std::numeric_limits<Dst>::min())) return std::numeric_limits<Dst>::min();
    if (r >= static_cast<Src>(std::numeric_limits<Dst>::max())) return std::numeric_limits<Dst>::max();
    return static_cast<Dst>(r);
  } else if constexpr (std::is_signed_v<Src>) {
    if (v < 0) {
      if constexpr (std::is_unsigned_v<Dst>) return 0;
      else if (int64_t(v) < int64_t(std::numeric_limits<Dst>::min())) return std::numeric_limits<Dst>::min();
      return static_cast<Dst>(v);
    }
    if (uint64_t(v) > uint64_t(std::numeric_limits<Dst>::max())) return std::numeric_limits<Dst>::max();
    return static_cast<Dst>(v);
  } else {
    if (uint64_t(v) > uint64_t(std::numeric_limits<Dst>::max())) return std::numeric_limits<Dst>::max();
    return static_cast<Dst>(v);
  }
}

// Copies n values of element e into out, whose type is Dst.
template <class Dst>
void copyValues(Dst* out, const Element& e, size_t n, uint32_t nativeType) {
  if (e.type == nativeType) {
    if (n) std::memcpy(out, e.data, n * sizeof(Dst));
    return;
  }
  forEachValue(e, n, [out](size_t i, auto v) { out[i] = convertValue<Dst>(v); });
}

void copyNumeric(void* out, mxClassID id, const Element& e, size_t n) {
  const uint32_t native = numericType(id).type;
  switch (id) {
    case mxDOUBLE_CLASS: copyValues(static_cast<double*>(out), e, n, native); break;
    case mxSINGLE_CLASS: copyValues(static_cast<float*>(out), e, n, native); break;
    case mxINT8_CLASS: copyValues(static_cast<int8_t*>(out), e, n, native); break;
    case mxUINT8_CLASS: copyValues(static_cast<uint8_t*>(out), e, n, native); break;
    case mxINT16_CLASS: copyValues(static_cast<int16_t*>(out), e, n, native); break;
    case mxUINT16_CLASS: copyValues(static_cast<uint16_t*>(out), e, n, native); break;
    case mxINT32_CLASS: copyValues(static_cast<int32_t*>(out), e, n, native); break;
    case mxUINT32_CLASS: copyValues(static_cast<uint32_t*>(out), e, n, native); break;
    case mxINT64_CLASS: copyValues(static_cast<int64_t*>(out), e, n, native); break;
    case mxUINT64_CLASS: copyValues(static_cast<uint64_t*>(out), e, n, native); break;
    default: break;
  }
}

void copyLogical(mxLogical* out, const Element& e, size_t n) {
  forEachValue(e, n, [out](size_t i, auto v) { out[i] = v != 0; });
}

// Decodes one UTF-8 sequence at p (n bytes left) into cp; returns its length,
// 0 when malformed (overlong, surrogate, beyond U+10FFFF, truncated).
size_t decodeUtf8(const uint8_t* p, size_t n, uint32_t& cp) {
  const uint8_t b = p[0];
  size_t len;
  uint32_t min;
  if (b < 0x80) {
    cp = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Whether a char data element's type and count can hold numel characters.
bool charCountFits(const Element& e, size_t numel) {
  switch (e.type) {
    case miUINT16:
    case miUTF16: return e.count % 2 == 0 && e.count / 2 == numel;
    case miUTF32: return e.count % 4 == 0 && e.count / 4 == numel;
    case miUINT8:
    case miINT8: return e.count == numel;
    case miUTF8: return e.count >= numel;  // one to four bytes a character
    default: return false;
  }
}

// Stores n code units; false when one exceeds the host's character width.
// The test folds into one OR, as the widths are all-ones bit patterns, so
// the loop has no branch.
template <class Unit>
bool storeUnits(const uint8_t* p, size_t n, mxChar* out) {
  Unit all = 0;
  for (size_t i = 0; i < n; ++i) {
    const Unit unit = load<Unit>(p + sizeof(Unit) * i);
    all |= unit;
    out[i] = static_cast<mxChar>(unit);
  }
  return all <= kMaxCharUnit;
}

// Stores the characters of an element that charCountFits accepted; false
// when one is malformed UTF-8 or does not fit the host's character width.
bool readChars(const Element& e, size_t numel, mxChar* out) {
  const uint8_t* p = e.data;
  switch (e.type) {
    case miUINT16:
    case miUTF16: return storeUnits<uint16_t>(p, numel, out);
    case miUTF32: return storeUnits<uint32_t>(p, numel, out);
    default: break;
  }
  if (e.count == numel) {  // one byte a character: miUINT8, miINT8, miUTF8
    for (size_t i = 0; i < numel; ++i) out[i] = static_cast<mxChar>(p[i]);
    return true;
  }
  size_t pos = 0, chars = 0;  // miUTF8 text of numel characters
  while (pos < e.count) {
    uint32_t cp = 0;
    const size_t len = decodeUtf8(p + pos, e.count - pos, cp);
    if (!len || cp > kMaxCharUnit || chars == numel) return false;
    out[chars++] = static_cast<mxChar>(cp);
    pos += len;
  }
  return chars == numel;
}

bool isIntegerClass(mxClassID id) { return id >= mxINT8_CLASS && id <= mxUINT64_CLASS; }

#if !defined(HAVE_OCTAVE)
// MATLAB only takes field names that are valid identifiers.
bool isIdentifier(std::string_view name) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.size() > kMaxFieldName || !letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || digit(c) || c == '_'; });
}
#endif

// Dimensions of an array being read, and their product.
struct Shape {
  std::vector<mwSize> dims;
  uint64_t numel = 0;
};

class Reader {
 public:
  // The array whose miMATRIX content is the n bytes at p.
  Owned matrix(const uint8_t* p, size_t n, int depth) {
    if (depth > kMaxDepth) return nullptr;
    if (n == 0) return Owned(mxCreateDoubleMatrix(0, 0, mxREAL));  // tag-only form: []

    Cursor c(p, n);
    Element flags, dimsEl, name;
    if (!c.next(flags) || flags.type != miUINT32 || flags.count != 8) return nullptr;
    if (!c.next(dimsEl) || dimsEl.type != miINT32 || dimsEl.count % 4 || dimsEl.count < 8)
      return nullptr;
    if (!c.next(name) || (name.type != miINT8 && name.type != miUINT8)) return nullptr;

    const uint32_t word = load<uint32_t>(flags.data);
    const uint8_t cls = word & 0xFF;
    const uint8_t flagBits = (word >> 8) & 0xFF;
    const bool complex = flagBits & kComplexFlag;
    const bool logical = flagBits & kLogicalFlag;

    Shape shape;
    const size_t ndims = dimsEl.count / 4;
    shape.dims.resize(ndims);
    uint64_t numel = 1;
    bool empty = false;
    for (size_t i = 0; i < ndims; ++i) {
      const int32_t d = load<int32_t>(dimsEl.data + 4 * i);
      if (d < 0) return nullptr;
      shape.dims[i] = d;
      if (d == 0) {
        empty = true;
      } else {
        // The product of the non-zero dimensions must fit the host's index.
        if (numel > kMaxNumel / uint64_t(d)) return nullptr;
        numel *= uint64_t(d);
      }
    }
    shape.numel = empty ? 0 : numel;

    switch (cls) {
      case kCellClass:
        if (complex) return nullptr;
        return cell(c, shape, depth);
      case kStructClass:
        if (complex) return nullptr;
        return structure(c, shape, depth);
      case kCharClass:
        if (complex) return nullptr;
        return chars(c, shape);
      case kSparseClass:
        if (ndims != 2 || (complex && logical)) return nullptr;
        return sparse(c, shape, complex, logical);
      default:
        if (cls < kDoubleClass || cls > kUint64Class) return nullptr;
        return numeric(c, shape, mxClassID(cls), complex, logical);
    }
  }

 private:
  Owned numeric(Cursor& c, const Shape& shape, mxClassID id, bool complex, bool logical) {
    const uint64_t numel = shape.numel;
    Element re, im;
    if (!c.nextValues(re, numel)) return nullptr;
    if (complex && !c.nextValues(im, numel)) return nullptr;
    if (!c.done()) return nullptr;
    if (logical) {
      if (complex) return nullptr;
      Owned a(mxCreateLogicalArray(shape.dims.size(), shape.dims.data()));
      if (!a) return nullptr;
      copyLogical(mxGetLogicals(a.get()), re, numel);
      return a;
    }
    if (complex && isIntegerClass(id) && !kComplexIntegers) return nullptr;
    // Every element is written below, so the array need not be zeroed first.
    // MATLAB declares the dimensions non-const; they are only read.
    Owned a(mxCreateUninitNumericArray(shape.dims.size(), const_cast<mwSize*>(shape.dims.data()),
                                       id, complex ? mxCOMPLEX : mxREAL));
    if (!a) return nullptr;
    copyNumeric(mxGetData(a.get()), id, re, numel);
    if (complex) copyNumeric(mxGetImagData(a.get()), id, im, numel);
    return a;
  }

  Owned chars(Cursor& c, const Shape& shape) {
    Element e;
    if (!c.next(e) || !c.done() || !charCountFits(e, shape.numel)) return nullptr;
    Owned a(mxCreateCharArray(shape.dims.size(), shape.dims.data()));
    if (!a || !readChars(e, shape.numel, mxGetChars(a.get()))) return nullptr;
    return a;
  }

  Owned sparse(Cursor& c, const Shape& shape, bool complex, bool logical) {
    const uint64_t m = shape.dims[0];
    const uint64_t n = shape.dims[1];
    Element ir, jc, pr, pi;
    if (!c.next(ir) || ir.type != miINT32 || ir.count % 4) return nullptr;
    if (!c.next(jc) || jc.type != miINT32 || uint64_t(jc.count) != 4 * (n + 1)) return nullptr;
    if (!c.next(pr) || !storageSize(pr.type) || pr.count % storageSize(pr.type)) return nullptr;
    if (complex && (!c.next(pi) || !storageSize(pi.type) || pi.count % storageSize(pi.type)))
      return nullptr;
    if (!c.done()) return nullptr;

    // jc starts at 0 and never decreases; rows ascend strictly in each column.
    if (load<int32_t>(jc.data) != 0) return nullptr;
    int32_t previous = 0;
    for (uint64_t j = 1; j <= n; ++j) {
      const int32_t next = load<int32_t>(jc.data + 4 * j);
      if (next < previous) return nullptr;
      previous = next;
    }
    const uint64_t nnz = uint64_t(previous);
    if (nnz > ir.count / 4 || nnz > pr.count / storageSize(pr.type)) return nullptr;
    if (complex && nnz > pi.count / storageSize(pi.type)) return nullptr;
    for (uint64_t j = 0; j < n; ++j) {
      const int32_t begin = load<int32_t>(jc.data + 4 * j);
      const int32_t end = load<int32_t>(jc.data + 4 * (j + 1));
      int64_t row = -1;
      for (int32_t k = begin; k < end; ++k) {
        const int32_t r = load<int32_t>(ir.data + 4 * uint64_t(k));
        if (r <= row || uint64_t(r) >= m) return nullptr;
        row = r;
      }
    }

    const mwSize nzmax = mwSize(std::max<uint64_t>(nnz, 1));
    Owned a(logical ? mxCreateSparseLogicalMatrix(mwSize(m), mwSize(n), nzmax)
                    : mxCreateSparse(mwSize(m), mwSize(n), nzmax, complex ? mxCOMPLEX : mxREAL));
    if (!a) return nullptr;
    mwIndex* outIr = mxGetIr(a.get());
    mwIndex* outJc = mxGetJc(a.get());
    for (uint64_t k = 0; k < nnz; ++k) outIr[k] = mwIndex(load<int32_t>(ir.data + 4 * k));
    for (uint64_t j = 0; j <= n; ++j) outJc[j] = mwIndex(load<int32_t>(jc.data + 4 * j));
    if (logical) {
      copyLogical(mxGetLogicals(a.get()), pr, nnz);
    } else {
      copyValues(mxGetPr(a.get()), pr, nnz, miDOUBLE);
      if (complex) copyValues(static_cast<double*>(mxGetImagData(a.get())), pi, nnz, miDOUBLE);
    }
    return a;
  }

  Owned cell(Cursor& c, const Shape& shape, int depth) {
    // Each element takes at least its 8-byte tag.
    const uint64_t numel = shape.numel;
    if (numel > c.left() / 8) return nullptr;
    Owned a(mxCreateCellArray(shape.dims.size(), shape.dims.data()));
    if (!a) return nullptr;
    for (uint64_t i = 0; i < numel; ++i) {
      Owned child = nextMatrix(c, depth);
      if (!child) return nullptr;
      mxSetCell(a.get(), mwIndex(i), child.release());
    }
    if (!c.done()) return nullptr;
    return a;
  }

  Owned structure(Cursor& c, const Shape& shape, int depth) {
    const uint64_t numel = shape.numel;
    Element slot, namesEl;
    if (!c.next(slot) || slot.type != miINT32 || slot.count != 4) return nullptr;
    const int32_t length = load<int32_t>(slot.data);
    if (length < 1) return nullptr;
    if (!c.next(namesEl) || (namesEl.type != miINT8 && namesEl.type != miUINT8) ||
        namesEl.count % uint32_t(length))
      return nullptr;
    const uint64_t nfields = namesEl.count / uint32_t(length);
    if (nfields > uint64_t(INT_MAX)) return nullptr;
    // numel * nfields values follow, each at least an 8-byte tag.
    if (nfields && numel > c.left() / 8 / nfields) return nullptr;

    std::vector<std::string_view> names(nfields);
    for (uint64_t f = 0; f < nfields; ++f) {
      std::string_view name(reinterpret_cast<const char*>(namesEl.data) + f * uint32_t(length),
                            size_t(length));
      names[f] = name.substr(0, name.find('\0'));
      if (names[f].empty()) return nullptr;
#if !defined(HAVE_OCTAVE)
      if (!isIdentifier(names[f])) return nullptr;
#endif
    }
    std::vector<std::string_view> sorted(names);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return nullptr;

    std::vector<std::string> owned(names.begin(), names.end());  // NUL-terminated
    std::vector<const char*> pointers(nfields);
    for (uint64_t f = 0; f < nfields; ++f) pointers[f] = owned[f].c_str();
    Owned a(mxCreateStructArray(shape.dims.size(), shape.dims.data(), int(nfields),
                                pointers.data()));
    if (!a) return nullptr;
    for (uint64_t i = 0; i < numel && nfields > 0; ++i)
      for (uint64_t f = 0; f < nfields; ++f) {
        Owned child = nextMatrix(c, depth);
        if (!child) return nullptr;
        mxSetFieldByNumber(a.get(), mwIndex(i), int(f), child.release());
      }
    if (!c.done()) return nullptr;
    return a;
  }

  // The next element of c, which must be a whole nested miMATRIX.
  Owned nextMatrix(Cursor& c, int depth) {
    Element e;
    if (!c.next(e) || e.type != miMATRIX) return nullptr;
    return matrix(e.data, e.count, depth + 1);
  }
};

}  // namespace

bool streamSize(const mxArray* value, size_t& size, std::string& what) {
  try {
    uint64_t total = 0;
    if (!value) {
      what = "missing value";
      return false;
    }
    if (!Sizer(what).measure(value, 1, total)) return false;
    if (total > std::numeric_limits<size_t>::max()) {
      what = className(value) + " array too large for the stream";
      return false;
    }
    size = size_t(total);
    return true;
  } catch (const std::bad_alloc&) {
    what = "out of memory";
    return false;
  }
}

void writeStream(const mxArray* value, uint8_t* out, size_t size) {
  Writer writer(out, size);
  writer.matrix(value);
}

mxArray* readStream(const uint8_t* data, size_t length) {
  if (!data || length < 8) return nullptr;
  if (load<uint32_t>(data) != miMATRIX) return nullptr;
  if (uint64_t(load<uint32_t>(data + 4)) + 8 != length) return nullptr;
  try {
    return Reader().matrix(data + 8, length - 8, 1).release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::runtime_error&) {
    // Octave reports a failed allocation inside mxCreate* this way; the
    // arrays built so far are already destroyed by the unwinding.
    return nullptr;
  }
}

}  // namespace kuvo::mat
