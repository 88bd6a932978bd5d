// The boot image the program carries: the built-in scripts, turned into one Zolbin image at build time by
// the stage-0 program (boot/stage0.cpp), and the scripts' names in the order start-up runs them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol {

// The image's bytes (none in the stage-0 program, which makes the image).
extern const uint8_t* const g_boot_image;
extern const size_t g_boot_image_size;

// The built-in scripts' paths in the source tree, in order: literal i of the image is script i's code.
extern const char* const g_boot_scripts[];
extern const size_t g_boot_script_count;

}  // namespace zol
