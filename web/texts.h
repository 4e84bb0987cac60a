// The fixed texts of the office pages, in Chinese (the system's own
// language) and in English.
#ifndef WRENHAVEN_WEB_TEXTS_H_
#define WRENHAVEN_WEB_TEXTS_H_

#include "web/render.h"

namespace wrenhaven::web {

// The texts as template data, for "t" ({{t.sign_in}}).
const TemplateData& Texts(bool english);
// An object holding only "t": the texts, as the base layer of Render.
const TemplateData& TextsBase(bool english);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_TEXTS_H_
