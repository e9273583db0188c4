#pragma once
// The reading side of the queue: entries of the report streams through one Redis consumer group, so
// that a consumer resumes where it left off. The group remembers what it handed out; an entry stays
// pending for its consumer until acknowledged, so one that was being handled when the consumer died
// is handed to it again (pending()) after a restart.
//
// Blocking, with the endpoint's time-outs (a blocking read waits `block` longer). Any trouble with
// the broker is a RuntimeError naming it; the connection is opened again on the next call.
// Thread-safety: none.
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quorvel/report/redis_connection.h"

namespace quorvel::report {

struct StreamEntry {
  std::string stream;    // "quorvel:solvara"
  std::string entry_id;  // the broker's id of the entry ("1719730000000-0")
  std::string id;        // the message id (the entry's "id" field)
  std::string type;      // its "type" field
  std::string payload;   // its "payload" field; empty for a pending entry trimmed from the stream
  bool trimmed = false;  // pending, but no longer in the stream: nothing is left to handle
};

class RedisGroupReader {
 public:
  RedisGroupReader(RedisEndpoint endpoint, std::string group, std::string consumer, std::vector<std::string> streams,
                   RedisTimeouts timeouts = {});
  ~RedisGroupReader();

  // Creates the group on each stream that lacks it (and the stream, when missing), starting after
  // the entries present now ("$") or at the stream's beginning ("0"). A group that exists keeps its
  // position. A group that disappears later (deleted, or lost with a broker restarted without
  // persistence) is made again after the last entry this reader knew the group had handed out, so
  // the entries stored meanwhile are not skipped.
  void ensure_group(const std::string& start);
  // Takes over the entries other consumers of the group were handed and have left untouched for
  // `min_idle` (a consumer that died or was renamed); they then come with pending(). Their number.
  // At most `at_most` of them, so that a worker takes no more than it has room for and leaves the
  // rest to the others.
  std::size_t claim_idle(std::chrono::milliseconds min_idle, std::size_t at_most = 1000);
  // Up to `count` entries handed to this consumer earlier and not acknowledged, oldest first per stream.
  std::vector<StreamEntry> pending(std::size_t count);
  // Up to `count` entries no consumer of the group has had yet, waiting up to `block` for the first.
  std::vector<StreamEntry> next(std::size_t count, std::chrono::milliseconds block);
  void ack(const StreamEntry& entry);
  // Makes the entries this consumer is working on fresh again (their idle time 0), so that the
  // claim_idle of other consumers leaves them alone however long the work takes. An entry another
  // consumer took over meanwhile comes back to this one.
  void renew(const std::vector<StreamEntry>& entries);
  // Acknowledges the entry and removes it from the stream: nothing is left to hand out or to read
  // once it is done with (a work queue whose stream must not grow with every job).
  void ack_and_delete(const StreamEntry& entry);

  // Per stream, the last entry id the group is known to have handed out: kept by a caller across
  // restarts, so that a group lost meanwhile is made again after it.
  const std::map<std::string, std::string>& resume_points() const { return resume_; }
  void set_resume_points(std::map<std::string, std::string> points) { resume_ = std::move(points); }

  std::string describe() const { return client_.describe(); }

 private:
  RedisReply run(const std::vector<std::string_view>& args, std::chrono::milliseconds wait = {});
  std::vector<StreamEntry> read(const std::string& from, std::size_t count, std::chrono::milliseconds block);
  // The group's last handed-out entry id on `stream` ("" when the group is not there).
  std::string last_delivered(const std::string& stream);

  RedisClient client_;
  std::string group_, consumer_;
  std::vector<std::string> streams_;
  std::map<std::string, std::string> resume_;  // stream -> the group's last handed-out entry id, as known
  // stream -> entries handed to this consumer and not acknowledged: a group made again starts before
  // the oldest, so that they are handed out again.
  std::map<std::string, std::set<std::string>> unacked_;
};

// Appends an entry with the fields a StreamEntry is read from (id, type, payload) to `stream`;
// returns the broker's entry id.
std::string add_stream_entry(RedisClient& client, const std::string& stream, std::string_view id,
                             std::string_view type, std::string_view payload);

// Up to `count` entries of `stream` after the entry id `after` ("0-0": from its start), outside any
// consumer group, waiting up to `block` for the first one (none: empty). A missing stream is empty.
std::vector<StreamEntry> read_stream(RedisClient& client, const std::string& stream, const std::string& after,
                                     std::size_t count, std::chrono::milliseconds block);

}  // namespace quorvel::report
