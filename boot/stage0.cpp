// The stage-0 program: the runtime without a boot image, which writes the image from the built-in scripts.
// It evaluates nothing. The image holds "set" records that give every datatype word its datatype and every
// native and action word but make its value (made from the `word: make native! [spec index]` statements of
// the scripts, which the image then leaves out), and each script's code as one root value, words unbound.
//   zol_stage0 <image file> <source root> <script>...   (a script's path is relative to the root unless absolute)
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "boot/boot_image.h"
#include "boot/startup.h"
#include "interpreter/load.h"
#include "io/zolbin/zolbin.h"
#include "platform/platform.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace zol {

const uint8_t* const g_boot_image = nullptr;
const size_t g_boot_image_size = 0;
const char* const g_boot_scripts[] = {nullptr};
const size_t g_boot_script_count = 0;

namespace {

struct Job {
    int argc;
    char** argv;
    int status;
};

// Whether the cells from i are a statement `word: make native! [...]` (or action!), and which.
bool native_statement(const Cell* c, uint32_t i, uint32_t n, uint32_t make_symbol, TypeId* type) {
    if (i + 4 > n || !cell_is(&c[i], TYPE_SET_WORD) || !cell_is(&c[i + 1], TYPE_WORD) || !cell_is(&c[i + 2], TYPE_WORD) ||
        !cell_is(&c[i + 3], TYPE_BLOCK) || symbol_resolve(word_symbol(&c[i + 1])) != make_symbol) {
        return false;
    }
    uint32_t kind = symbol_resolve(word_symbol(&c[i + 2]));
    for (TypeId t : {TYPE_NATIVE, TYPE_ACTION}) {
        if (kind != symbol_resolve(word_symbol(&g_types.row(t).word))) continue;
        *type = t;
        return true;
    }
    return false;
}

void write_image(BootImageWriter& image, const std::string& root, const std::vector<std::string>& scripts) {
    // Every datatype's word.
    for (uint32_t t = 1; t <= g_types.highest(); t++) {
        if (!g_types.registered(t)) continue;
        Cell type;
        set_datatype(&type, t);
        image.add_set(word_symbol(&g_types.row(t).word), &type);
    }
    uint32_t make_symbol = symbol_resolve(symbol_make("make"));
    GcRoot codes;
    block_make_at(codes.get(), int64_t(scripts.size()));
    for (const std::string& script : scripts) {
        std::string text;
        std::string path = script[0] == '/' ? script : root + "/" + script;
        if (!platform::read_whole_file(path, &text)) {
            std::fprintf(stderr, "zol_stage0: cannot read %s\n", script.c_str());
            runtime_exit(1);
        }
        GcRoot loaded, code;
        load_script(reinterpret_cast<const uint8_t*>(text.data()), text.size(), loaded.get(), nullptr);
        // The code from its head, less the statements that make natives and actions: those become "set"
        // records, which need no evaluation.
        block_make_at(code.get(), block_rs_length(loaded.get()));
        for (uint32_t i = series_index(loaded.get()); i < cell_series(loaded.get())->used();) {
            const Cell* c = cell_series(loaded.get())->cells();
            uint32_t n = cell_series(loaded.get())->used();
            TypeId type;
            if (native_statement(c, i, n, make_symbol, &type)) {
                GcRoot spec(c[i + 3]);
                const Cell* parts = cell_series(spec.get())->cells() + series_index(spec.get());
                uint32_t count = block_rs_length(spec.get());
                int32_t limit = type == TYPE_NATIVE ? int32_t(g_native_count) : int32_t(ACTION_COUNT);
                if (count != 2 || !cell_is(&parts[0], TYPE_BLOCK) || !cell_is(&parts[1], TYPE_INTEGER) ||
                    cell_int(&parts[1]) < 1 || cell_int(&parts[1]) > limit) {
                    std::fprintf(stderr, "zol_stage0: %s: a malformed make %s statement\n", script.c_str(),
                                 type == TYPE_NATIVE ? "native!" : "action!");
                    runtime_exit(1);
                }
                if (type == TYPE_ACTION && cell_int(&parts[1]) == int32_t(ACT_MAKE)) {
                    // make is the one action the scripts make as they run: start-up gives it a bare spec
                    // first (its spec's typesets are made with it), and the script then gives it its own.
                    for (uint32_t k = 0; k < 4; k++) *block_alloc_tail(code.get()) = cell_series(loaded.get())->cells()[i + k];
                    i += 4;
                    continue;
                }
                uint32_t symbol = word_symbol(&c[i]);
                GcRoot value(*native_make(&parts[0], uint32_t(cell_int(&parts[1])), type));
                stack_reset();
                image.add_set(symbol, value.get());
                i += 4;
                continue;
            }
            *block_alloc_tail(code.get()) = c[i];
            i++;
        }
        *block_alloc_tail(codes.get()) = *code;
    }
    for (uint32_t i = 0; i < block_rs_length(codes.get()); i++) {
        Cell code = cell_series(codes.get())->cells()[i];
        image.add_root(&code);
    }
}

void stage0(void* raw) {
    auto* job = static_cast<Job*>(raw);
    if (job->argc < 3) {
        std::fputs("usage: zol_stage0 <image file> <source root> <script>...\n", stderr);
        job->status = 2;
        return;
    }
    runtime_start(job->argc, job->argv);
    std::vector<std::string> scripts(job->argv + 3, job->argv + job->argc);
    std::vector<uint8_t> bytes;
    try {
        BootImageWriter image;
        write_image(image, job->argv[2], scripts);
        bytes = image.finish();
    } catch (const ErrorUnwind&) {
        runtime_error(95, 0);
    }
    std::string path = job->argv[1];
    std::ofstream out(path + ".tmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out || std::rename((path + ".tmp").c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "zol_stage0: cannot write %s\n", path.c_str());
        job->status = 1;
        return;
    }
    job->status = 0;
}

}  // namespace

}  // namespace zol

int main(int argc, char** argv) {
    zol::Job job{argc, argv, 1};
    zol::platform::run_with_stack(zol::INTERPRETER_STACK_BYTES, zol::stage0, &job);
    return job.status;
}
