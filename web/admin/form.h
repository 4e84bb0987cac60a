// The edit forms of the administration pages: fields as the template
// "admin/form" draws them, filled from a record or from what the visitor
// typed.
#ifndef WRENHAVEN_WEB_ADMIN_FORM_H_
#define WRENHAVEN_WEB_ADMIN_FORM_H_

#include <string>
#include <vector>

#include "web/render.h"

namespace wrenhaven::web {

struct FormOption {
  std::string value;
  std::string label;
};

struct FormField {
  std::string name;  // the form item, and the column it fills
  std::string label;
  std::string value;  // as shown (and as typed, after a failure)
  // A choice of these when not empty; otherwise a line of text.
  std::vector<FormOption> options;
  bool wide = false;  // a longer text
};

// The fields as template data for "fields". A select whose value is none
// of its options gets that value added, so nothing the visitor chose is
// lost.
TemplateData FormFields(const std::vector<FormField>& fields);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_FORM_H_
