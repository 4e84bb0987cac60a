// The attendance CSV of the administration pages: titles and names from
// the input (split at 0x1F: three titles, then department and person names
// in pairs), read back with a strict CSV reader.
#include <string>
#include <vector>

#include "fuzz/checks.h"
#include "web/admin/view.h"

namespace wrenhaven::fuzz {
namespace {

using Row = std::vector<std::string>;

// RFC 4180: fields split by ",", rows ended by CRLF, a field in double
// quotes may hold anything with its quotes doubled. "" and the rows read
// when well-formed; otherwise a description of the fault.
std::string ReadCsv(std::string_view text, std::vector<Row>* rows) {
  size_t i = 0;
  Row row;
  std::string field;
  while (i < text.size()) {
    if (text[i] == '"') {
      if (!field.empty()) return "a quote inside an unquoted field";
      ++i;
      while (true) {
        if (i >= text.size()) return "a quoted field that never ends";
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
      if (i < text.size() && text[i] != ',' && text[i] != '\r') {
        return "text after a quoted field";
      }
      continue;
    }
    if (text[i] == ',') {
      row.push_back(std::move(field));
      field.clear();
      ++i;
      continue;
    }
    if (text[i] == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') {
        return "a carriage return that ends no row";
      }
      row.push_back(std::move(field));
      field.clear();
      rows->push_back(std::move(row));
      row.clear();
      i += 2;
      continue;
    }
    if (text[i] == '\n') return "a line feed outside quotes";
    field += text[i++];
  }
  if (!row.empty() || !field.empty()) return "a last row without CRLF";
  return "";
}

// What a cell holds once read: a text a spreadsheet would take for a
// formula (or one that starts with a tab or carriage return before it)
// gets its leading apostrophe.
std::string AsCell(const std::string& text) {
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' ||
                        text[0] == '@' || text[0] == '\t' || text[0] == '\r')) {
    return "'" + text;
  }
  return text;
}

std::string Visible(const Row& row) {
  std::string out = "[";
  for (const std::string& cell : row) {
    if (out.size() > 1) out += "|";
    for (const char c : cell) {
      out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    }
  }
  return out + "]";
}

}  // namespace

std::string CheckCsv(std::string_view input) {
  std::vector<std::string> fields = SplitFields(input, 64);
  fields.resize(std::max<size_t>(fields.size(), 3));
  constexpr int kDays = 3;
  static const char* const kTimes[] = {"", "08:59", "09:01", "23:59"};

  std::vector<web::AttendanceDepartment> grid;
  std::vector<Row> expected = {
      {AsCell(fields[0]), AsCell(fields[1]), "1", "2", "3", AsCell(fields[2])}};
  for (size_t i = 3; i < fields.size(); i += 2) {
    web::AttendancePerson person;
    person.id = std::to_string(i);
    person.name = i + 1 < fields.size() ? fields[i + 1] : "";
    Row row = {AsCell(fields[i]), AsCell(person.name)};
    int late = 0;
    for (int d = 0; d < kDays; ++d) {
      const char* time = kTimes[(i + static_cast<size_t>(d)) % 4];
      person.times.emplace_back(time);
      person.counts.push_back(time[0] ? 1 : 0);
      row.emplace_back(time);
      if (web::IsLate(time, "09:00")) ++late;
    }
    row.push_back(std::to_string(late));
    expected.push_back(std::move(row));
    grid.push_back({std::to_string(i), fields[i], {std::move(person)}});
  }

  const std::string csv =
      web::AttendanceCsv(grid, kDays, "09:00", fields[0], fields[1], fields[2]);
  if (!csv.starts_with("\xEF\xBB\xBF")) return "the CSV has no byte-order mark";
  std::vector<Row> rows;
  if (std::string fault = ReadCsv(std::string_view(csv).substr(3), &rows);
      !fault.empty()) {
    return "the CSV does not read: " + fault;
  }
  if (rows.size() != expected.size()) {
    return "the CSV reads as " + std::to_string(rows.size()) + " rows, not " +
           std::to_string(expected.size());
  }
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r] != expected[r]) {
      return "row " + std::to_string(r) + " reads as " + Visible(rows[r]) +
             " where " + Visible(expected[r]) + " went in";
    }
    for (const std::string& cell : rows[r]) {
      if (!cell.empty() &&
          (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' ||
           cell[0] == '@' || cell[0] == '\t' || cell[0] == '\r')) {
        return "row " + std::to_string(r) + " holds a formula";
      }
    }
  }
  return "";
}

}  // namespace wrenhaven::fuzz
