#include "testing/recording_connection.h"

#include "frame/static_recordset.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

void RecordingConnection::Execute(std::string_view statement) {
  sent.emplace_back(statement);
  if (!fail_with.empty()) Raise(ErrorCode::kDatabase, fail_with);
}

std::unique_ptr<Recordset> RecordingConnection::Open(std::string_view statement,
                                                     CursorType cursor) {
  sent.emplace_back(statement);
  cursors.push_back(cursor);
  if (!fail_with.empty()) Raise(ErrorCode::kDatabase, fail_with);
  Result r;
  if (!results_.empty()) {
    r = std::move(results_.front());
    results_.pop_front();
  }
  std::vector<Variant> cells;
  for (auto& row : r.rows) {
    for (auto& v : row) cells.push_back(std::move(v));
  }
  return std::make_unique<StaticRecordset>(std::move(r.names), std::move(cells));
}

}  // namespace wrenhaven
