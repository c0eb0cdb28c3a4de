// orvlib.emulator: the local emulator of the location web service, in process, for examples and
// tests.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/emulator.h"

namespace py = pybind11;

namespace {

using orv::emulator::Emulator;

std::unique_ptr<Emulator> start(int port, bool http, std::vector<std::string> keys, int latencyMs,
                                double failRate, int rate) {
  orv::emulator::EmulatorOptions options;
  options.port = port;
  options.tls = !http;
  if (!keys.empty()) options.keys = std::move(keys);
  options.latencyMs = latencyMs;
  options.failRate = failRate;
  options.rate = rate;
  py::gil_scoped_release unlocked;
  auto started = Emulator::start(std::move(options));
  if (!started) throw std::runtime_error(started.error().message);
  return std::move(started.value());
}

}  // namespace

PYBIND11_MODULE(_emulator, m) {
  m.attr("DEMO_KEY") = orv::emulator::kDemoKey;
  py::class_<Emulator>(m, "Emulator",
                       "Serves the location web service's endpoints on 127.0.0.1 from a bundled "
                       "data set (HTTPS with a fresh CA unless http=True). Use as a context "
                       "manager, or call stop().")
      .def(py::init(&start), py::kw_only(), py::arg("port") = 0, py::arg("http") = false,
           py::arg("keys") = std::vector<std::string>{}, py::arg("latency_ms") = 0,
           py::arg("fail_rate") = 0.0, py::arg("rate") = 0)
      .def_property_readonly("base_url", &Emulator::baseUrl)
      .def_property_readonly("ca_file", &Emulator::caFile)
      .def_property_readonly("port", &Emulator::port)
      .def_property_readonly("requests", [](const Emulator& e) { return e.stats().requests; })
      .def_property_readonly("limited", [](const Emulator& e) { return e.stats().limited; })
      .def_property_readonly("busiest_second",
                             [](const Emulator& e) { return e.stats().busiestSecond; })
      .def("stop", &Emulator::stop, py::call_guard<py::gil_scoped_release>())
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Emulator& e, py::args) {
        py::gil_scoped_release unlocked;
        e.stop();
      });
}
