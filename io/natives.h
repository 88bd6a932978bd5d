// The natives whose work lies in the io layer (natives.def marks them IO_ENTRY): their entries, and the
// start-up step that installs them in the interpreter's natives table, which cannot name them itself.
#pragma once
#include <cstdint>

namespace zol::io {

#define ENTRY(name)
#define IO_ENTRY(name) uint32_t native_##name(const int32_t* refs);
#define NOT_BUILT
#define ZOL_NATIVE(name, word, entry) entry
#include "interpreter/natives.def"
#undef ZOL_NATIVE
#undef ENTRY
#undef IO_ENTRY
#undef NOT_BUILT

// Start-up, after the natives table: makes the method words of checksum, compress and decompress, starts
// the file services and the HTTP client of url!, and installs the io natives.
void io_natives_init();

}  // namespace zol::io
