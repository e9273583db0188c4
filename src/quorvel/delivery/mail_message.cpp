#include "quorvel/delivery/mail_message.h"

#include <date/date.h>
#include <fmt/format.h>

#include "quorvel/utils/signature.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::delivery {

namespace {

// Bytes of text in one encoded word: 45 bytes are 60 base64 characters, and with "=?UTF-8?B?" and
// "?=" the word stays within the 75 characters RFC 2047 allows.
constexpr std::size_t WORD_BYTES = 45;

constexpr const char* WEEKDAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string encoded_words(std::string_view text) {
  std::string storage;
  const std::string_view valid = ensure_valid_utf8(text, storage);
  std::string out;
  std::size_t start = 0;
  while (start < valid.size()) {
    std::size_t end = start;
    while (end < valid.size()) {
      std::size_t after = end;
      decode_next(valid, after);
      if (after - start > WORD_BYTES) break;
      end = after;
    }
    if (!out.empty()) out += ' ';
    out += "=?UTF-8?B?" + base64_encode(valid.substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

std::string digest_message_id(std::string_view digest_id, std::string_view from) {
  const auto at = from.rfind('@');
  const std::string_view domain =
      at == std::string_view::npos ? std::string_view("quorvel.local") : from.substr(at + 1);
  return "<" + percent_encoded(digest_id) + "@" + std::string(domain) + ">";
}

std::string mail_date(std::chrono::system_clock::time_point t) {
  const auto day = date::floor<date::days>(t);
  const date::year_month_day ymd{day};
  const date::hh_mm_ss time{date::floor<std::chrono::seconds>(t - day)};
  return fmt::format("{}, {:02} {} {} {:02}:{:02}:{:02} +0000", WEEKDAYS[date::weekday{day}.c_encoding()],
                     unsigned(ymd.day()), MONTHS[unsigned(ymd.month()) - 1], int(ymd.year()), time.hours().count(),
                     time.minutes().count(), time.seconds().count());
}

SmtpRequest mail_request(const Channel& channel, const Digest& digest, std::chrono::system_clock::time_point now) {
  SmtpRequest request;
  request.url = channel.url;
  request.require_tls = channel.tls == MailTls::required;
  request.username = channel.username;
  request.password = channel.password;
  request.from = channel.from;
  request.to = channel.to;
  request.headers = {"From: " + channel.from, fmt::format("To: {}", fmt::join(channel.to, ", ")),
                     "Subject: " + encoded_words(digest.title), "Date: " + mail_date(now),
                     "Message-ID: " + digest_message_id(digest.id, channel.from)};
  request.alternatives.push_back({"text/plain; charset=utf-8", digest.markdown});
  if (!digest.html.empty()) request.alternatives.push_back({"text/html; charset=utf-8", digest.html});
  return request;
}

}  // namespace quorvel::delivery
