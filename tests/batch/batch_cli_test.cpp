// pelion-batch end to end: the bundled watchlist of four markets on the bundled real bars, with the
// offline client and with a fake LLM server on 127.0.0.1 (failing instruments included), resuming,
// and Ctrl-C.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/decision_replies.h"
#include "support/fake_llm_server.h"
#include "quorvel/utils/utf8_text.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::completion_body;
using testing::RecordedRequest;
using testing::ScopedEnv;
using testing::ScriptedReply;
namespace fs = std::filesystem;

constexpr const char* DATE = "2022-12-30";
// Codes of the bundled watchlist that have bars on DATE, in file order.
const std::vector<std::string> ANALYSABLE = {"sh.600519", "sh.600000", "510050", "hk.00700",
                                             "hk.09988",  "us.AAPL",   "us.NVDA"};

fs::path watchlist() { return testing::test_data_dir() / "batch" / "watchlist.txt"; }

// The table row of `code` on standard output.
std::string row(const std::string& out, const std::string& code) {
  std::smatch m;
  return std::regex_search(out, m, std::regex("\n" + code + " [^\n]*")) ? m.str().substr(1) : "";
}

using testing::llm_calls;

struct Sandbox : testing::CommandSandbox {
  testing::ProgramRun run(const std::string& args) const { return run_in(PELION_BATCH_BIN, args); }
  bool stored(const std::string& code, const std::string& client) const {
    return fs::exists(dir / "report" / DATE / (code + "_analysis_" + client + ".md"));
  }
};

TEST(BatchCommand, OfflineWatchlistOfFourMarketsThenResumesWithoutTheLlm) {
  Sandbox box;
  ScopedEnv type("LLM_CLIENT_TYPE", "offline");
  const auto first = box.run("--pool '" + watchlist().string() + "' -t " + std::string(DATE) + " -c 3");
  EXPECT_EQ(first.status, 1) << first.err;  // two codes cannot be analysed
  for (const auto& code : ANALYSABLE) {
    SCOPED_TRACE(code);
    EXPECT_NE(row(first.out, code).find("新分析"), std::string::npos) << first.out;
    EXPECT_TRUE(box.stored(code, "offline"));
  }
  EXPECT_NE(row(first.out, "sh.601999").find("失败: 没有 K 线数据 (截至 2022-12-30)"), std::string::npos);
  EXPECT_NE(row(first.out, "xx.1234").find("失败: 无法识别的证券代码"), std::string::npos);
  EXPECT_NE(first.out.find("共 9 只：新分析 7，已存储 0，失败 2，未完成 0"), std::string::npos) << first.out;
  EXPECT_EQ(llm_calls(first.out), 7 + 3);  // the analyses and one brief each for A (funds too), HK and US
  EXPECT_NE(first.err.find("[9/9] "), std::string::npos) << first.err;

  const auto second = box.run("--pool '" + watchlist().string() + "' -t " + std::string(DATE));
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(llm_calls(second.out), 0) << second.out;
  for (const auto& code : ANALYSABLE) {
    SCOPED_TRACE(code);
    const std::string stored_row = row(second.out, code), first_row = row(first.out, code);
    EXPECT_NE(stored_row.find("已存储"), std::string::npos) << second.out;
    // Same verdict and decision read back from the store.
    EXPECT_EQ(stored_row.substr(0, stored_row.find("已存储")), first_row.substr(0, first_row.find("新分析")));
  }
}

// Good Friday 2022: Hong Kong closed, Shanghai open. Each instrument is analysed, stored and found
// again on its own market's last session, never on the requested day as typed.
TEST(BatchCommand, ResumesOnTheSessionEachMarketTraded) {
  Sandbox box;
  ScopedEnv type("LLM_CLIENT_TYPE", "offline");
  testing::write_file(box.dir / "pool.txt", "hk.00700\nsh.600519\n");
  const auto first = box.run("--pool pool.txt -t 2022-04-15");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(row(first.out, "hk.00700").find("2022-04-14"), std::string::npos) << first.out;
  EXPECT_NE(row(first.out, "sh.600519").find("2022-04-15"), std::string::npos) << first.out;
  const auto second = box.run("--pool pool.txt -t 2022-04-15");
  EXPECT_EQ(llm_calls(second.out), 0) << second.out;
  EXPECT_NE(second.out.find("共 2 只：新分析 0，已存储 2"), std::string::npos) << second.out;
}

// The fake provider: briefs by market, and per code a valid decision, an HTTP error or a decision
// that fails validation. Usage carries cache hits so the cost line can add them up.
ScriptedReply fake_answer(const RecordedRequest& request) {
  const auto body = nlohmann::json::parse(request.body);
  const std::string system = body["messages"].front()["content"], user = body["messages"].back()["content"];
  const nlohmann::json usage = {{"prompt_tokens", 100}, {"completion_tokens", 10}, {"prompt_cache_hit_tokens", 80}};
  auto ok = [&](const std::string& text) { return ScriptedReply{200, completion_body(text, "", usage), {}, false}; };
  if (system.find("大盘简报") != std::string::npos) return ok("**▋ 大盘市场研判 · 偏多 / 中**\n正文");
  if (user.find("us.AAPL") != std::string::npos)
    return {400, R"({"error":{"message":"model not found"}})", {}, false};
  if (user.find("hk.00700") != std::string::npos)
    return ok(testing::decision_reply({{"analysis_time", nullptr}}));
  if (user.find("sh.600000") != std::string::npos)
    return ok(testing::decision_reply({{"stock_code", "sh.600000"}, {"stock_name", "浦发银行"},
                                       {"analysis_time", DATE}, {"current_price", 7.28},
                                       {"entry_price_low", 7.1}, {"entry_price_high", 7.2},
                                       {"stop_loss", 6.9}, {"target_1", 7.6}, {"target_2", 7.9},
                                       {"rrr", 1.5}, {"rrr_max", 2.6}}));
  // A wait for the instrument the request is about (no current price: the close is not known here).
  std::string code = "?";
  for (const auto& c : ANALYSABLE)
    if (user.find(c) != std::string::npos) code = c;
  for (const char* fund : {"510300", "510880", "512880", "512690", "588000"})
    if (user.find(fund) != std::string::npos) code = fund;
  return ok(testing::fenced(testing::buy_decision(
      {{"stock_code", code}, {"analysis_time", DATE}, {"current_price", nullptr}, {"direction", "中性"},
       {"action", "观望等待"}, {"holder_action", "清仓离场"}, {"strategy_mode", "空仓等待"}, {"entry_price_low", 0},
       {"entry_price_high", 0}, {"stop_loss", 0}, {"target_1", 0}, {"target_2", 0}, {"rrr", 0},
       {"rrr_max", 0}, {"position_pct", "0%"}})));
}

struct FakeSandbox : Sandbox {
  testing::FakeLlmServer llm;
  ScopedEnv type{"LLM_CLIENT_TYPE", "openai_compatible"};
  ScopedEnv key{"OPENAI_COMPATIBLE_API_KEY", "sk-test-secret"};
  ScopedEnv url{"OPENAI_COMPATIBLE_BASE_URL", llm.base_url()};
  ScopedEnv model{"OPENAI_COMPATIBLE_MODEL", "fake-model"};
  ScopedEnv retries{"LLM_MAX_RETRIES", "0"};

  // Requests by kind: "brief <market label>" or the stock code the request is about.
  std::map<std::string, std::vector<std::string>> system_prompts_by_subject() const {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& r : llm.requests()) {
      const auto body = nlohmann::json::parse(r.body);
      const std::string system = body["messages"].front()["content"], user = body["messages"].back()["content"];
      std::string subject = "?";
      for (const char* market : {"A 股大盘（", "港股大盘（", "美股大盘（"})
        if (system.find("大盘简报") != std::string::npos && user.find(market) != std::string::npos)
          subject = std::string("brief ") + market;
      for (const auto& code : ANALYSABLE)
        if (subject == "?" && user.find(code) != std::string::npos) subject = code;
      out[subject].push_back(system);
    }
    return out;
  }
};

TEST(BatchCommand, FakeLlmSharesOneBriefPerMarketDayAndReportsFailingInstruments) {
  FakeSandbox box;
  box.llm.respond_with(fake_answer);
  const std::string args = "--pool '" + watchlist().string() + "' -t " + std::string(DATE) + " --concurrency 4";
  const auto first = box.run(args);
  EXPECT_EQ(first.status, 1) << first.err;
  auto by_subject = box.system_prompts_by_subject();
  for (const char* brief : {"brief A 股大盘（", "brief 港股大盘（", "brief 美股大盘（"}) EXPECT_EQ(by_subject[brief].size(), 1u) << brief;
  for (const auto& code : ANALYSABLE) EXPECT_EQ(by_subject[code].size(), 1u) << code;
  EXPECT_EQ(by_subject.count("?"), 0u);
  EXPECT_EQ(box.llm.request_count(), 3u + ANALYSABLE.size());
  // Stocks of one market open with the same system prompt, byte for byte (a cacheable prefix).
  EXPECT_EQ(by_subject["sh.600519"], by_subject["sh.600000"]);
  EXPECT_EQ(by_subject["hk.00700"], by_subject["hk.09988"]);
  EXPECT_NE(by_subject["sh.600519"], by_subject["510050"]);

  const struct {
    const char* code;
    std::vector<std::string> cells;
  } rows[] = {
      {"sh.600000", {"浦发银行", "建议买入", "看多", "7.1~7.2", "6.9", "7.6 / 7.9", "1.5", "新分析"}},
      {"510050", {"观望等待", "中性", "新分析"}},
      {"us.AAPL", {"失败: [LLM] openai_compatible", "HTTP 400"}},
      {"hk.00700", {"失败: ", "analysis_time"}},
      {"sh.601999", {"失败: 没有 K 线数据"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    for (const auto& cell : r.cells) EXPECT_NE(row(first.out, r.code).find(cell), std::string::npos) << first.out;
  }
  // 3 briefs and 6 analyses answered, 1 failed; 80 cached prompt tokens per answer.
  EXPECT_NE(first.out.find("LLM 调用 9 次（失败 1）| 输入 tokens 900（缓存命中 720）| 输出 tokens 90"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(first.err.find("sk-test-secret"), std::string::npos);

  // Resuming asks again only for the two whose analysis failed; briefs come from their cache.
  const auto second = box.run(args);
  EXPECT_EQ(box.llm.request_count(), 3u + ANALYSABLE.size() + 2u);
  EXPECT_EQ(llm_calls(second.out), 1) << second.out;
  EXPECT_NE(row(second.out, "sh.600000").find("已存储"), std::string::npos);

  // As JSON, standard output is one object and nothing else; the counts and cost go to standard error.
  const auto forced = box.run(args + " --force --format json");
  EXPECT_EQ(box.llm.request_count(), 3u + 2u * ANALYSABLE.size() + 2u);
  const auto doc = nlohmann::json::parse(forced.out);
  ASSERT_EQ(doc["results"].size(), 9u) << forced.out;
  std::map<std::string, nlohmann::json> by_code;
  for (const auto& r : doc["results"]) by_code[r["code"]] = r;
  EXPECT_EQ(by_code["sh.600000"]["status"], "analysed");
  EXPECT_EQ(by_code["sh.600000"]["decision"]["entry_price_low"], 7.1);
  EXPECT_EQ(by_code["us.AAPL"]["status"], "failed");
  EXPECT_TRUE(by_code["xx.1234"]["market_type"].is_null());
  EXPECT_EQ(doc["counts"]["analysed"], 5);
  EXPECT_EQ(doc["usage"]["calls"], 6);  // the briefs come from their cache
  EXPECT_NE(forced.err.find("共 9 只：新分析 5，已存储 0，失败 4，未完成 0"), std::string::npos) << forced.err;
}

// A decision refused for a value outside its set is warned about once: the store and the batch
// take the decision the analysis extracted instead of reading the reply again.
TEST(BatchCommand, ARefusedDecisionIsWarnedOnce) {
  FakeSandbox box;
  box.llm.respond_with([](const RecordedRequest& request) {
    const std::string system = nlohmann::json::parse(request.body)["messages"].front()["content"];
    const std::string text = system.find("大盘简报") != std::string::npos
                                 ? "**▋ 大盘市场研判 · 偏多 / 中**\n正文"
                                 : testing::decision_reply({{"analysis_time", DATE}, {"confidence", "很高"}});
    return ScriptedReply{200, completion_body(text), {}, false};
  });
  testing::write_file(box.dir / "pool.txt", "sh.600519\n");
  const auto r = box.run("--pool pool.txt -t " + std::string(DATE));
  EXPECT_NE(row(r.out, "sh.600519").find("失败: 回复中没有可用的决策"), std::string::npos) << r.out;
  std::size_t warnings = 0;
  for (std::size_t at = r.err.find("决策枚举非法 | 字段=confidence"); at != std::string::npos;
       at = r.err.find("决策枚举非法 | 字段=confidence", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 1u) << r.err;
}

// Without an API key the run says so once, fails what needs the model and calls nothing; what is
// stored needs no key.
TEST(BatchCommand, MissingApiKeyIsReportedOnceAndStoredInstrumentsNeedNone) {
  FakeSandbox box;
  box.llm.respond_with(fake_answer);
  testing::write_file(box.dir / "pool.txt", "sh.600000\n510050\nsh.600519\n");
  const std::string args = "--pool pool.txt -t " + std::string(DATE);
  const auto without_key = [&] {
    // Set but empty: a .env file in the project cannot supply the key either.
    ScopedEnv no_key("OPENAI_COMPATIBLE_API_KEY", "");
    return box.run(args);
  };
  const auto missing = without_key();
  EXPECT_EQ(missing.status, 1) << missing.err;
  // The full message once; the line of each instrument only points at it.
  const std::string message = "缺少 LLM API 密钥：LLM_CLIENT_TYPE=openai_compatible 需要环境变量 OPENAI_COMPATIBLE_API_KEY";
  std::size_t mentions = 0;
  for (auto p = missing.err.find(message); p != std::string::npos; p = missing.err.find(message, p + 1)) ++mentions;
  EXPECT_EQ(mentions, 1u) << missing.err;
  for (const char* code : {"sh.600000", "510050", "sh.600519"})
    EXPECT_NE(row(missing.out, code).find("失败: 未分析：缺少 LLM API 密钥（见上方错误）"), std::string::npos) << missing.out;
  EXPECT_EQ(box.llm.request_count(), 0u);

  ASSERT_EQ(box.run(args).status, 0);
  const std::size_t requests = box.llm.request_count();
  const auto stored = without_key();
  EXPECT_EQ(stored.status, 0) << stored.err;
  EXPECT_NE(stored.out.find("共 3 只：新分析 0，已存储 3，失败 0，未完成 0"), std::string::npos) << stored.out;
  EXPECT_EQ(box.llm.request_count(), requests);
}

// True when `text` could act on a terminal: an ESC or BEL, a byte that is not well-formed UTF-8 (such
// as a raw 8-bit CSI 0x9B), or an encoded C1 control U+0080-U+009F.
bool has_terminal_control(const std::string& text) {
  if (!is_valid_utf8(text) || text.find_first_of("\x1b\x07") != std::string::npos) return true;
  for (auto p = text.find('\xc2'); p != std::string::npos; p = text.find('\xc2', p + 1))
    if (p + 1 < text.size() && static_cast<unsigned char>(text[p + 1]) <= 0x9f) return true;
  return false;
}

// A provider whose error body is full of terminal controls and whose answers echo the request's
// Authorization header: neither a control nor the key reaches the console, the log, the report
// files, the database or the outbox of the queue, and the decision is still read from the answer.
TEST(BatchCommand, ProviderControlsAndTheEchoedKeyNeverLeaveTheProcess) {
  FakeSandbox box;
  const std::string controls = "\x1b]0;title\x07\x1b[2J\xc2\x9b" "1m\r";
  box.llm.respond_with([&](const RecordedRequest& request) {
    const std::string echo = " Authorization: " + request.authorization + " " + controls;
    ScriptedReply reply = fake_answer(request);
    if (reply.status != 200) return ScriptedReply{400, controls + "\x9b" "31mbad request" + echo, {}, false};
    auto body = nlohmann::json::parse(reply.body);
    auto& message = body["choices"][0]["message"];
    message["content"] = message["content"].get<std::string>() + "\n回显" + echo;
    message["reasoning_content"] = "思考" + echo;
    body["model"] = "fake-model" + controls;
    reply.body = body.dump();
    return reply;
  });
  testing::write_file(box.dir / "pool.txt", "sh.600000\nus.AAPL\n");
  const auto run = box.run("--pool pool.txt -t " + std::string(DATE));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(row(run.out, "sh.600000").find("新分析"), std::string::npos) << run.out;
  EXPECT_NE(row(run.out, "us.AAPL").find("失败: [LLM] openai_compatible"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("HTTP 400 | bad request Authorization: Bearer ***"), std::string::npos) << run.err;

  const fs::path reports_bin = fs::path(PELION_BATCH_BIN).parent_path() / "quorvel-reports";
  const auto reports = [&](const std::string& args) {
    return testing::run_program(reports_bin.string(), args, box.dir.path()).out;
  };
  std::map<std::string, std::string> texts{{"stdout", run.out}, {"stderr", run.err}};
  for (const auto& report : nlohmann::json::parse(reports("list --json")))
    texts["show " + report["id"].dump()] = reports("show " + report["id"].dump());
  std::size_t echoed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(box.dir.path())) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().string());
    const std::string content = testing::read_file(entry.path());
    EXPECT_EQ(content.find("sk-test-secret"), std::string::npos);  // databases and their journals too
    const std::string ext = entry.path().extension().string();
    if (ext == ".md" || ext == ".log") texts[entry.path().filename().string()] = content;
    echoed += ext == ".md" && content.find("回显 Authorization: Bearer ***") != std::string::npos;
  }
  EXPECT_GE(echoed, 1u);
  EXPECT_GE(texts.size(), 2u + 2u + 3u);  // stored: the analysis and the A-share brief, files and a log
  for (const auto& [where, text] : texts) {
    SCOPED_TRACE(where);
    EXPECT_EQ(text.find("sk-test-secret"), std::string::npos);
    EXPECT_FALSE(has_terminal_control(text)) << text;
  }
}

// Runs pelion-batch in `dir` with output to files there, interrupting it with SIGINT `signals`
// times once `ready` says so; returns its exit status.
int run_interrupted(const fs::path& dir, const std::string& pool, int signals, const std::function<bool()>& ready) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644), err = open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    execl(PELION_BATCH_BIN, PELION_BATCH_BIN, "--pool", pool.c_str(), "-t", DATE, "-c", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ready() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  for (int i = 0; i < signals; ++i) {
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BatchCommand, CtrlCStopsCleanlyWithWhatFinishedStored) {
  const std::vector<std::string> funds = {"510050", "510300", "510880", "512880", "512690", "588000"};
  const struct {
    int signals;
    const char* running_status;  // of the two analyses under way when the signal came
  } rows[] = {{1, "新分析"}, {2, "已中断"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.signals);
    FakeSandbox box;
    box.llm.respond_with([](const RecordedRequest& request) {
      ScriptedReply reply = fake_answer(request);
      reply.delay = std::chrono::milliseconds(700);
      return reply;
    });
    std::string pool;
    for (const auto& code : funds) pool += code + "\n";
    testing::write_file(box.dir / "funds.txt", pool);
    // Interrupt while the first two analyses wait for the model (the brief came first).
    const int status = run_interrupted(box.dir.path(), (box.dir / "funds.txt").string(), r.signals,
                                       [&] { return box.llm.request_count() >= 3; });
    const std::string out = testing::read_file(box.dir / "out");
    EXPECT_EQ(status, 130) << testing::read_file(box.dir / "err");
    EXPECT_EQ(box.llm.request_count(), 3u);
    std::size_t running = 0, not_started = 0;
    for (const auto& code : funds) {
      running += row(out, code).find(r.running_status) != std::string::npos;
      not_started += row(out, code).find("未开始") != std::string::npos;
    }
    EXPECT_EQ(running, 2u) << out;
    EXPECT_EQ(not_started, funds.size() - 2) << out;
    EXPECT_EQ(box.stored("510050", "openai_compatible"), r.signals == 1);
  }
}

TEST(BatchCommand, UsageAndInputErrors) {
  Sandbox box;
  testing::write_file(box.dir / "empty.txt", "# nothing\n\n");
  const struct {
    std::string args;
    const char* expected;
  } rows[] = {
      {"-t 2022-12-30", "--pool is required"},
      {"--pool '" + watchlist().string() + "' -t 2999-01-01", "是未来日期"},
      {"--pool '" + watchlist().string() + "' -t 2022-13-01", "日期格式错误: 2022-13-01"},
      {"--pool missing.txt", "无法读取股票池文件: missing.txt"},
      {"--pool empty.txt", "股票池文件中没有代码"},
      {"--pool '" + watchlist().string() + "' -c 0", "--concurrency"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args);
    const auto run = box.run(r.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(r.expected), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace quorvel
