#include "wrenhaven/retention.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

struct TableInfo {
  std::string_view table;
  std::string_view time_column;
  std::vector<std::string_view> columns;  // the identifier first
  int password_column;                    // -1: none
};

const TableInfo& InfoOf(RecordTable table) {
  static const TableInfo kLogins{
      "HR_Login",
      "loginTime",
      {"LoginID", "personID", "LoginAccount", "LoginPwd", "LoginOK", "LoginIP",
       "LoginMemo", "LoginScreen", "loginTime", "loginOutTime"},
      3};
  static const TableInfo kAudit{
      "SYS_Audit",
      "AuditTime",
      {"AuditID", "AuditTime", "PersonID", "PersonAccount", "ClientIP",
       "AuditKind", "AuditTarget", "BeforeValue", "AfterValue"},
      -1};
  return table == RecordTable::kLogins ? kLogins : kAudit;
}

// What the login record's password column holds for every attempt now.
constexpr std::string_view kMaskedPassword = "******";

std::string CellText(const Variant& v) {
  if (v.kind() == Kind::kDate) return v.date().ToIso();
  return v.ToText();
}

// The export file, created for its owner only; a file that exists already
// is refused, so no earlier export is overwritten.
class CsvFile {
 public:
  explicit CsvFile(const std::string& path) : path_(path) {
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) Fail("cannot be created");
    file_ = fdopen(fd, "w");
    if (file_ == nullptr) {
      close(fd);
      Fail("cannot be written");
    }
  }
  ~CsvFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  void Write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      Fail("cannot be written");
    }
  }
  // Everything written so far is on the disk when this returns.
  void Sync() {
    if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) {
      Fail("cannot be written");
    }
  }
  void Close() {
    Sync();
    const int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) Fail("cannot be written");
  }
  void Remove() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    unlink(path_.c_str());
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    Raise(ErrorCode::kHost, "The export file " + path_ + " " + what + ": " +
                                std::strerror(errno));
  }
  std::string path_;
  std::FILE* file_ = nullptr;
};

// "YYYY-MM-DD[ HH:MM[:SS]]" as "YYYY-MM-DD HH:MM:SS".
std::string CheckedTime(const std::string& text) {
  Date date;
  if (text.empty() || text.size() > 19 || !Date::ParseIso(text, &date)) {
    Raise(ErrorCode::kInvalidArgument,
          "The time to keep records from must be a date (YYYY-MM-DD) or a "
          "time (YYYY-MM-DD HH:MM:SS)");
  }
  return date.ToIso();
}

std::string Row(const TableInfo& t, Recordset& rs) {
  std::string line;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (i > 0) line += ',';
    std::string text = CellText(rs.Value(static_cast<int>(i)));
    if (static_cast<int>(i) == t.password_column && !text.empty()) {
      text = kMaskedPassword;
    }
    line += CsvField(text);
  }
  return line + "\r\n";
}

}  // namespace

std::string RecordCsvHeader(RecordTable table) {
  const TableInfo& t = InfoOf(table);
  std::string line;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    line += (i == 0 ? "" : ",") + std::string(t.columns[i]);
  }
  return line + "\r\n";
}

RetentionResult KeepRecords(Connection& conn, const RetentionOptions& o) {
  const TableInfo& t = InfoOf(o.table);
  const std::string before = CheckedTime(o.before);
  if (o.batch_rows < 1 || o.batch_rows > 10000) {
    Raise(ErrorCode::kInvalidArgument, "A batch holds 1 to 10000 records");
  }
  if (o.export_path.empty() && !o.prune) {
    Raise(ErrorCode::kInvalidArgument,
          "Give a file to export to, or prune, or both");
  }
  std::string head = "Select ";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    head += (i == 0 ? "" : ",") + std::string(t.columns[i]);
  }
  head += " from " + std::string(t.table) + " where " +
          std::string(t.time_column) + "<'" + before + "'";
  const std::string id(t.columns.front());

  std::unique_ptr<CsvFile> file;
  if (!o.export_path.empty()) file = std::make_unique<CsvFile>(o.export_path);
  RetentionResult done;
  try {
    const VariantArray n =
        Query(conn,
              "Select count(*) from " + std::string(t.table) + " where " +
                  std::string(t.time_column) + "<'" + before + "'",
              CursorType::kForwardOnly, ReadFirstRecord);
    const auto total =
        static_cast<int64_t>(n.undimensioned() ? 0 : n(0).ToDouble());
    if (file) file->Write(RecordCsvHeader(o.table));
    std::string last;  // the identifier the previous batch ended with
    std::vector<Variant> ids;
    ids.reserve(static_cast<size_t>(o.batch_rows));
    while (true) {
      ids.clear();
      Statement s;
      s.Text(head);
      if (!last.empty()) s.Text(" and ").Text(id).Text(">").Text(last);
      s.Text(" order by ").Text(id);
      std::unique_ptr<Recordset> rs =
          conn.Open(conn.dialect().Limited(s.Finish(), o.batch_rows, 0),
                    CursorType::kForwardOnly);
      while (!rs->Eof()) {
        const Variant key = rs->Value(0);
        if (!IsWholeNumber(key.ToText())) {
          Raise(ErrorCode::kDatabase, "A record of " + std::string(t.table) +
                                          " has no whole-number " + id);
        }
        if (file) file->Write(Row(t, *rs));
        ids.push_back(key);
        rs->MoveNext();
      }
      rs->Close();
      if (ids.empty()) break;
      if (file) {
        file->Sync();
        done.exported += static_cast<int64_t>(ids.size());
      }
      if (o.prune) {
        // Only the records just written, each by its identifier: a record
        // that arrived since (or was not read) stays.
        Statement del;
        del.Text("Delete from ")
            .Text(t.table)
            .Text(" where ")
            .Text(id)
            .Text(" in (");
        for (size_t i = 0; i < ids.size(); ++i) {
          del.Text(i == 0 ? "" : ",").Bare(ids[i], id);
        }
        del.Text(")");
        Transaction tx(conn);
        conn.Execute(del.Finish());
        tx.Commit();
        done.deleted += static_cast<int64_t>(ids.size());
      }
      last = ids.back().ToText();
      if (o.progress) {
        o.progress(file ? done.exported : done.deleted, total);
      }
      if (static_cast<int32_t>(ids.size()) < o.batch_rows) break;
    }
    if (file) file->Close();
  } catch (const Error& e) {
    if (file && done.deleted == 0) {
      file->Remove();
      throw;
    }
    if (file) {
      Raise(e.code(), e.description() + " (" + std::to_string(done.deleted) +
                          " records were deleted after they were written to " +
                          o.export_path + ", which is kept)");
    }
    throw;
  }
  return done;
}

}  // namespace wrenhaven
