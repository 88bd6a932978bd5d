// Installs the io layer's natives in the natives table.
#include "io/natives.h"

#include "interpreter/eval.h"
#include "io/files.h"
#include "io/http.h"
#include "io/natives/codecs.h"

namespace zol::io {

void io_natives_init() {
    codec_words_init();
    io_files_init();
    io_http_init();
#define ENTRY(name) nullptr
#define IO_ENTRY(name) native_##name
#define NOT_BUILT nullptr
#define ZOL_NATIVE(name, word, entry) \
    if (NativeEntry e = entry) g_natives[NAT_##name - 1] = e;
#include "interpreter/natives.def"
#undef ZOL_NATIVE
#undef ENTRY
#undef IO_ENTRY
#undef NOT_BUILT
}

}  // namespace zol::io
