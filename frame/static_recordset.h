// A static result set held in memory: the whole result read once, with an
// exact row count and paging. Drivers hand it out for static cursors.
#ifndef WRENHAVEN_FRAME_STATIC_RECORDSET_H_
#define WRENHAVEN_FRAME_STATIC_RECORDSET_H_

#include <string>
#include <vector>

#include "wrenhaven/connection.h"

namespace wrenhaven {

class StaticRecordset : public Recordset {
 public:
  // `cells` holds the rows one after another, names.size() cells a row.
  StaticRecordset(std::vector<std::string> names, std::vector<Variant> cells);

  bool Eof() const override;
  int32_t RecordCount() const override;
  int FieldCount() const override;
  std::string FieldName(int index) const override;
  Variant Value(int index) const override;
  void MoveNext() override;
  void SetPageSize(int32_t rows) override;
  void SetAbsolutePage(int32_t page) override;
  void Close() override;

 private:
  void CheckOpen() const;
  std::vector<std::string> names_;
  std::vector<Variant> cells_;
  size_t rows_ = 0;
  size_t current_ = 0;
  int32_t page_size_ = 10;
  bool closed_ = false;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_STATIC_RECORDSET_H_
