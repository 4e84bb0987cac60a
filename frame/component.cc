#include "wrenhaven/component.h"

#include <algorithm>
#include <string>

#include "frame/binding.h"
#include "frame/text.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

Variant Run(Component& self, const MethodInfo& m, std::vector<Variant>& args) {
  if (args.size() != m.params.size()) {
    Raise(ErrorCode::kInvalidArgument,
          "Wrong number of arguments: " + self.class_info().progid + "." +
              m.name + " takes " + std::to_string(m.params.size()) +
              ", given " + std::to_string(args.size()));
  }
  return m.invoke(self, args);
}

}  // namespace

const MethodInfo* Component::FindMethod(std::string_view name) const {
  for (const MethodInfo& m : class_info().methods) {
    if (EqualsIgnoreCase(m.name, name)) return &m;
  }
  return nullptr;
}

Variant Component::Invoke(std::string_view method, std::vector<Variant>& args) {
  const MethodInfo* m = FindMethod(method);
  if (!m) {
    Raise(ErrorCode::kInvalidArgument,
          "Object doesn't support this property or method: " +
              class_info().progid + "." + std::string(method));
  }
  return Run(*this, *m, args);
}

Variant Component::InvokeSlot(int slot, std::vector<Variant>& args) {
  const auto& methods = class_info().methods;
  if (slot < 1 || slot > static_cast<int>(methods.size())) {
    Raise(ErrorCode::kInvalidArgument,
          class_info().interface_name + " has no slot " + std::to_string(slot));
  }
  return Run(*this, methods[static_cast<size_t>(slot - 1)], args);
}

Registry& Registry::Default() {
  static Registry* registry = new Registry();
  return *registry;
}

void Registry::Add(const ClassInfo& info) {
  auto it = std::find_if(classes_.begin(), classes_.end(), [&](const ClassInfo* c) {
    return EqualsIgnoreCase(c->progid, info.progid);
  });
  if (it != classes_.end()) {
    *it = &info;
  } else {
    classes_.push_back(&info);
  }
}

const ClassInfo* Registry::Find(std::string_view progid) const {
  for (const ClassInfo* c : classes_) {
    if (EqualsIgnoreCase(c->progid, progid)) return c;
  }
  return nullptr;
}

std::shared_ptr<Component> Registry::Create(std::string_view progid) const {
  const ClassInfo* c = Find(progid);
  if (!c) {
    Raise(ErrorCode::kInvalidArgument,
          "ActiveX component can't create object: no class is registered as " +
              std::string(progid));
  }
  return c->create();
}

std::vector<std::string> Registry::ProgIds() const {
  std::vector<std::string> ids;
  for (const ClassInfo* c : classes_) ids.push_back(c->progid);
  return ids;
}

bool RegisterClass(const ClassInfo& info) {
  Registry::Default().Add(info);
  return true;
}

}  // namespace wrenhaven
