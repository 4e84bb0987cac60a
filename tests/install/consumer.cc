// A program outside the project that uses the installed library.
#include <wrenhaven/component.h>
#include <wrenhaven/schema.h>
#include <wrenhaven/sqlite.h>

#include <iostream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto conn = wrenhaven::OpenSqlite(argv[1]);
  wrenhaven::CreateSchema(*conn);
  wrenhaven::LoadDemoData(*conn);
  auto menu = wrenhaven::CreateObject("Wrenhaven.Menu");
  std::vector<wrenhaven::Variant> args = {wrenhaven::Variant::FromObject(conn)};
  menu->Invoke("SetConn", args);
  std::vector<wrenhaven::Variant> id = {wrenhaven::Variant::Long(1)};
  std::cout << menu->Invoke("GetData", id).array().Dump() << "\n";
  return 0;
}
