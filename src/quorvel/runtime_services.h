#pragma once
// Installs the real implementations of every outside service for a command: the local market data,
// the market blocks, the pattern service, the sentiment thermometer, the report store and the LLM agent layer.
namespace quorvel {

void install_runtime_services();

}  // namespace quorvel
