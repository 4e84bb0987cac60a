// Components: the library's classes as pages reach them, by programmatic
// identifier ("Wrenhaven.Login") and late-bound method calls by name or by
// interface slot. The typed C++ methods of each class are the early-bound
// face of the same objects; both faces share one method table per class.
#ifndef WRENHAVEN_COMPONENT_H_
#define WRENHAVEN_COMPONENT_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven {

class Component;

enum class Passing { kByVal, kByRef };

struct ParamInfo {
  std::string name;
  Passing passing;
};

// One method of a class's interface. `invoke` converts the arguments to the
// typed method's parameters (raising the conversion's error) and returns
// its result as a Variant (Empty for methods without a result).
struct MethodInfo {
  std::string name;
  std::vector<ParamInfo> params;
  bool has_result;
  std::function<Variant(Component&, std::vector<Variant>&)> invoke;
};

struct ClassInfo {
  std::string progid;               // "Wrenhaven.Login"
  std::string interface_name;       // "_Login"
  std::vector<MethodInfo> methods;  // in slot order; slot 1 is methods[0]
  std::function<std::shared_ptr<Component>()> create;
};

class Component : public Object {
 public:
  virtual const ClassInfo& class_info() const = 0;

  // Late-bound calls. Names ignore letter case; slots count from 1. An
  // unknown name or slot, or a wrong number of arguments, raises an error.
  // Arguments passed by reference are read, never changed.
  Variant Invoke(std::string_view method, std::vector<Variant>& args);
  Variant InvokeSlot(int slot, std::vector<Variant>& args);
  // nullptr when the interface has no such method.
  const MethodInfo* FindMethod(std::string_view name) const;
};

// The programmatic identifiers known to the library. Classes add
// themselves when the library is loaded.
class Registry {
 public:
  static Registry& Default();
  void Add(const ClassInfo& info);
  // Raises an error for an identifier nobody registered. Letter case of the
  // identifier is ignored.
  std::shared_ptr<Component> Create(std::string_view progid) const;
  const ClassInfo* Find(std::string_view progid) const;
  std::vector<std::string> ProgIds() const;

 private:
  std::vector<const ClassInfo*> classes_;
};

inline std::shared_ptr<Component> CreateObject(std::string_view progid) {
  return Registry::Default().Create(progid);
}

}  // namespace wrenhaven

#endif  // WRENHAVEN_COMPONENT_H_
