// Result records as read-only Python objects. Attribute names are the records' JSON keys; each
// class lists them in `_fields`, from which orvlib builds to_dict() and repr().
#include <pybind11/stl.h>

#include <initializer_list>
#include <memory>
#include <optional>

#include "bindings.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orvpy {

namespace {

template <class T>
py::class_<T, std::shared_ptr<T>> record(py::module_& m, const char* name,
                                         std::initializer_list<const char*> fields) {
  py::class_<T, std::shared_ptr<T>> cls(m, name);
  py::tuple names(fields.size());
  std::size_t i = 0;
  for (const char* f : fields) names[i++] = py::str(f);
  cls.attr("_fields") = names;
  cls.def("to_json", [](const T& r) {
    auto json = r.encode();
    if (!json) throw py::value_error(json.error().message);
    return json.value();
  });
  return cls;
}

const orv::OrvPoint* point(const orv::LocationRes& r) {
  const auto& detail = r.location();
  if (!detail || !detail->position()) return nullptr;
  return detail->position()->point().get();
}

}  // namespace

void bindRecords(py::module_& m) {
  using namespace orv;
  record<OrvPoint>(m, "OrvPoint", {"longitude", "latitude"})
      .def_property_readonly("longitude", &OrvPoint::longitude)
      .def_property_readonly("latitude", &OrvPoint::latitude);
  record<Position>(m, "Position", {"point"}).def_property_readonly("point", &Position::point);
  record<DistanceInfo>(m, "DistanceInfo", {"line"})
      .def_property_readonly("line", &DistanceInfo::line);
  record<PlaceInfo>(m, "PlaceInfo", {"type", "name", "distance"})
      .def_property_readonly("type", &PlaceInfo::type)
      .def_property_readonly("name", &PlaceInfo::name)
      .def_property_readonly("distance", &PlaceInfo::distance);
  record<Address>(m, "Address", {"type", "name", "code"})
      .def_property_readonly("type", &Address::type)
      .def_property_readonly("name", &Address::name)
      .def_property_readonly("code", &Address::code);
  record<AddressInfo>(m, "AddressInfo", {"name", "context"})
      .def_property_readonly("name", &AddressInfo::name)
      .def_property_readonly("context", &AddressInfo::context);
  record<LocationDetail>(m, "LocationDetail", {"timestamp", "address", "place", "position"})
      .def_property_readonly("timestamp", &LocationDetail::timestamp)
      .def_property_readonly("address", &LocationDetail::address)
      .def_property_readonly("place", &LocationDetail::place)
      .def_property_readonly("position", &LocationDetail::position);
  record<LocationRes>(m, "LocationRes", {"id", "asset", "location"})
      .def_property_readonly("id", &LocationRes::id)
      .def_property_readonly("asset", &LocationRes::asset)
      .def_property_readonly("location", &LocationRes::location)
      // The answer's coordinate, the field most hosts want first; None when it has none.
      .def_property_readonly("latitude",
                             [](const LocationRes& r) {
                               auto p = point(r);
                               return p ? std::optional(p->latitude()) : std::nullopt;
                             })
      .def_property_readonly("longitude", [](const LocationRes& r) {
        auto p = point(r);
        return p ? std::optional(p->longitude()) : std::nullopt;
      });
  record<OrvCategory>(m, "OrvCategory", {"id", "name"})
      .def_property_readonly("id", &OrvCategory::id)
      .def_property_readonly("name", &OrvCategory::name);
  record<GeocodeRes>(
      m, "GeocodeRes",
      {"id", "geoPoint", "type", "name", "code", "categories", "address", "relevance", "distance"})
      .def_property_readonly("id", &GeocodeRes::id)
      .def_property_readonly("geoPoint", &GeocodeRes::geoPoint)
      .def_property_readonly("type", &GeocodeRes::type)
      .def_property_readonly("name", &GeocodeRes::name)
      .def_property_readonly("code", &GeocodeRes::code)
      .def_property_readonly("categories", &GeocodeRes::categories)
      .def_property_readonly("address", &GeocodeRes::address)
      .def_property_readonly("relevance", &GeocodeRes::relevance)
      .def_property_readonly("distance", &GeocodeRes::distance);
}

}  // namespace orvpy
