#include "testing/recording_connection.h"

#include "frame/statement.h"
#include "frame/static_recordset.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

void RecordingConnection::Execute(std::string_view statement) {
  sent.emplace_back(statement);
  if (!fail_with.empty()) Raise(ErrorCode::kDatabase, fail_with);
}

void RecordingConnection::Begin() {
  nesting_.Begin([this](std::string_view text) { Execute(text); },
                 "BEGIN TRANSACTION");
}

void RecordingConnection::Commit() {
  nesting_.Commit([this](std::string_view text) { Execute(text); },
                  "COMMIT TRANSACTION");
}

void RecordingConnection::Rollback() {
  nesting_.Rollback([this](std::string_view text) { Execute(text); },
                    "ROLLBACK TRANSACTION");
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
  return std::make_unique<StaticRecordset>(std::move(r.names),
                                           std::move(cells));
}

void TappedConnection::Execute(std::string_view statement) {
  sent.emplace_back(statement);
  target_->Execute(statement);
}

std::unique_ptr<Recordset> TappedConnection::Open(std::string_view statement,
                                                  CursorType cursor) {
  sent.emplace_back(statement);
  return target_->Open(statement, cursor);
}

void TappedConnection::ExecuteWith(std::string_view statement,
                                   std::span<const Variant> values) {
  sent.push_back(WithValuesWritten(statement, values));
  sent_apart.emplace_back(statement);
  target_->ExecuteWith(statement, values);
}

std::unique_ptr<Recordset> TappedConnection::OpenWith(
    std::string_view statement, std::span<const Variant> values,
    CursorType cursor) {
  sent.push_back(WithValuesWritten(statement, values));
  sent_apart.emplace_back(statement);
  return target_->OpenWith(statement, values, cursor);
}

TappedConnections::Factory TappedConnections::Tapped() {
  return [this] {
    auto tapped = std::make_shared<TappedConnection>(make_());
    std::lock_guard lock(mutex_);
    taps_.push_back(tapped);
    return tapped;
  };
}

std::vector<std::string> TappedConnections::Sent() {
  return Since(&TappedConnection::sent, seen_);
}

std::vector<std::string> TappedConnections::SentApart() {
  return Since(&TappedConnection::sent_apart, seen_apart_);
}

std::vector<std::string> TappedConnections::Since(
    std::vector<std::string> TappedConnection::*texts,
    std::vector<size_t>& seen) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (size_t i = 0; i < taps_.size(); ++i) {
    const auto& sent = (*taps_[i]).*texts;
    if (seen.size() <= i) seen.push_back(0);
    out.insert(out.end(), sent.begin() + static_cast<std::ptrdiff_t>(seen[i]),
               sent.end());
    seen[i] = sent.size();
  }
  return out;
}

}  // namespace wrenhaven
