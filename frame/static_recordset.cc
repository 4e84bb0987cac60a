#include "frame/static_recordset.h"

#include <string>

#include "wrenhaven/error.h"

namespace wrenhaven {

StaticRecordset::StaticRecordset(std::vector<std::string> names,
                                 std::vector<Variant> cells)
    : names_(std::move(names)), cells_(std::move(cells)) {
  rows_ = names_.empty() ? 0 : cells_.size() / names_.size();
}

void StaticRecordset::CheckOpen() const {
  if (closed_) {
    Raise(ErrorCode::kDatabase,
          "Operation is not allowed when the object is closed");
  }
}

bool StaticRecordset::Eof() const {
  CheckOpen();
  return current_ >= rows_;
}

int32_t StaticRecordset::RecordCount() const {
  CheckOpen();
  return static_cast<int32_t>(rows_);
}

int StaticRecordset::FieldCount() const {
  CheckOpen();
  return static_cast<int>(names_.size());
}

std::string StaticRecordset::FieldName(int index) const {
  CheckOpen();
  if (index < 0 || static_cast<size_t>(index) >= names_.size()) {
    Raise(ErrorCode::kSubscriptOutOfRange,
          "Item cannot be found in the collection: field " + std::to_string(index));
  }
  return names_[static_cast<size_t>(index)];
}

Variant StaticRecordset::Value(int index) const {
  FieldName(index);  // checks the index
  if (current_ >= rows_) {
    Raise(ErrorCode::kDatabase,
          "Either BOF or EOF is True: there is no current record");
  }
  return cells_[current_ * names_.size() + static_cast<size_t>(index)];
}

void StaticRecordset::MoveNext() {
  CheckOpen();
  if (current_ >= rows_) {
    Raise(ErrorCode::kDatabase,
          "Either BOF or EOF is True: there is no current record");
  }
  ++current_;
}

void StaticRecordset::SetPageSize(int32_t rows) {
  CheckOpen();
  if (rows < 1) {
    Raise(ErrorCode::kInvalidArgument,
          "Page size must be at least 1, not " + std::to_string(rows));
  }
  page_size_ = rows;
}

void StaticRecordset::SetAbsolutePage(int32_t page) {
  CheckOpen();
  const size_t pages = (rows_ + static_cast<size_t>(page_size_) - 1) /
                       static_cast<size_t>(page_size_);
  if (page < 1 || static_cast<size_t>(page) > pages) {
    Raise(ErrorCode::kInvalidArgument,
          "Page " + std::to_string(page) + " is outside the result: it has " +
              std::to_string(pages) + (pages == 1 ? " page" : " pages") +
              " of " + std::to_string(page_size_) + " rows");
  }
  current_ = static_cast<size_t>(page - 1) * static_cast<size_t>(page_size_);
}

void StaticRecordset::Close() {
  CheckOpen();
  closed_ = true;
}

}  // namespace wrenhaven
