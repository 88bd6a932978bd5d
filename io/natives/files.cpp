// size?: the size of a file, as an integer!, or a float! once it passes the integer range.
#include "interpreter/natives/natives.h"
#include "io/files.h"
#include "io/natives.h"

namespace zol::io {

uint32_t native_size_q(const int32_t*) {
    int64_t size = file_size_of(natives::arg(0));
    Cell* result = g_args.base;
    if (size < 0) {
        set_none(result);
    } else if (size <= 0x7FFFFFFF) {
        set_integer(result, int32_t(size));
    } else {
        set_float(result, double(size));
    }
    stack_keep_result();
    return 0;
}

}  // namespace zol::io
