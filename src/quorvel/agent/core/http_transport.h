#pragma once
// The HTTP transport of the chat client is the shared one in quorvel/utils.
#include "quorvel/utils/http_transport.h"

namespace quorvel::agent::core {

using quorvel::HttpRequest;
using quorvel::HttpResponse;
using quorvel::MAX_REPLY_BYTES;
using quorvel::TransportFailure;
using quorvel::http_get;
using quorvel::http_post;

}  // namespace quorvel::agent::core
