#include "testing/faulty_connection.h"

#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// A result whose moves to the next row are operations of the connection.
class FaultyRecordset : public Recordset {
 public:
  FaultyRecordset(std::unique_ptr<Recordset> target, FaultyConnection& conn)
      : target_(std::move(target)), conn_(conn) {}
  bool Eof() const override { return target_->Eof(); }
  int32_t RecordCount() const override { return target_->RecordCount(); }
  int FieldCount() const override { return target_->FieldCount(); }
  std::string FieldName(int index) const override {
    return target_->FieldName(index);
  }
  Variant Value(int index) const override { return target_->Value(index); }
  void MoveNext() override {
    conn_.Step();
    target_->MoveNext();
  }
  void SetPageSize(int32_t rows) override { target_->SetPageSize(rows); }
  void SetAbsolutePage(int32_t page) override {
    target_->SetAbsolutePage(page);
  }
  void Close() override { target_->Close(); }

 private:
  std::unique_ptr<Recordset> target_;
  FaultyConnection& conn_;
};

}  // namespace

void FaultyConnection::Step() {
  if (++operations_ == fail_at_) {
    Raise(ErrorCode::kDatabase,
          "injected failure of operation " + std::to_string(fail_at_));
  }
}

void FaultyConnection::Execute(std::string_view statement) {
  Step();
  target_->Execute(statement);
}

std::unique_ptr<Recordset> FaultyConnection::Open(std::string_view statement,
                                                  CursorType cursor) {
  Step();
  return std::make_unique<FaultyRecordset>(target_->Open(statement, cursor),
                                           *this);
}

void FaultyConnection::ExecuteWith(std::string_view statement,
                                   std::span<const Variant> values) {
  Step();
  target_->ExecuteWith(statement, values);
}

std::unique_ptr<Recordset> FaultyConnection::OpenWith(
    std::string_view statement, std::span<const Variant> values,
    CursorType cursor) {
  Step();
  return std::make_unique<FaultyRecordset>(
      target_->OpenWith(statement, values, cursor), *this);
}

void FaultyConnection::Begin() {
  Step();
  target_->Begin();
}

void FaultyConnection::Commit() {
  Step();
  target_->Commit();
}

}  // namespace wrenhaven
