// Wrenhaven.RoleRight: holds a connection and reports errors.
#ifndef WRENHAVEN_ROLE_RIGHT_H_
#define WRENHAVEN_ROLE_RIGHT_H_

#include <memory>
#include <string>

#include "wrenhaven/component.h"
#include "wrenhaven/connection.h"

namespace wrenhaven {

class RoleRight : public Component {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 1. Keeps `conn` (nullptr empties the member); does nothing with it.
  void SetConn(std::shared_ptr<Connection> conn);
  // Slot 2. The description of the most recent failure on this thread.
  std::string GetError();

 private:
  std::shared_ptr<Connection> conn_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_ROLE_RIGHT_H_
