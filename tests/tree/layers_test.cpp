// The layers run one way: a file may include its own layer and the layers below it, never one above.
//   platform < runtime (the floor) < values < interpreter < io, library < gui < console < boot
// The floor is runtime/ itself; runtime/datatypes/ and runtime/values/ are the values layer above it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Layer {
    const char* prefix;
    int rank;
};

// Longest prefix first.
const Layer kLayers[] = {
    {"runtime/datatypes/", 2}, {"runtime/values/", 2}, {"platform/", 0},    {"runtime/", 1},
    {"interpreter/", 3},       {"io/", 4},             {"library/", 4},     {"gui/", 5},
    {"console/", 6},           {"boot/", 7},
};

// The rank of a path relative to the source root, or -1 outside every layer.
int rank_of(const std::string& path) {
    for (const Layer& l : kLayers) {
        if (path.rfind(l.prefix, 0) == 0) return l.rank;
    }
    return -1;
}

// What an include names, relative to the source root: a path from the root when it starts with a layer's
// folder, else a path beside the including file.
std::string resolve(const std::string& file, const std::string& included) {
    if (rank_of(included) >= 0) return included;
    return (fs::path(file).parent_path() / included).lexically_normal().generic_string();
}

struct Violation {
    std::string file, included;
};

std::vector<Violation> upward_includes(const std::string& file, const std::vector<std::string>& includes) {
    std::vector<Violation> found;
    int own = rank_of(file);
    for (const std::string& inc : includes) {
        int rank = rank_of(resolve(file, inc));
        if (rank > own) found.push_back({file, inc});
    }
    return found;
}

std::vector<std::string> includes_of(const fs::path& path) {
    static const std::regex include_line(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> found;
    std::ifstream in(path);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, include_line)) found.push_back(m[1]);
    }
    return found;
}

TEST(Layers, TheCheckSeesAnIncludeThatRunsUp) {
    // The check itself, on made-up files: it must tell up from down and read relative includes.
    EXPECT_EQ(upward_includes("runtime/gc.cpp", {"runtime/datatypes/block.h"}).size(), 1u);
    EXPECT_EQ(upward_includes("runtime/datatypes/block.cpp", {"interpreter/eval.h"}).size(), 1u);
    EXPECT_EQ(upward_includes("runtime/datatypes/block.cpp", {"../../interpreter/eval.h"}).size(), 1u);
    EXPECT_EQ(upward_includes("runtime/stack.cpp", {"values/backtrace.h"}).size(), 1u);
    EXPECT_TRUE(upward_includes("runtime/datatypes/block.cpp", {"series.h", "runtime/gc.h", "platform/platform.h"}).empty());
    EXPECT_TRUE(upward_includes("io/codecs/deflate.cpp", {"library/x.h", "interpreter/eval.h"}).empty());
    EXPECT_TRUE(upward_includes("boot/main.cpp", {"console/cli.h"}).empty());
}

TEST(Layers, NoSourceIncludesALayerAboveItsOwn) {
    const fs::path root = ZOL_SOURCE_DIR;
    std::vector<Violation> all;
    size_t files = 0;
    for (const Layer& layer : kLayers) {
        fs::path dir = root / layer.prefix;
        if (!fs::exists(dir)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h" && ext != ".def" && ext != ".inc") continue;
            std::string rel = fs::relative(entry.path(), root).generic_string();
            if (rank_of(rel) != layer.rank) continue;  // visited under its own, longer prefix
            files++;
            for (Violation& v : upward_includes(rel, includes_of(entry.path()))) all.push_back(std::move(v));
        }
    }
    EXPECT_GT(files, 100u) << "the source tree was not found at " << root;
    for (const Violation& v : all) ADD_FAILURE() << v.file << " includes " << v.included << ", a layer above its own";
}

}  // namespace
