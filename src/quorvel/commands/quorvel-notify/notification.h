#pragma once
// What a desk is told as reports are stored: each market brief, and each buy with its plan. A report
// message of the queue becomes one push (a digest for the delivery channels) or none.
#include <optional>

#include <nlohmann/json.hpp>

#include "quorvel/delivery/digest.h"

namespace quorvel::notify {

// The push of one message: a "solvara" message (the market brief) and an "analysis" message whose
// decision is a buy (强烈买入 / 建议买入 / 谨慎买入; one whose plan failed a hard check is pushed
// marked "需复核"); nothing for the rest (waits, summaries, scores) or a message without an id.
// The push carries the message's id, which is also its delivery key: one push per message and channel.
std::optional<delivery::Digest> notification_of(const nlohmann::ordered_json& message);

}  // namespace quorvel::notify
