// How the PostgreSQL driver turns a field, as the server sends it in text
// form, into a Variant of the same kind the embedded database gives.
#ifndef WRENHAVEN_DB_POSTGRES_POSTGRES_VALUE_H_
#define WRENHAVEN_DB_POSTGRES_POSTGRES_VALUE_H_

#include <string_view>

#include "wrenhaven/variant.h"

namespace wrenhaven {

// Type identifiers of the built-in types the driver reads specially.
namespace pgtype {
inline constexpr unsigned kBool = 16;
inline constexpr unsigned kInt8 = 20;
inline constexpr unsigned kInt2 = 21;
inline constexpr unsigned kInt4 = 23;
inline constexpr unsigned kOid = 26;
inline constexpr unsigned kFloat4 = 700;
inline constexpr unsigned kFloat8 = 701;
inline constexpr unsigned kDate = 1082;
inline constexpr unsigned kTime = 1083;
inline constexpr unsigned kTimestamp = 1114;
inline constexpr unsigned kTimestampTz = 1184;
inline constexpr unsigned kNumeric = 1700;
}  // namespace pgtype

// The value of a non-null field of type `type` whose text form (the server
// sends dates in ISO style) is `text`:
//   int2, int4, int8, oid   Long, or Double beyond 32 bits
//   float4, float8, numeric Double
//   bool                    Boolean
//   timestamp, timestamptz, date, time
//                           Date (the zone of timestamptz is dropped: the
//                           wall-clock time as the server's session shows it);
//                           a value with no such date (infinity, BC) stays text
//   anything else           String, the text as sent
Variant PostgresValue(unsigned type, std::string_view text);

}  // namespace wrenhaven

#endif  // WRENHAVEN_DB_POSTGRES_POSTGRES_VALUE_H_
