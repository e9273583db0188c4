#pragma once
// The broker side of exactly-once delivery: one Lua script, run atomically by Redis, that adds a
// message's stream entry only when the message id has not been delivered yet, and otherwise answers
// with the entry added the first time. Every delivered id is remembered under its own key
// (DELIVERED_KEY_PREFIX + id, value: the stream entry id) that expires after DELIVERED_ID_TTL.
#include <chrono>
#include <string>
#include <string_view>

namespace quorvel::report {

inline constexpr std::string_view DELIVERED_KEY_PREFIX = "quorvel:delivered:";

// How long the broker remembers a delivered id. Resends come from flushes that follow a crash or a
// lost reply, minutes to hours later; a week also covers a machine that stayed off over a holiday.
inline constexpr std::chrono::seconds DELIVERED_ID_TTL{7 * 24 * 3600};

inline std::string delivered_key(std::string_view message_id) {
  return std::string(DELIVERED_KEY_PREFIX) + std::string(message_id);
}

// KEYS[1] the stream, KEYS[2] the message's delivered key; ARGV: id, type, payload, expiry in
// seconds. Answers {entry id, 1, id} for a new entry, {entry id of the first delivery, 0, id} for a
// resend; the echoed message id lets the publisher check that a reply belongs to its request.
// When XADD fails (the stream key holds another type) the script stops there and remembers nothing.
inline constexpr std::string_view DELIVERY_SCRIPT = R"lua(
local first = redis.call('GET', KEYS[2])
if first then return {first, 0, ARGV[1]} end
local entry = redis.call('XADD', KEYS[1], '*', 'id', ARGV[1], 'type', ARGV[2], 'payload', ARGV[3])
redis.call('SET', KEYS[2], entry, 'EX', ARGV[4])
return {entry, 1, ARGV[1]}
)lua";

}  // namespace quorvel::report
