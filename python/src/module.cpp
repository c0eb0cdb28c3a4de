// The native part of the orvlib package.
#include "bindings.h"
#include "orv/version.h"

PYBIND11_MODULE(_orvlib, m) {
  m.doc() = "orvLib location SDK: coordinate conversion, the location client and its loop";
  orvpy::bindConvert(m);
  orvpy::bindFileConvert(m);
  orvpy::bindRecords(m);
  orvpy::bindLoop(m);
  orvpy::bindProviders(m);
  orvpy::bindClient(m);
  orvpy::bindGeofence(m);
  orvpy::bindBatch(m);
  m.attr("__version__") = orv::OrvVersion::sdkVersion();
  m.attr("build_number") = orv::OrvVersion::buildNumber();
}
