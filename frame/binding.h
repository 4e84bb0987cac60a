// Builds a class's method table from its typed member functions, so the
// late-bound face is declared once, next to the class, in slot order:
//
//   Method("GetData", &Menu::GetData, {ByVal("ID")})
//
// The invoker converts each argument Variant to the typed parameter with
// the page languages' rules (int32_t: ToLong, Variant: as it is, objects:
// the referenced object of the right interface) and wraps the result.
#ifndef WRENHAVEN_FRAME_BINDING_H_
#define WRENHAVEN_FRAME_BINDING_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

inline ParamInfo ByVal(std::string name) { return {std::move(name), Passing::kByVal}; }
inline ParamInfo ByRef(std::string name) { return {std::move(name), Passing::kByRef}; }

namespace binding {

template <class T>
struct Arg;

template <>
struct Arg<int32_t> {
  static int32_t From(const Variant& v) { return v.ToLong(); }
};
template <>
struct Arg<int16_t> {
  static int16_t From(const Variant& v) { return v.ToInteger(); }
};
template <>
struct Arg<Variant> {
  static const Variant& From(const Variant& v) { return v; }
};
template <class T>
struct Arg<std::shared_ptr<T>> {
  static std::shared_ptr<T> From(const Variant& v) {
    if (v.is_empty()) return nullptr;
    if (v.kind() != Kind::kObject) {
      Raise(ErrorCode::kObjectRequired, "Object required");
    }
    if (!v.object()) return nullptr;  // Nothing
    auto typed = std::dynamic_pointer_cast<T>(v.object());
    if (!typed) Raise(ErrorCode::kTypeMismatch, "Type mismatch: wrong kind of object");
    return typed;
  }
};

template <class R>
Variant Result(R&& r) {
  using T = std::decay_t<R>;
  if constexpr (std::is_same_v<T, Variant>) {
    return std::forward<R>(r);
  } else if constexpr (std::is_same_v<T, bool>) {
    return Variant::Boolean(r);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return Variant::String(std::forward<R>(r));
  } else if constexpr (std::is_same_v<T, VariantArray>) {
    return Variant::Array(std::forward<R>(r));
  } else {
    static_assert(std::is_same_v<T, void>, "unsupported result type");
  }
}

template <class C, class R, class... A, size_t... I>
Variant Call(C& self, R (C::*fn)(A...), std::vector<Variant>& args,
             std::index_sequence<I...>) {
  if constexpr (std::is_void_v<R>) {
    (self.*fn)(Arg<std::decay_t<A>>::From(args[I])...);
    return Variant();
  } else {
    return Result((self.*fn)(Arg<std::decay_t<A>>::From(args[I])...));
  }
}

}  // namespace binding

// One table entry. `params` must name as many parameters as `fn` takes.
template <class C, class R, class... A>
MethodInfo Method(std::string name, R (C::*fn)(A...),
                  std::vector<ParamInfo> params = {}) {
  MethodInfo info;
  info.name = std::move(name);
  info.params = std::move(params);
  if (info.params.size() != sizeof...(A)) {
    throw std::logic_error("method table of " + info.name +
                           " names the wrong number of parameters");
  }
  info.has_result = !std::is_void_v<R>;
  info.invoke = [fn](Component& self, std::vector<Variant>& args) {
    return binding::Call(static_cast<C&>(self), fn, args,
                         std::index_sequence_for<A...>{});
  };
  return info;
}

// Adds a class to the default registry when the library loads:
//   const bool kRegistered = RegisterClass(Menu::Info());
bool RegisterClass(const ClassInfo& info);

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_BINDING_H_
