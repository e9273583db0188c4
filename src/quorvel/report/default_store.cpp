#include "quorvel/report/default_store.h"

#include "contracts/errors.h"
#include "quorvel/report/redis_publisher.h"
#include "quorvel/report/report_paths.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::report {

std::shared_ptr<SqlReportStore> make_default_report_store(StoreOptions options) {
  if (options.directory.empty()) options.directory = report_directory();
  if (options.database_url.empty()) {
    if (const auto url = env_value("REPORT_DB_URL")) options.database_url = *url;
  }
  std::shared_ptr<MessagePublisher> publisher;
  std::string problem;
  if (const auto url = env_value("QUORVEL_MQ_URL")) {
    try {
      RedisEndpoint endpoint = RedisEndpoint::parse(*url);
      register_secret(endpoint.password);  // never shown in a log line or an error text
      publisher = std::make_shared<RedisPublisher>(std::move(endpoint));
    } catch (const ValueError& e) {
      problem = e.what();
      logger.warning("[报告存储] %s | 报告照常保存，消息留在发件箱", problem);
    }
  }
  return std::make_shared<SqlReportStore>(std::move(options), std::move(publisher), std::move(problem));
}

std::shared_ptr<SqlReportStore> install_default_report_store(StoreOptions options) {
  auto store = make_default_report_store(std::move(options));
  Service<ReportStore>::install(store);
  return store;
}

}  // namespace quorvel::report
