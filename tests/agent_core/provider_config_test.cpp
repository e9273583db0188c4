#include "quorvel/agent/core/provider_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent_core/agent_test_helpers.h"
#include "contracts/errors.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::agent::core {
namespace {

using quorvel::testing::env_of;
using quorvel::testing::TEST_KEY;
using ::testing::HasSubstr;
using ::testing::Not;

std::string error_of(std::map<std::string, std::string> vars) {
  try {
    resolve_provider_config(env_of(std::move(vars)));
  } catch (const ValueError& e) {
    return e.what();
  }
  return "";
}

TEST(ProviderConfig, DeepseekIsTheDefaultWithItsPublicSettings) {
  const auto c = resolve_provider_config(env_of({{"DEEPSEEK_API_KEY", TEST_KEY}}));
  EXPECT_EQ(c.type, "deepseek");
  EXPECT_EQ(c.base_url, "https://api.deepseek.com");
  EXPECT_FALSE(c.model.empty());
  EXPECT_EQ(c.api_key, TEST_KEY);
  EXPECT_EQ(c.key_variable, "DEEPSEEK_API_KEY");
  EXPECT_EQ(c.thinking_style, ThinkingStyle::thinking_object);
  EXPECT_FALSE(c.thinking);
}

TEST(ProviderConfig, EveryNetworkProviderHasDefaultsOrNamesWhatIsMissing) {
  for (const auto& row : provider_table()) {
    SCOPED_TRACE(std::string(row.type));
    const std::string prefix = env_prefix(row.type);
    std::map<std::string, std::string> env = {{"LLM_CLIENT_TYPE", std::string(row.type)}, {prefix + "_API_KEY", "k"}};
    if (row.type == "openai_compatible") {
      EXPECT_THAT(error_of(env), HasSubstr("OPENAI_COMPATIBLE_BASE_URL"));
      env["OPENAI_COMPATIBLE_BASE_URL"] = "http://127.0.0.1:9/v1";
      EXPECT_THAT(error_of(env), HasSubstr("OPENAI_COMPATIBLE_MODEL"));
      env["OPENAI_COMPATIBLE_MODEL"] = "m";
    }
    const auto c = resolve_provider_config(env_of(env));
    EXPECT_EQ(c.type, row.type);
    EXPECT_FALSE(c.model.empty());
    if (c.kind == ClientKind::chat_completions) {
      EXPECT_THAT(c.base_url, HasSubstr("://"));
    }
  }
}

TEST(ProviderConfig, ClientTypeIsTrimmedAndLowerCasedAndOverridesApply) {
  const auto c = resolve_provider_config(env_of({{"LLM_CLIENT_TYPE", " Qwen "},
                                                 {"QWEN_API_KEY", "k"},
                                                 {"QWEN_MODEL", "qwen-max"},
                                                 {"QWEN_BASE_URL", "https://example.invalid/v1"},
                                                 {"QWEN_THINKING", "enabled"},
                                                 {"QWEN_MAX_TOKENS", "4096"},
                                                 {"LLM_TIMEOUT", "90"},
                                                 {"LLM_CONNECT_TIMEOUT", "2.5"},
                                                 {"LLM_MAX_RETRIES", "0"},
                                                 {"LLM_RETRY_BUDGET", "60"}}));
  EXPECT_EQ(c.type, "qwen");
  EXPECT_EQ(c.model, "qwen-max");
  EXPECT_EQ(c.base_url, "https://example.invalid/v1");
  EXPECT_TRUE(c.thinking);
  EXPECT_EQ(c.max_tokens, 4096);
  EXPECT_EQ(c.timeouts.total, std::chrono::seconds(90));
  EXPECT_EQ(c.timeouts.connect, std::chrono::milliseconds(2500));
  EXPECT_EQ(c.retry.max_attempts, 1);
  EXPECT_EQ(c.retry.total_budget, std::chrono::seconds(60));
}

TEST(ProviderConfig, MissingKeyNamesTheVariableExceptForLocalServers) {
  EXPECT_THAT(error_of({}), HasSubstr("DEEPSEEK_API_KEY"));
  EXPECT_THAT(error_of({{"LLM_CLIENT_TYPE", "moonshot"}}), HasSubstr("MOONSHOT_API_KEY"));
  EXPECT_THAT(error_of({{"LLM_CLIENT_TYPE", "openai"}, {"OPENAI_API_KEY", "   "}}), HasSubstr("OPENAI_API_KEY"));
  EXPECT_EQ(error_of({{"LLM_CLIENT_TYPE", "ollama"}}), "");
}

TEST(ProviderConfig, OfflineTypeResolvesWithoutKeyOrNetworkSettings) {
  const auto c = resolve_provider_config(env_of({{"LLM_CLIENT_TYPE", "offline"}}));
  EXPECT_EQ(c.kind, ClientKind::offline);
}

TEST(ProviderConfig, BadValuesAreRejectedNamingTheVariable) {
  EXPECT_THAT(error_of({{"LLM_CLIENT_TYPE", "gpt"}}), HasSubstr("deepseek, openai, qwen, moonshot, ollama"));
  const std::map<std::string, std::string> base = {{"DEEPSEEK_API_KEY", "k"}};
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{{"LLM_TIMEOUT", "abc"},
                                                                                   {"LLM_TIMEOUT", "0"},
                                                                                   {"LLM_TIMEOUT", "nan"},
                                                                                   {"LLM_MAX_RETRIES", "-1"},
                                                                                   {"LLM_MAX_RETRIES", "2.5"},
                                                                                   {"DEEPSEEK_THINKING", "maybe"},
                                                                                   {"DEEPSEEK_MAX_TOKENS", "0"},
                                                                                   {"DEEPSEEK_BASE_URL", "ftp://x"}}) {
    SCOPED_TRACE(name + "=" + value);
    auto env = base;
    env[name] = value;
    EXPECT_THAT(error_of(env), HasSubstr(name));
  }
}

TEST(ProviderConfig, DescriptionCarriesNoKeyAndTheKeyReadIsMaskedInOutsideText) {
  const std::string key = "sk-registered-by-resolve-41d";
  const auto c = resolve_provider_config(env_of({{"DEEPSEEK_API_KEY", key}}));
  const std::string text = c.describe().dump();
  EXPECT_THAT(text, Not(HasSubstr(key)));
  EXPECT_THAT(text, HasSubstr("DEEPSEEK_API_KEY"));
  EXPECT_EQ(c.describe()["key_set"], true);
  EXPECT_EQ(outside_text("echo " + key), "echo ***");
}

}  // namespace
}  // namespace quorvel::agent::core
