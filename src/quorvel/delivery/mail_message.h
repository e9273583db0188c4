#pragma once
// The mail that delivers a digest to an email channel: From, To, Subject (RFC 2047 UTF-8), Date,
// a Message-ID made from the digest id (a repeated send of one digest carries the same id, so mail
// readers and servers can recognise it), and the digest as text/plain Markdown and text/html.
// Pure functions; thread-safe.
#include <chrono>
#include <string>
#include <string_view>

#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/digest.h"
#include "quorvel/utils/smtp_transport.h"

namespace quorvel::delivery {

// `text` as RFC 2047 encoded words ("=?UTF-8?B?...?="), each at most 75 characters and holding whole
// UTF-8 characters, separated by single spaces.
std::string encoded_words(std::string_view text);

// "<digest-id@domain>": the digest id (bytes outside letters, digits and "-_.~" as %XX) at the
// domain of the sender's address.
std::string digest_message_id(std::string_view digest_id, std::string_view from);

// RFC 5322 date of `t` in UTC: "Fri, 10 Feb 2023 07:30:00 +0000".
std::string mail_date(std::chrono::system_clock::time_point t);

// The submission of `digest` to email channel `channel`, dated `now`.
SmtpRequest mail_request(const Channel& channel, const Digest& digest, std::chrono::system_clock::time_point now);

}  // namespace quorvel::delivery
