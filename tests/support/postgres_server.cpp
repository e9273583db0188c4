#include "support/postgres_server.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include "support/free_port.h"

namespace quorvel::testing {

namespace {

namespace fs = std::filesystem;

constexpr auto kStartTimeout = std::chrono::seconds(30);


// Debian installs every major version in a directory of its own and leaves them off PATH; the newest
// one wins. Where there is no such directory the programs are looked up on PATH.
std::string program(const std::string& name) {
  static const fs::path bin = [] {
    fs::path best;
    double best_version = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      const double version = std::strtod(entry.path().filename().c_str(), nullptr);
      if (version > best_version && fs::exists(entry.path() / "bin" / "initdb")) {
        best = entry.path() / "bin";
        best_version = version;
      }
    }
    return best;
  }();
  return bin.empty() ? name : (bin / name).string();
}

// The exception of a server that did not come up: what went wrong and the end of the log.
std::string failure(const std::string& what, int status, const fs::path& log) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    return what + ": postgresql is not installed (scripts/setup.sh --tests installs it)";
  std::ifstream in(log);
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back(line);
    if (tail.size() > 20) tail.pop_front();
  }
  std::string out = what + "; log " + log.string();
  for (const auto& line : tail) out += "\n  " + line;
  return out;
}

pid_t wait_for(pid_t pid, int& status, int options = 0) {
  pid_t r;
  while ((r = ::waitpid(pid, &status, options)) < 0 && errno == EINTR) {
  }
  return r;
}

struct ProcStat {
  char state;
  pid_t ppid;
};

// /proc/<pid>/stat reads "pid (comm) state ppid ..."; comm may itself hold spaces and parentheses.
std::optional<ProcStat> proc_stat(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const auto comm_end = line.rfind(')');
  if (comm_end == std::string::npos) return std::nullopt;
  std::istringstream rest(line.substr(comm_end + 1));
  ProcStat s{};
  if (!(rest >> s.state >> s.ppid)) return std::nullopt;
  return s;
}

std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto s = proc_stat(name);
    if (s && s->ppid == parent) out.push_back(std::stoi(name));
  }
  return out;
}

// Gone, or a zombie that its (stopped) parent has not reaped.
bool exited(pid_t pid) {
  const auto s = proc_stat(std::to_string(pid));
  return !s || s->state == 'Z' || s->state == 'X';
}

std::string conninfo(int port, const std::string& user, const std::string& db) {
  return "host=127.0.0.1 port=" + std::to_string(port) + " user=" + user + " dbname=" + db +
         " connect_timeout=5 sslmode=disable gssencmode=disable";
}

struct ConnDeleter {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};

std::vector<std::string> run_sql(const std::string& info, const std::string& sql) {
  std::unique_ptr<PGconn, ConnDeleter> c(PQconnectdb(info.c_str()));
  if (PQstatus(c.get()) != CONNECTION_OK)
    throw std::runtime_error("cannot connect to the test postgres: " + std::string(PQerrorMessage(c.get())));
  std::unique_ptr<PGresult, ResultDeleter> r(PQexec(c.get(), sql.c_str()));
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
    throw std::runtime_error(sql + ": " + PQerrorMessage(c.get()));
  std::vector<std::string> out;
  if (PQnfields(r.get()) > 0)
    for (int row = 0; row < PQntuples(r.get()); ++row) out.emplace_back(PQgetvalue(r.get(), row, 0));
  return out;
}

}  // namespace

PostgresServer::PostgresServer(bool durable) : port_(free_loopback_port()), durable_(durable) {
  // initdb and postgres refuse to run as root; as root the cluster belongs to the system user that
  // Debian's postgresql package creates.
  const passwd* pw = ::geteuid() == 0 ? ::getpwnam("postgres") : ::getpwuid(::geteuid());
  if (!pw)
    throw std::runtime_error(::geteuid() == 0
                                 ? "the test postgres runs as the \"postgres\" system user, and there is none "
                                   "(the postgresql package creates it: scripts/setup.sh --tests)"
                                 : "the current user has no name; initdb needs one");
  user_ = pw->pw_name;
  switch_user_ = ::geteuid() == 0;
  uid_ = pw->pw_uid;
  gid_ = pw->pw_gid;

  // The backends stop() kills are reaped here, not left to an init that may not reap them.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);

  std::string dir = (fs::temp_directory_path() / "quorvel-postgres-XXXXXX").string();
  if (!::mkdtemp(dir.data())) throw std::runtime_error("cannot create a directory for the test postgres");
  dir_ = dir;
  // From here a failure leaves the directory behind, so that the log the exception names can be read.
  if (switch_user_ && ::chown(dir_.c_str(), uid_, gid_) != 0)
    throw std::runtime_error("cannot hand " + dir_.string() + " to the postgres user");

  int status = 0;
  wait_for(spawn({program("initdb"), "-D", (dir_ / "data").string(), "-U", user_, "-A", "trust", "-E", "UTF8",
                  "--no-locale", "--no-sync"},
                 "initdb.log"),
           status);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(failure("initdb failed", status, dir_ / "initdb.log"));
  // No password anywhere: the private socket directory and the loopback address only.
  std::ofstream(dir_ / "data" / "pg_hba.conf", std::ios::trunc)
      << "local all all trust\nhost all all 127.0.0.1/32 trust\n";

  start();
  try {
    run_sql(conninfo(port_, user_, "postgres"), "CREATE DATABASE quorvel");
  } catch (...) {
    stop();
    throw;
  }
}

PostgresServer::~PostgresServer() {
  stop();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string PostgresServer::url() const {
  return "postgresql://" + user_ + "@127.0.0.1:" + std::to_string(port_) + "/quorvel";
}

std::string PostgresServer::fresh_database(const std::string& name) const {
  const std::string info = conninfo(port_, user_, "postgres");
  run_sql(info, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  run_sql(info, "CREATE DATABASE " + name);
  return "postgresql://" + user_ + "@127.0.0.1:" + std::to_string(port_) + "/" + name;
}

pid_t PostgresServer::spawn(const std::vector<std::string>& args, const std::string& log) const {
  // Everything the child needs is prepared here: between fork and exec it only makes system calls.
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string cwd = dir_.string();
  const int fd = ::open((dir_ / log).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + (dir_ / log).string());
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    if (::chdir(cwd.c_str()) != 0 ||
        (switch_user_ && (::setgroups(1, &gid_) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))) {
      static constexpr char kCannot[] = "cannot enter the directory or become the cluster's owner\n";
      [[maybe_unused]] const auto n = ::write(STDERR_FILENO, kCannot, sizeof(kCannot) - 1);
      ::_exit(126);
    }
    // After the change of user, which clears it: never outlive a crashed test program.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fd);
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

void PostgresServer::start() {
  if (pid_ > 0) return;
  pid_ = spawn({program("postgres"), "-D", (dir_ / "data").string(), "-p", std::to_string(port_), "-c",
                "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=" + dir_.string(), "-c", durable_ ? "fsync=on" : "fsync=off"},
               "postgres.log");
  const std::string info = conninfo(port_, user_, "postgres");
  for (const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
       std::chrono::steady_clock::now() < deadline;) {
    if (PQping(info.c_str()) == PQPING_OK) return;
    int status = 0;
    if (wait_for(pid_, status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error(failure("postgres exited at start", status, dir_ / "postgres.log"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop();
  throw std::runtime_error(failure("postgres did not accept connections on 127.0.0.1:" + std::to_string(port_) +
                                       " within " + std::to_string(kStartTimeout.count()) + " s",
                                   0, dir_ / "postgres.log"));
}

void PostgresServer::stop() {
  // SIGKILL on purpose, to the postmaster and to every backend, as when the host dies. The postmaster
  // is frozen first so that it starts no process while its children are collected, and they are
  // dead before it is: nothing still holds the old shared memory when start() comes back to the
  // same data directory. Orphaned by the postmaster, they come to this process (their subreaper) to
  // be reaped, so that none is left behind even under an init that reaps nothing.
  if (pid_ <= 0) return;
  ::kill(pid_, SIGSTOP);
  int status = 0;
  std::vector<pid_t> children;
  if (wait_for(pid_, status, WUNTRACED) == pid_ && WIFSTOPPED(status)) {
    children = children_of(pid_);
    for (const pid_t child : children) ::kill(child, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (const pid_t child : children)
      while (!exited(child) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid_, SIGKILL);
    wait_for(pid_, status);
  }
  for (const pid_t child : children) wait_for(child, status);
  pid_ = -1;
}

std::vector<std::string> PostgresServer::command(const std::string& sql) const {
  return run_sql(conninfo(port_, user_, "quorvel"), sql);
}

}  // namespace quorvel::testing
