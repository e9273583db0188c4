#pragma once
// An SQLite VFS over the default one that fails the N-th write, sync or truncate of any file opened
// through it (database, WAL, journal), as a full or failing disk would. While a FailingVfs lives it is
// the default VFS, so connections opened in that time use it.
#include <sqlite3.h>

#include <atomic>

namespace quorvel::testing {

class FailingVfs {
 public:
  FailingVfs();
  ~FailingVfs();
  FailingVfs(const FailingVfs&) = delete;
  FailingVfs& operator=(const FailingVfs&) = delete;

  // Fails the n-th write, sync or truncate from now on (1 = the next one); 0 fails none.
  void fail_at(int n);
  // Writes, syncs and truncates counted since the last fail_at.
  int calls() const;
  // Whether the armed failure was returned.
  bool fired() const;
};

}  // namespace quorvel::testing
