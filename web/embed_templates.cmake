# Writes the page templates into a C++ source file, so that the command
# carries its templates with it: cmake -DOUT=file.cc -DFILES="a|b" -P this.
# Each entry is NAME=PATH: the template's name (web/templates/office.mustache
# is "office", web/admin/templates/head.mustache "admin/head") and its file.
string(REPLACE "|" ";" entries "${FILES}")
set(body "")
foreach(entry ${entries})
  string(FIND "${entry}" "=" eq)
  string(SUBSTRING "${entry}" 0 ${eq} name)
  math(EXPR from "${eq} + 1")
  string(SUBSTRING "${entry}" ${from} -1 file)
  file(READ "${file}" text)
  string(APPEND body "    {\"${name}\", R\"wh_template(${text})wh_template\"},\n")
endforeach()
file(WRITE "${OUT}.tmp"
"// Generated from web/templates/*.mustache and web/admin/templates/*.mustache;\n"
"// edit those instead.\n"
"#include \"web/render.h\"\n\n"
"namespace wrenhaven::web {\n\n"
"const std::vector<std::pair<std::string_view, std::string_view>>& TemplateSources() {\n"
"  static const std::vector<std::pair<std::string_view, std::string_view>> kSources = {\n"
"${body}"
"  };\n"
"  return kSources;\n"
"}\n\n"
"}  // namespace wrenhaven::web\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
