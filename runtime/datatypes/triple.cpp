// triple!: three signed 32-bit integers in words 1 to 3. The datatype exists so that such cells print; no
// action makes, converts, compares or changes one.
#include <cstring>

#include "integer.h"
#include "registry.h"
#include "string.h"

namespace zol {

namespace {

int triple_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    string_append_ascii(out, "make triple! [");
    int written = 15;
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    for (int i = 0; i < 3; i++) {
        if (i > 0) string_append_ascii(out, " ", 1);
        const char* text = integer_to_decimal(int32_t(words[i]));
        size_t n = std::strlen(text);
        string_append_ascii(out, text, n);
        written += int(n) + (i > 0);
    }
    string_append_ascii(out, "]", 1);
    return budget - written;
}

}  // namespace

void triple_init(DatatypeRegistry& registry) {
    Registration r(TYPE_TRIPLE);
    r.own<ACT_FORM>(triple_form).own<ACT_MOLD>(triple_form);
    registry.register_datatype(r);
}

}  // namespace zol
