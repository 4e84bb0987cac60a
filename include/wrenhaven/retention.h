// Keeping the login records (HR_Login) and the audit trail (SYS_Audit) from
// growing for ever: the records older than a time written out as CSV, and
// (when asked) deleted after they are written.
//
// The records are read in batches by their identifier (keyset paging), so
// memory stays the same for a thousand records or a hundred million. With
// pruning, each batch is written, flushed and synced to the file before the
// same records, named one by one, are deleted in a short transaction of
// their own: sign-ins keep flowing between batches, and a record that has
// not reached the file is never deleted.
//
// The login records' password column is written as "******" whatever it
// holds: records of failed attempts from before the typed password was
// masked hold what was typed.
#ifndef WRENHAVEN_RETENTION_H_
#define WRENHAVEN_RETENTION_H_

#include <cstdint>
#include <functional>
#include <string>

#include "wrenhaven/connection.h"

namespace wrenhaven {

enum class RecordTable {
  kLogins,  // HR_Login, by loginTime
  kAudit,   // SYS_Audit, by AuditTime
};

struct RetentionOptions {
  RecordTable table = RecordTable::kLogins;
  // Records strictly older than this: "YYYY-MM-DD" (midnight at its
  // start) or "YYYY-MM-DD HH:MM[:SS]", the database's local time.
  std::string before;
  // The CSV file to write (created, readable by its owner only; one that
  // exists is refused). "" writes nothing, which only pruning may do.
  std::string export_path;
  bool prune = false;
  // Records per batch: 1 to 10,000.
  int32_t batch_rows = 1000;
  // Called after every batch with the records done and the total counted
  // at the start (which may grow while it runs).
  std::function<void(int64_t done, int64_t total)> progress;
};

struct RetentionResult {
  int64_t exported = 0;  // records written to the file
  int64_t deleted = 0;   // records deleted (after they were written)
};

// Writes (and with `prune` deletes) the records older than `before`.
// Raises kInvalidArgument for a bad time, batch size or a missing file
// with neither export nor prune, and before anything is sent; kHost when
// the file cannot be created or written. A failed export without pruning
// removes the file; with pruning the file stays, since it holds the
// records already deleted, and the error says so.
RetentionResult KeepRecords(Connection& conn, const RetentionOptions& options);

// The CSV header of a table's export: its columns in the table's order.
std::string RecordCsvHeader(RecordTable table);

}  // namespace wrenhaven

#endif  // WRENHAVEN_RETENTION_H_
