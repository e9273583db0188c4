#pragma once
// A private PostgreSQL server for the tests: a fresh cluster in a temporary directory (initdb, trust
// authentication, fsync off), served on a free 127.0.0.1 port with its unix sockets in that directory,
// and a database "quorvel". Run as root, the cluster belongs to the "postgres" system user, since
// initdb and postgres refuse to run as root. Tests that take the server away mid-flight call stop()
// and start() again: same port, same data directory. The destructor stops the server and removes
// the directory.
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace quorvel::testing {

class PostgresServer {
 public:
  // Creates the cluster and starts the server; throws when it does not come up. `durable`: fsync on,
  // as a production server runs (benchmarks); the tests leave it off.
  explicit PostgresServer(bool durable = false);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  void start();
  void stop();  // abrupt: SIGKILL to the whole server, as when its host dies
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  const std::string& user() const { return user_; }
  std::string url() const;  // postgresql://<user>@127.0.0.1:<port>/quorvel
  // A new, empty database `name` (dropped first when it exists); returns its URL.
  std::string fresh_database(const std::string& name) const;

  // A short-lived client for checks: runs one SQL statement in "quorvel" and returns the first column
  // of every row (NULL as ""). Throws with the server's message when the statement fails.
  std::vector<std::string> command(const std::string& sql) const;

 private:
  // Forks and runs `args` with stdout and stderr appended to `log` in the directory, as the cluster's
  // owner. Returns the child's pid.
  pid_t spawn(const std::vector<std::string>& args, const std::string& log) const;

  std::filesystem::path dir_;  // data/, the sockets, initdb.log and postgres.log
  std::string user_;           // the system user the server runs as, also its superuser role
  uid_t uid_ = 0;              // set when the server runs as another user than this process
  gid_t gid_ = 0;
  bool switch_user_ = false;
  int port_ = 0;
  pid_t pid_ = -1;
  bool durable_ = false;
};

// Shared server of a test program that links postgres_environment.cpp.
PostgresServer& shared_postgres();

}  // namespace quorvel::testing
