// tarnel-import: loads daily bars from CSV files into the local bar store.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "tarnel/bar_store.h"
#include "tarnel/data_import.h"

namespace {

void print(const tarnel::ImportReport& r, const std::string& what) {
  for (const auto& m : r.messages) std::cerr << "已拒绝 " << m << "\n";
  std::cout << fmt::format("{}: 导入 {} 行，拒绝 {} 行\n", what, r.rows_loaded, r.rows_rejected);
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("tarnel-import", [&]() -> int {
    CLI::App app{"把日线 CSV（表头 date,open,high,low,close,volume,amount）导入本地行情库。\n"
                 "代码取自 --code，或文件名（如 sh.600000.csv）。重复导入同一日期会覆盖旧值。",
                 "tarnel-import"};
    std::string db = tarnel::default_store_path().string(), code, instruments, data_dir;
    std::vector<std::string> files;
    app.add_option("files", files, "日线 CSV 文件");
    app.add_option("--db", db, "行情库文件 (默认: $TARNEL_CENTER/tarnel.sqlite 或项目根目录下的 tarnel.sqlite)");
    app.add_option("--code", code, "证券代码，仅在导入单个文件时使用，如 sh.600000");
    app.add_option("--instruments", instruments, "证券清单 CSV (code,name,market,kind[,file][,lot])，连同其中列出的日线文件一并导入");
    app.add_option("--data-dir", data_dir, "数据目录：instruments.csv 与 calendars/ 下的交易日历");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (files.empty() && instruments.empty() && data_dir.empty()) {
      std::cerr << "tarnel-import: 没有要导入的内容：请给出 CSV 文件、--instruments 或 --data-dir\n\n" << app.help();
      return 2;
    }
    if (!code.empty() && files.size() != 1) {
      std::cerr << "tarnel-import: --code 只能与单个 CSV 文件一起使用\n";
      return 2;
    }

    int status = 0;
    std::size_t loaded = 0, rejected = 0;
    try {
      tarnel::BarStore store(db);
      const auto run = [&](const std::string& what, auto&& import) {
        try {
          const tarnel::ImportReport r = import();
          print(r, what);
          loaded += r.rows_loaded;
          rejected += r.rows_rejected;
          if (r.rows_rejected) status = 1;
        } catch (const quorvel::Error& e) {
          std::cerr << "导入失败 " << what << ": " << e.what() << "（该文件未写入任何数据）\n";
          status = 1;
        }
      };
      if (!data_dir.empty()) run(data_dir, [&] { return tarnel::import_data_dir(store, data_dir); });
      if (!instruments.empty()) run(instruments, [&] { return tarnel::import_instrument_file(store, instruments); });
      for (const auto& file : files) {
        const std::string c = code.empty() ? std::filesystem::path(file).stem().string() : code;
        run(file, [&] { return tarnel::import_bar_file(store, c, file); });
      }
    } catch (const quorvel::Error& e) {
      std::cerr << "tarnel-import: " << e.what() << "\n";
      return 1;
    }
    std::cout << fmt::format("合计: 导入 {} 行，拒绝 {} 行\n", loaded, rejected);
    return status;
  });
}
