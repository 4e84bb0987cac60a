// Setting up an office database: the eight tables the classes use, their
// indexes, the page host's own tables (sessions, the rights version), and
// a small demo office.
//
// SYS_Version holds one row, Name 'rights', whose Version the database
// counts up in the same transaction as every change of SYS_Role,
// SYS_PersonRole, SYS_Menu, SYS_Function or SYS_right (triggers do it, so
// changes made outside the library count too).
#ifndef WRENHAVEN_SCHEMA_H_
#define WRENHAVEN_SCHEMA_H_

#include <cstdint>

#include "wrenhaven/connection.h"

namespace wrenhaven {

// Creates the tables and indexes that do not exist yet, for the database
// behind `conn` (chosen by its dialect). Raises for a database it has no
// definitions for.
void CreateSchema(Connection& conn);

// Fills the tables with the demo office: departments, people with roles,
// functions, a two-level menu tree and its rights, in one transaction.
// The demo people's passwords (public: see the README) are stored hashed
// with the current sign-in policy's cost. REQUIRES: empty tables.
void LoadDemoData(Connection& conn);

// The database's rights version (SYS_Version 'rights'): what a page host
// compares to learn that menus, functions, grants or roles changed since
// it last looked. One statement. Raises kDatabase when the row is missing.
int64_t RightsVersion(Connection& conn);

// True when some demo account still has its public password, so the
// office must not be offered beyond this machine.
bool HoldsDemoPasswords(Connection& conn);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SCHEMA_H_
