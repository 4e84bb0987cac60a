// Setting up an office database: the eight tables the classes use, their
// indexes, and a small demo office.
#ifndef WRENHAVEN_SCHEMA_H_
#define WRENHAVEN_SCHEMA_H_

#include "wrenhaven/connection.h"

namespace wrenhaven {

// Creates the tables and indexes that do not exist yet, for the database
// behind `conn` (chosen by its dialect). Raises for a database it has no
// definitions for.
void CreateSchema(Connection& conn);

// Fills the tables with the demo office: departments, people with roles,
// functions, a two-level menu tree and its rights. REQUIRES: empty tables.
void LoadDemoData(Connection& conn);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SCHEMA_H_
