#include "web/admin/branch.h"

#include <algorithm>
#include <utility>

#include "web/admin/view.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

// SYS_Menu's third column.
constexpr int32_t kParentColumn = 2;

// The deepest the walk up from a menu to its first-level menu goes.
constexpr int kDeepestBranch = 64;

// The rows of a titled listing (Menu.GetAllData, Menu.GetChildren), their
// levels `below` further down than the listing gives them.
void AppendTitled(std::vector<ShownMenu>& out, const VariantArray& titled,
                  int below) {
  for (const TreeRow& t : MenuTreeRows(titled)) {
    ShownMenu m;
    m.id = t.id;
    m.level = t.level + below;
    for (int32_t c = 0; c <= titled.UBound(2); ++c) {
      m.cells.push_back(titled(t.row, c));
    }
    out.push_back(std::move(m));
  }
}

}  // namespace

std::optional<int32_t> TopOfBranch(Menu& menu, int32_t id) {
  VariantArray record = menu.GetData(id);
  if (record.undimensioned()) return std::nullopt;
  int32_t at = id;
  for (int step = 0; step < kDeepestBranch; ++step) {
    const Variant parent = record(kParentColumn);
    if (parent.ToText().empty()) return at;
    record = menu.GetData(parent.ToLong());
    if (record.undimensioned()) return at;
    at = parent.ToLong();
  }
  return std::nullopt;
}

std::optional<int32_t> BranchAsked(Menu& menu, const std::string& text) {
  if (text.empty()) return 0;
  const auto n = ParseId(text);
  if (!n || *n < 1 || menu.GetData(*n).undimensioned()) return std::nullopt;
  return *n;
}

BranchView ReadBranch(Menu& menu, int32_t branch) {
  BranchView view;
  try {
    AppendTitled(view.rows, menu.GetChildren(0), 0);
  } catch (const Error& e) {
    view.error = e.description();
    return view;
  }
  for (ShownMenu& m : view.rows) m.top = true;
  if (branch == 0) return view;
  const int32_t root = TopOfBranch(menu, branch).value_or(branch);
  std::vector<ShownMenu> below;
  try {
    AppendTitled(below, menu.GetAllData(root), 1);
  } catch (const Error& e) {
    view.error = e.description();
    return view;
  }
  auto at = std::find_if(view.rows.begin(), view.rows.end(),
                         [root](const ShownMenu& m) { return m.id == root; });
  if (at == view.rows.end()) {
    const VariantArray record = menu.GetData(root);
    if (record.undimensioned()) return view;
    ShownMenu m;
    m.id = root;
    for (int32_t c = 0; c <= record.UBound(1); ++c) {
      m.cells.push_back(record(c));
    }
    view.rows.push_back(std::move(m));
    at = view.rows.end() - 1;
  }
  at->open = true;
  view.rows.insert(at + 1, below.begin(), below.end());
  return view;
}

}  // namespace wrenhaven::web
