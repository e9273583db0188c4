#pragma once
// The two pieces a signed request is made of: an HMAC-SHA256 over a text and its base64 form.
// OpenSSL's libcrypto computes both. Pure; thread-safe.
#include <string>
#include <string_view>

namespace quorvel {

// HMAC-SHA256 of `message` under `key`: 32 raw bytes.
std::string hmac_sha256(std::string_view key, std::string_view message);

// Standard base64 (RFC 4648, "+" and "/", "=" padding) on one line.
std::string base64_encode(std::string_view bytes);

}  // namespace quorvel
