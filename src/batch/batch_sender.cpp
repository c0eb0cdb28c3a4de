#include "batch/batch_sender.h"

#include <utility>

namespace orv::detail {
namespace {

class TransportSender : public BatchSender {
 public:
  TransportSender(Transport& transport, std::shared_ptr<LoopHandle> home)
      : transport_(transport), home_(std::move(home)) {}

  uint64_t send(URLRequest request, Done done) override {
    return transport_.start(std::move(request), [home = home_, done = std::move(done)](
                                                    TransferOutcome outcome) mutable {
      home->post([done = std::move(done), outcome = std::move(outcome)]() mutable {
        done(std::move(outcome));
      });
    });
  }

  void cancel(uint64_t id) override { transport_.cancel(id); }

 private:
  Transport& transport_;
  std::shared_ptr<LoopHandle> home_;
};

}  // namespace

std::shared_ptr<BatchSender> transportSender(Transport& transport,
                                             std::shared_ptr<LoopHandle> home) {
  return std::make_shared<TransportSender>(transport, std::move(home));
}

}  // namespace orv::detail
