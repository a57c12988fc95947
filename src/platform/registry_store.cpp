#include "platform/registry_store.h"

#include <glib.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/config_directory.h"

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded BLOB NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE IF NOT EXISTS key_values(
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, folded)) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbClose>;

struct StmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

int CodeFor(int sqlite_rc) {
  switch (sqlite_rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kRegistryBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return kRegistryAccessDenied;
    default:
      return kRegistryStoreFailed;
  }
}

Error DbError(sqlite3* db, int rc, const char* what) {
  std::string context = std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  return Error{CodeFor(rc), std::move(context)};
}

// The folded name as raw UTF-16 units: the lookup key of a name.
std::string FoldedBytes(TextView name) {
  Text folded = RegistryStore::FoldName(name);
  return std::string(reinterpret_cast<const char*>(folded.data()), folded.size() * 2);
}

}  // namespace

struct RegistryStore::Impl {
  DbPtr db;
  bool read_only = false;

  Result<StmtPtr> Prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db.get(), sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK) return DbError(db.get(), rc, "prepare");
    return StmtPtr(raw);
  }

  Result<void> Exec(const char* sql) {
    int rc = sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return DbError(db.get(), rc, sql);
    return {};
  }

  // Runs `sql` again while another connection holds a lock that the busy handler does not wait
  // for (changing the journal mode), up to the busy timeout.
  Result<void> ExecPatiently(const char* sql) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
      int rc = sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) return {};
      int primary = rc & 0xFF;
      if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
          std::chrono::steady_clock::now() > deadline)
        return DbError(db.get(), rc, sql);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  Result<int> QueryInt(const char* sql) {
    auto stmt = Prepare(sql);
    if (!stmt) return stmt.error();
    int rc = sqlite3_step(stmt->get());
    if (rc != SQLITE_ROW) return DbError(db.get(), rc, sql);
    return sqlite3_column_int(stmt->get(), 0);
  }

  // Looks up one child key; 0 when it does not exist.
  Result<int64_t> FindChild(int64_t parent, TextView name) {
    auto stmt = Prepare("SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    if (!stmt) return stmt.error();
    std::string folded = FoldedBytes(name);
    sqlite3_bind_int64(stmt->get(), 1, parent);
    sqlite3_bind_blob(stmt->get(), 2, folded.data(), static_cast<int>(folded.size()),
                      SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt->get());
    if (rc == SQLITE_ROW) return static_cast<int64_t>(sqlite3_column_int64(stmt->get(), 0));
    if (rc == SQLITE_DONE) return int64_t{0};
    return DbError(db.get(), rc, "find key");
  }

  Result<int64_t> InsertChild(int64_t parent, TextView name) {
    auto stmt = Prepare("INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)");
    if (!stmt) return stmt.error();
    std::string folded = FoldedBytes(name);
    sqlite3_bind_int64(stmt->get(), 1, parent);
    sqlite3_bind_text16(stmt->get(), 2, name.data(), static_cast<int>(name.size() * 2),
                        SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt->get(), 3, folded.data(), static_cast<int>(folded.size()),
                      SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt->get());
    if (rc != SQLITE_DONE) return DbError(db.get(), rc, "create key");
    return static_cast<int64_t>(sqlite3_last_insert_rowid(db.get()));
  }
};

namespace {

// Holds one write transaction; rolls it back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {}
  ~WriteTransaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Result<void> Begin() { return Run("BEGIN IMMEDIATE", true); }
  Result<void> Commit() { return Run("COMMIT", false); }

 private:
  Result<void> Run(const char* sql, bool open_after) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return DbError(db_, rc, sql);
    open_ = open_after;
    return {};
  }
  sqlite3* db_;
  bool open_ = false;
};

Result<void> CheckPath(const std::vector<Text>& path) {
  for (const Text& part : path) {
    // The platform's limit for one key name; an empty part comes from "a\\b" or a leading '\'.
    if (part.empty() || part.size() > 255) return Error{kRegistryBadPath, "key name"};
  }
  return {};
}

}  // namespace

RegistryStore::RegistryStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryStore::~RegistryStore() = default;

bool RegistryStore::read_only() const {
  return impl_->read_only;
}

Result<std::unique_ptr<RegistryStore>> RegistryStore::Open(const std::string& file, Access access,
                                                           Journal journal) {
  auto impl = std::make_unique<Impl>();
  impl->read_only = access == Access::kReadOnly;
  // A new file gets its mode right after SQLite makes it, before any journal file copies the mode.
  // (Opening and closing a descriptor of our own here would drop the POSIX locks that other
  // connections of this process hold on the file.)
  bool created = !impl->read_only && ::access(file.c_str(), F_OK) != 0;
  int flags = impl->read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  impl->db.reset(raw);
  if (rc != SQLITE_OK) return DbError(raw, rc, "open");
  if (created && chmod(file.c_str(), journal == Journal::kWal ? 0600 : 0644) != 0)
    return Error::FromErrno("chmod " + file);
  if (!created && !impl->read_only && journal == Journal::kWal) {
    // The user's store is the user's alone; one found looser (made by an older build or copied
    // in) is tightened with its side files.
    for (const char* suffix : {"", "-wal", "-shm"}) (void)RestrictToOwner(file + suffix);
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  sqlite3_extended_result_codes(raw, 1);
  if (impl->read_only) return std::unique_ptr<RegistryStore>(new RegistryStore(std::move(impl)));

  const char* mode =
      journal == Journal::kWal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE";
  if (auto r = impl->ExecPatiently(mode); !r) return r.error();
  // WAL with NORMAL keeps every committed transaction when the process dies; only a power loss
  // may drop the last ones. A rollback journal needs FULL to stay sound on power loss.
  const char* sync =
      journal == Journal::kWal ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL";
  if (auto r = impl->Exec(sync); !r) return r.error();
  auto version = impl->QueryInt("PRAGMA user_version");
  if (!version) return version.error();
  if (*version < kSchemaVersion) {
    WriteTransaction tx(impl->db.get());
    if (auto r = tx.Begin(); !r) return r.error();
    if (auto r = impl->Exec(kSchema); !r) return r.error();
    if (auto r = tx.Commit(); !r) return r.error();
  }
  return std::unique_ptr<RegistryStore>(new RegistryStore(std::move(impl)));
}

Result<int64_t> RegistryStore::FindKey(const std::string& hive, const std::vector<Text>& path) {
  if (auto r = CheckPath(path); !r) return r.error();
  auto id = impl_->FindChild(0, FromUtf8(hive));
  if (!id) return id.error();
  for (const Text& part : path) {
    if (*id == 0) break;
    id = impl_->FindChild(*id, part);
    if (!id) return id.error();
  }
  if (*id == 0) return Error{kRegistryNotFound, "key"};
  return *id;
}

Result<int64_t> RegistryStore::CreateKey(const std::string& hive, const std::vector<Text>& path) {
  if (impl_->read_only) return Error{kRegistryAccessDenied, "read-only store"};
  // Most keys exist already: a read finds them without taking the write lock.
  auto existing = FindKey(hive, path);
  if (existing || existing.error().code != kRegistryNotFound) return existing;
  WriteTransaction tx(impl_->db.get());
  if (auto r = tx.Begin(); !r) return r.error();
  int64_t id = 0;
  std::vector<Text> parts;
  parts.reserve(path.size() + 1);
  parts.push_back(FromUtf8(hive));
  parts.insert(parts.end(), path.begin(), path.end());
  for (const Text& part : parts) {
    auto child = impl_->FindChild(id, part);
    if (!child) return child.error();
    if (*child == 0) child = impl_->InsertChild(id, part);
    if (!child) return child.error();
    id = *child;
  }
  if (auto r = tx.Commit(); !r) return r.error();
  return id;
}

Result<RegistryValue> RegistryStore::ReadValue(int64_t key, TextView name) {
  auto stmt = impl_->Prepare("SELECT type, data FROM key_values WHERE key = ?1 AND folded = ?2");
  if (!stmt) return stmt.error();
  std::string folded = FoldedBytes(name);
  sqlite3_bind_int64(stmt->get(), 1, key);
  sqlite3_bind_blob(stmt->get(), 2, folded.data(), static_cast<int>(folded.size()),
                    SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt->get());
  if (rc == SQLITE_DONE) return Error{kRegistryNotFound, "value"};
  if (rc != SQLITE_ROW) return DbError(impl_->db.get(), rc, "read value");
  RegistryValue value;
  value.type = static_cast<uint32_t>(sqlite3_column_int64(stmt->get(), 0));
  const void* data = sqlite3_column_blob(stmt->get(), 1);
  int size = sqlite3_column_bytes(stmt->get(), 1);
  if (data && size > 0) value.data.assign(static_cast<const char*>(data), size);
  return value;
}

Result<void> RegistryStore::WriteValue(int64_t key, TextView name, const RegistryValue& value) {
  if (impl_->read_only) return Error{kRegistryAccessDenied, "read-only store"};
  WriteTransaction tx(impl_->db.get());
  if (auto r = tx.Begin(); !r) return r.error();
  auto stmt = impl_->Prepare(
      "INSERT OR REPLACE INTO key_values(key, name, folded, type, data) "
      "SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)");
  if (!stmt) return stmt.error();
  std::string folded = FoldedBytes(name);
  sqlite3_bind_int64(stmt->get(), 1, key);
  sqlite3_bind_text16(stmt->get(), 2, name.data(), static_cast<int>(name.size() * 2),
                      SQLITE_TRANSIENT);
  sqlite3_bind_blob(stmt->get(), 3, folded.data(), static_cast<int>(folded.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int64(stmt->get(), 4, value.type);
  // A zero-length blob, not NULL, for an empty value.
  sqlite3_bind_blob(stmt->get(), 5, value.data.data(), static_cast<int>(value.data.size()),
                    SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt->get());
  if (rc != SQLITE_DONE) return DbError(impl_->db.get(), rc, "write value");
  if (sqlite3_changes(impl_->db.get()) == 0) return Error{kRegistryNotFound, "key"};
  return tx.Commit();
}

Result<void> RegistryStore::DeleteKey(int64_t key) {
  if (impl_->read_only) return Error{kRegistryAccessDenied, "read-only store"};
  WriteTransaction tx(impl_->db.get());
  if (auto r = tx.Begin(); !r) return r.error();
  static constexpr const char* kDeletes[] = {
      "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys "
      "JOIN subtree ON keys.parent = subtree.id) DELETE FROM key_values WHERE key IN subtree",
      "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys "
      "JOIN subtree ON keys.parent = subtree.id) DELETE FROM keys WHERE id IN subtree",
  };
  for (const char* sql : kDeletes) {
    auto stmt = impl_->Prepare(sql);
    if (!stmt) return stmt.error();
    sqlite3_bind_int64(stmt->get(), 1, key);
    int rc = sqlite3_step(stmt->get());
    if (rc != SQLITE_DONE) return DbError(impl_->db.get(), rc, "delete key");
  }
  // The last statement removed the key itself, unless it was gone already.
  if (sqlite3_changes(impl_->db.get()) == 0) return Error{kRegistryNotFound, "key"};
  return tx.Commit();
}

Text RegistryStore::FoldName(TextView name) {
  Text out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t unit = name[i];
    bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
                name[i + 1] <= 0xDFFF;
    if (pair) {
      // Characters outside the basic plane keep their case: the platform folds only that plane.
      out += unit;
      out += name[++i];
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += unit;
    } else {
      gunichar upper = g_unichar_toupper(unit);
      out += upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
    }
  }
  return out;
}
