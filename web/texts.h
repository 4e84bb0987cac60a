// The fixed texts of the office pages, in Chinese (the system's own
// language) and in English.
#ifndef WRENHAVEN_WEB_TEXTS_H_
#define WRENHAVEN_WEB_TEXTS_H_

#include <span>

#include "web/render.h"

namespace wrenhaven::web {

// One fixed page text in both languages.
struct PageText {
  const char* key;
  const char* chinese;
  const char* english;
};

// A table of page texts as template data in the visitor's language.
TemplateData TextTable(std::span<const PageText> texts, bool english);

// The texts as template data, for "t" ({{t.sign_in}}).
const TemplateData& Texts(bool english);
// An object holding only "t": the texts, as the base layer of Render.
const TemplateData& TextsBase(bool english);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_TEXTS_H_
