// The check value of a run of table bytes: CRC-32C (the Castagnoli
// polynomial, reflected, as iSCSI and ext4 use it). Computed with the
// processor's CRC instruction where the processor has one (found at run
// time), else from a table; both give the same value.
#ifndef QUIRE_TABLE_CHECK_VALUE_H_
#define QUIRE_TABLE_CHECK_VALUE_H_

#include <cstddef>
#include <cstdint>

namespace quire::table {

// The check value of size bytes at data continued from check, the value of
// the bytes before them (0 for none): extend(extend(0, a), b) equals the
// value of a followed by b.
uint32_t extend_check(uint32_t check, const void* data, size_t size);

// extend_check from the table alone, whatever the processor has.
uint32_t extend_check_by_table(uint32_t check, const void* data, size_t size);

}  // namespace quire::table

#endif  // QUIRE_TABLE_CHECK_VALUE_H_
