#include "report/failing_vfs.h"

#include <cstring>
#include <stdexcept>

namespace quorvel::testing {

namespace {

sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs fault_vfs{};
std::atomic<int> counted{0}, failing_call{0};
std::atomic<bool> has_fired{false};

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* real_of(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

// True when this write, sync or truncate is the one to fail.
bool next_fails() {
  const int n = ++counted;
  if (failing_call.load() == 0 || n != failing_call.load()) return false;
  has_fired = true;
  return true;
}

int x_close(sqlite3_file* f) { return real_of(f)->pMethods->xClose(real_of(f)); }
int x_read(sqlite3_file* f, void* buf, int n, sqlite3_int64 off) {
  return real_of(f)->pMethods->xRead(real_of(f), buf, n, off);
}
int x_write(sqlite3_file* f, const void* buf, int n, sqlite3_int64 off) {
  if (next_fails()) return SQLITE_IOERR_WRITE;
  return real_of(f)->pMethods->xWrite(real_of(f), buf, n, off);
}
int x_truncate(sqlite3_file* f, sqlite3_int64 size) {
  if (next_fails()) return SQLITE_IOERR_TRUNCATE;
  return real_of(f)->pMethods->xTruncate(real_of(f), size);
}
int x_sync(sqlite3_file* f, int flags) {
  if (next_fails()) return SQLITE_IOERR_FSYNC;
  return real_of(f)->pMethods->xSync(real_of(f), flags);
}
int x_file_size(sqlite3_file* f, sqlite3_int64* size) { return real_of(f)->pMethods->xFileSize(real_of(f), size); }
int x_lock(sqlite3_file* f, int level) { return real_of(f)->pMethods->xLock(real_of(f), level); }
int x_unlock(sqlite3_file* f, int level) { return real_of(f)->pMethods->xUnlock(real_of(f), level); }
int x_check_reserved(sqlite3_file* f, int* out) { return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out); }
int x_file_control(sqlite3_file* f, int op, void* arg) { return real_of(f)->pMethods->xFileControl(real_of(f), op, arg); }
int x_sector_size(sqlite3_file* f) { return real_of(f)->pMethods->xSectorSize(real_of(f)); }
int x_device(sqlite3_file* f) { return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f)); }
int x_shm_map(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return real_of(f)->pMethods->xShmMap(real_of(f), region, size, extend, out);
}
int x_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
  return real_of(f)->pMethods->xShmLock(real_of(f), offset, n, flags);
}
void x_shm_barrier(sqlite3_file* f) { real_of(f)->pMethods->xShmBarrier(real_of(f)); }
int x_shm_unmap(sqlite3_file* f, int del) { return real_of(f)->pMethods->xShmUnmap(real_of(f), del); }
int x_fetch(sqlite3_file* f, sqlite3_int64 off, int n, void** out) {
  return real_of(f)->pMethods->xFetch(real_of(f), off, n, out);
}
int x_unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) { return real_of(f)->pMethods->xUnfetch(real_of(f), off, p); }

const sqlite3_io_methods fault_methods = {3,         x_close,          x_read,         x_write,        x_truncate,
                                          x_sync,    x_file_size,      x_lock,         x_unlock,       x_check_reserved,
                                          x_file_control, x_sector_size, x_device,     x_shm_map,      x_shm_lock,
                                          x_shm_barrier,  x_shm_unmap,  x_fetch,        x_unfetch};

int x_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* f = reinterpret_cast<FaultFile*>(file);
  f->base.pMethods = nullptr;
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  const int rc = real_vfs->xOpen(real_vfs, name, f->real, flags, out_flags);
  if (rc == SQLITE_OK && f->real->pMethods) f->base.pMethods = &fault_methods;
  return rc;
}

}  // namespace

FailingVfs::FailingVfs() {
  real_vfs = sqlite3_vfs_find(nullptr);
  if (!real_vfs || real_vfs->iVersion < 3) throw std::runtime_error("no default SQLite VFS of version 3");
  fault_vfs = *real_vfs;
  fault_vfs.zName = "quorvel-failing";
  fault_vfs.szOsFile = int(sizeof(FaultFile)) + real_vfs->szOsFile;
  fault_vfs.xOpen = x_open;
  fault_vfs.pNext = nullptr;
  fail_at(0);
  sqlite3_vfs_register(&fault_vfs, 1);
}

FailingVfs::~FailingVfs() {
  sqlite3_vfs_unregister(&fault_vfs);
  sqlite3_vfs_register(real_vfs, 1);
}

void FailingVfs::fail_at(int n) {
  counted = 0;
  has_fired = false;
  failing_call = n;
}

int FailingVfs::calls() const { return counted.load(); }
bool FailingVfs::fired() const { return has_fired.load(); }

}  // namespace quorvel::testing
