#include "batch_fixture.h"

#include <algorithm>

namespace orv::test {

std::vector<std::string> FakeSender::addresses() const {
  std::vector<std::string> out;
  for (const Sent& s : sent) {
    const std::string& url = s.request.url;
    const size_t at = url.find("address=");
    out.push_back(at == std::string::npos ? url : url.substr(at + 8, url.find('&', at) - at - 8));
  }
  return out;
}

size_t FakeSender::open() const {
  return static_cast<size_t>(std::count_if(
      sent.begin(), sent.end(), [](const Sent& s) { return !s.answered && !s.cancelled; }));
}

BatchHarness::BatchHarness(std::vector<std::string> addresses, BatchOptions options) {
  std::vector<GeocodeInput> inputs;
  for (auto& a : addresses) inputs.push_back(GeocodeInput{std::move(a), "c"});
  if (options.seed == 0) options.seed = 7;
  engine = std::make_shared<Batch::Engine>(
      detail::geocodeSpec(std::move(inputs), "k", 30), options, sender,
      [this](const BatchOutcome& o) { outcomes.push_back(o); }, [this] { ++finishes; });
  engine->start();
}

const BatchOutcome& BatchHarness::outcomeOf(size_t index) const {
  EXPECT_EQ(callbacksFor(index), 1u) << "input " << index;
  static const BatchOutcome none;
  for (const auto& o : outcomes) {
    if (o.index == index) return o;
  }
  return none;
}

size_t BatchHarness::callbacksFor(size_t index) const {
  return static_cast<size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [&](const BatchOutcome& o) { return o.index == index; }));
}

}  // namespace orv::test
