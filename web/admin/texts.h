// The fixed texts of the administration pages, in Chinese (the system's
// own language) and in English.
#ifndef WRENHAVEN_WEB_ADMIN_TEXTS_H_
#define WRENHAVEN_WEB_ADMIN_TEXTS_H_

#include <string>

#include "web/render.h"

namespace wrenhaven::web {

// The texts as template data, for "a" ({{a.add}}).
const TemplateData& AdminTexts(bool english);

// One text; raises kHost for a key that has none (a fault of the page).
std::string AdminText(bool english, const char* key);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_TEXTS_H_
