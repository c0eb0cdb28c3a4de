// orvlib.convert and orvlib.distance: numbers in, numbers out; arrays in, new arrays out.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "columns.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"

namespace py = pybind11;

namespace orvpy {

namespace {

using Shape = std::vector<py::ssize_t>;

bool isNumber(py::handle h) { return !py::isinstance<py::array>(h) && !PySequence_Check(h.ptr()); }

std::string shapeText(const Shape& shape) {
  std::string text = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    text += std::to_string(shape[i]);
    text += (shape.size() == 1 || i + 1 < shape.size()) ? "," : "";
  }
  return text + ")";
}

// One argument read in place: a number (repeated for every point) or a flat view of an array of
// float64 or float32, strided or not. Other numeric dtypes are cast to float64 first.
class Column {
 public:
  static Column number(py::handle h) {
    Column c;
    c.scalar_ = py::cast<double>(h);
    return c;
  }

  static Column array(py::handle h, const char* name) {
    Column c;
    py::array a = py::array::ensure(h);
    if (!a) throw py::type_error(std::string(name) + " must be a number or an array of numbers");
    c.shape_.assign(a.shape(), a.shape() + a.ndim());
    if (!py::isinstance<py::array_t<double>>(a) && !py::isinstance<py::array_t<float>>(a)) {
      a = py::array_t<double, py::array::forcecast>::ensure(a);
      if (!a) throw py::type_error(std::string(name) + " must hold numbers");
    }
    c.single_ = py::isinstance<py::array_t<float>>(a);
    // A view whenever numpy can give one; only odd multi-dimensional layouts are copied.
    if (a.ndim() != 1) a = py::array::ensure(a.attr("reshape")(-1));
    c.data_ = static_cast<const char*>(a.data());
    c.stride_ = a.strides(0);
    c.keep_ = a;
    c.isArray_ = true;
    return c;
  }

  const Shape& shape() const { return shape_; }
  bool isArray() const { return isArray_; }
  py::ssize_t size() const {
    py::ssize_t n = 1;
    for (auto d : shape_) n *= d;
    return n;
  }
  // Contiguous float64: the engine can read it as it is.
  const double* contiguous() const {
    return (data_ && !single_ && stride_ == sizeof(double)) ? reinterpret_cast<const double*>(data_)
                                                            : nullptr;
  }
  // Whether the bytes the column reads overlap [begin, end).
  bool overlaps(const char* begin, const char* end) const {
    if (!isArray_ || size() == 0) return false;
    const char* last = data_ + (size() - 1) * stride_;
    const char* lo = std::min(data_, last);
    const char* hi = std::max(data_, last) + (single_ ? sizeof(float) : sizeof(double));
    return lo < end && begin < hi;
  }
  double at(py::ssize_t i) const {
    if (!data_) return scalar_;
    const char* p = data_ + i * stride_;
    return single_ ? double(*reinterpret_cast<const float*>(p))
                   : *reinterpret_cast<const double*>(p);
  }

 private:
  double scalar_ = 0.0;
  const char* data_ = nullptr;
  py::ssize_t stride_ = 0;
  bool single_ = false;
  bool isArray_ = false;
  Shape shape_;
  py::object keep_;
};

constexpr std::size_t kChunk = 2048;

// Reads a chunk of any column into `buffer` unless the column can be read in place.
const double* gather(const Column& c, std::size_t from, std::size_t m,
                     std::array<double, kChunk>& buffer) {
  if (const double* p = c.contiguous()) return p + from;
  for (std::size_t i = 0; i < m; ++i) buffer[i] = c.at(py::ssize_t(from + i));
  return buffer.data();
}

// A caller's output array: C-contiguous, writable float64 of the input's shape, overlapping no
// input except its own column read in place.
double* outputColumn(const py::handle& h, const Shape& shape, const Column& same,
                     const Column& other) {
  if (!py::isinstance<py::array_t<double>>(h)) {
    throw py::value_error("out must hold two float64 arrays");
  }
  auto a = py::reinterpret_borrow<py::array_t<double>>(h);
  if (!(a.flags() & py::array::c_style) || !a.writeable() ||
      Shape(a.shape(), a.shape() + a.ndim()) != shape) {
    throw py::value_error("out arrays must be writable, C-contiguous and of the input's shape " +
                          shapeText(shape));
  }
  double* data = a.mutable_data();
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + a.size() * sizeof(double);
  const bool inPlace = same.contiguous() == data;
  if ((!inPlace && same.overlaps(begin, end)) || other.overlaps(begin, end)) {
    throw py::value_error("out arrays may only overlap their own input column, exactly");
  }
  return data;
}

py::object convert(py::handle lat, py::handle lng, const std::string& src, const std::string& dst,
                   const std::string& inverse, const py::object& out) {
  const System from = parseSystem(src, "src");
  const System to = parseSystem(dst, "dst");
  const Inverse method = parseInverse(inverse);
  if (isNumber(lat) && isNumber(lng)) {
    if (!out.is_none()) throw py::value_error("out is for arrays, not numbers");
    double la = py::cast<double>(lat), lo = py::cast<double>(lng);
    convertColumns(from, to, method, &la, &lo, &la, &lo, 1);
    return py::make_tuple(la, lo);
  }
  if (isNumber(lat) || isNumber(lng)) {
    throw py::value_error("lat and lng must both be numbers or both arrays of the same shape");
  }
  const Column a = Column::array(lat, "lat"), b = Column::array(lng, "lng");
  if (a.shape() != b.shape()) {
    throw py::value_error("lat and lng have different shapes: " + shapeText(a.shape()) + " and " +
                          shapeText(b.shape()));
  }
  py::tuple result;
  double *ol, *og;
  if (out.is_none()) {
    py::array_t<double> outLat(a.shape()), outLng(a.shape());
    ol = outLat.mutable_data();
    og = outLng.mutable_data();
    result = py::make_tuple(outLat, outLng);
  } else {
    if (py::len(out) != 2) throw py::value_error("out must hold two float64 arrays");
    result = py::tuple(out);
    ol = outputColumn(result[0], a.shape(), a, b);
    og = outputColumn(result[1], a.shape(), b, a);
  }
  const std::size_t n = std::size_t(a.size());
  // Both outputs in one array, or in views sharing elements, would leave only longitudes there.
  const auto latBegin = reinterpret_cast<std::uintptr_t>(ol);
  const auto lngBegin = reinterpret_cast<std::uintptr_t>(og);
  if (n > 0 && latBegin < lngBegin + n * sizeof(double) &&
      lngBegin < latBegin + n * sizeof(double)) {
    throw py::value_error("out arrays overlap each other");
  }
  {
    py::gil_scoped_release unlocked;
    std::array<double, kChunk> bufLat, bufLng;
    const bool inPlace = a.contiguous() && b.contiguous();
    const std::size_t step = inPlace ? std::max<std::size_t>(n, 1) : kChunk;
    for (std::size_t done = 0; done < n; done += step) {
      const std::size_t m = std::min(step, n - done);
      convertColumns(from, to, method, gather(a, done, m, bufLat), gather(b, done, m, bufLng),
                     ol + done, og + done, m);
    }
  }
  return result;
}

py::object distance(py::handle lat1, py::handle lng1, py::handle lat2, py::handle lng2) {
  const std::array<py::handle, 4> args{lat1, lng1, lat2, lng2};
  const std::array<const char*, 4> names{"lat1", "lng1", "lat2", "lng2"};
  std::vector<Column> cols;
  std::optional<Shape> shape;
  for (std::size_t i = 0; i < args.size(); ++i) {
    cols.push_back(isNumber(args[i]) ? Column::number(args[i]) : Column::array(args[i], names[i]));
    if (!cols.back().isArray()) continue;
    if (shape && *shape != cols.back().shape()) {
      throw py::value_error("distance: arrays have different shapes: " + shapeText(*shape) +
                            " and " + shapeText(cols.back().shape()));
    }
    shape = cols.back().shape();
  }
  using T = orv::JyrCoorTransform;
  if (!shape)
    return py::float_(
        T::distanceByPoint(cols[0].at(0), cols[2].at(0), cols[1].at(0), cols[3].at(0)));
  py::array_t<double> out(*shape);
  double* o = out.mutable_data();
  const py::ssize_t n = out.size();
  {
    py::gil_scoped_release unlocked;
    for (py::ssize_t i = 0; i < n; ++i) {
      o[i] = T::distanceByPoint(cols[0].at(i), cols[2].at(i), cols[1].at(i), cols[3].at(i));
    }
  }
  return out;
}

// For bench/python_convert.py: the engine alone on the same columns, into buffers it reuses, so
// the difference to convert() is what the binding adds. Best of `repeats`, in seconds.
double engineSeconds(const py::array_t<double>& lat, const py::array_t<double>& lng,
                     const std::string& src, const std::string& dst, const std::string& inverse,
                     int repeats) {
  const System from = parseSystem(src, "src"), to = parseSystem(dst, "dst");
  const Inverse method = parseInverse(inverse);
  const Column a = Column::array(lat, "lat"), b = Column::array(lng, "lng");
  if (!a.contiguous() || !b.contiguous() || a.size() != b.size()) {
    throw py::value_error("engine timing needs two contiguous float64 arrays of one length");
  }
  const std::size_t n = std::size_t(a.size());
  std::vector<double> outLat(n), outLng(n);
  double best = 1e300;
  py::gil_scoped_release unlocked;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    convertColumns(from, to, method, a.contiguous(), b.contiguous(), outLat.data(), outLng.data(),
                   n);
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

void bindConvert(py::module_& m) {
  m.def("convert", &convert, py::arg("lat"), py::arg("lng"), py::arg("src") = "wgs84",
        py::arg("dst") = "gcj02", py::arg("inverse") = "iterative", py::arg("out") = py::none(),
        R"(Converts coordinates between "wgs84", "gcj02" and "bd09".

Numbers give a tuple of floats; arrays of one shape (any length, strided or not, float32 is
promoted) give a tuple of two new float64 arrays, or fill `out` (two C-contiguous float64
arrays of that shape, which may be the input columns themselves) and return it. `inverse`
chooses how GCJ-02 and BD-09 go back to WGS-84: "iterative" or "search".)");
  m.def("distance", &distance, py::arg("lat1"), py::arg("lng1"), py::arg("lat2"), py::arg("lng2"),
        R"(Great-circle distance in metres (sphere of radius 6371004 m).

Each argument is a number or an array; arrays share one shape and numbers are repeated for
every element. Note the order: point 1 (lat, lng), then point 2.)");
  m.def("engine_target", &orv::convertTarget,
        "The instruction set the conversion engine runs on (\"AVX3\", \"AVX2\", ...).");
  m.def("_engine_seconds", &engineSeconds, py::arg("lat"), py::arg("lng"), py::arg("src"),
        py::arg("dst"), py::arg("inverse") = "iterative", py::arg("repeats") = 5);
}

}  // namespace orvpy
