// percent!: a float! whose text is its value times 100 with a "%" sign (12.5% holds 0.125). Everything but
// its text is float!'s: arithmetic keeps percent! when it stands on the left, round counts in percent.
#include <cstring>

#include "float.h"
#include "registry.h"
#include "string.h"

namespace zol {

namespace {

int percent_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    const char* text = float_to_text(cell_float(value) * 100, FLOAT_TEXT_PERCENT);
    size_t n = std::strlen(text);
    string_append_ascii(out, text, n);
    return budget - int(n);
}

}  // namespace

void percent_init(DatatypeRegistry& registry) {
    Registration r(TYPE_PERCENT, true);
    r.own<ACT_FORM>(percent_form).own<ACT_MOLD>(percent_form);
    registry.register_datatype(r);
}

}  // namespace zol
