// How the web front's pages create the library's classes: by the class's
// programmatic identifier through the page, so that the host binds the
// object to the page (OnStartPage at once where the class has it,
// OnEndPage when the page ends), with the page's connection handed over.
//
//   auto login = Create<Login>(page);
//   login->GetAllData();
//
// The page owns the connection and the object lives as long as the caller
// holds it (at most the page). Raises the host's error for an identifier
// nobody registered or a failed OnStartPage, and kHost when the identifier
// gives another class than T.
#ifndef WRENHAVEN_WEB_CREATE_H_
#define WRENHAVEN_WEB_CREATE_H_

#include <memory>
#include <string>
#include <type_traits>

#include "wrenhaven/class_base.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_page.h"

namespace wrenhaven::web {

template <class T>
std::shared_ptr<T> Create(HttpPage& page) {
  static_assert(std::is_base_of_v<ClassBase, T>,
                "Create makes the library's classes only");
  const std::string& progid = T::Info().progid;
  auto object = std::dynamic_pointer_cast<T>(page.CreateObject(progid));
  if (!object) {
    Raise(ErrorCode::kHost, progid + " is not the class this page expects");
  }
  object->SetConn(page.connection());
  return object;
}

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_CREATE_H_
