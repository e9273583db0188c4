#pragma once
// The seam between the outbox and the message broker. The outbox hands over pending messages in
// batches; a publisher reports, per message, whether the broker accepted it.
#include <chrono>
#include <string>
#include <vector>
#include <span>

namespace quorvel::report {

struct OutgoingMessage {
  std::string id;       // unique message id, also the stream entry's "id" field
  std::string stream;   // e.g. "quorvel:analysis"
  std::string type;     // "analysis", "summary", "solvara"
  std::string payload;  // JSON text
};

struct DeliveryOutcome {
  bool delivered = false;
  std::string entry_id;  // broker's id of the entry, when delivered
  std::string error;     // why not, when not delivered
  bool duplicate = false;  // the broker already held this message; entry_id is its first entry
};

struct BatchOutcome {
  std::vector<DeliveryOutcome> messages;  // one per message of the batch, same order
  // The connection failed (broker down, timeout): the rest of this flush would fail the same way.
  bool connection_lost = false;
  std::string connection_error;
  // The connection was lost after the broker kept the publisher waiting (a hung broker, a host that
  // swallows packets), not refused at once.
  bool unresponsive = false;
};

class MessagePublisher {
 public:
  virtual ~MessagePublisher() = default;
  // Publishes `batch` in order, giving up when `deadline` passes. Never throws for broker trouble;
  // a message whose fate is unknown (connection lost while waiting for its reply) is reported as not
  // delivered, so it is sent again later. A publisher must therefore accept a message it already
  // delivered and answer with the first delivery (`duplicate`) rather than deliver it twice.
  virtual BatchOutcome publish(std::span<const OutgoingMessage> batch,
                               std::chrono::steady_clock::time_point deadline) = 0;
  // Where messages go, for log lines (never contains a password).
  virtual std::string describe() const = 0;
};

}  // namespace quorvel::report
