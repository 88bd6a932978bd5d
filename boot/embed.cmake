# Writes the C++ source that embeds the boot image in the program, with the built-in scripts' names.
# Called at build time: cmake -DOUT=<file> -DIMAGE=<boot image> -DSOURCES=<a;b;c> -P embed.cmake
set(text "// Generated from the boot image and the list of built-in scripts by boot/embed.cmake at build time: do not edit.\n")
string(APPEND text "#include \"boot/boot_image.h\"\n\n")
# The image's bytes go in as they are, by the assembler.
string(APPEND text "asm(\".pushsection .rodata\\n.balign 16\\n.global zol_boot_image_start\\nzol_boot_image_start:\\n\"\n")
string(APPEND text "    \".incbin \\\"${IMAGE}\\\"\\n.global zol_boot_image_end\\nzol_boot_image_end:\\n.popsection\\n\");\n")
string(APPEND text "extern \"C\" const uint8_t zol_boot_image_start[];\nextern \"C\" const uint8_t zol_boot_image_end[];\n\n")
string(APPEND text "namespace zol {\n\nconst uint8_t* const g_boot_image = zol_boot_image_start;\n")
string(APPEND text "const size_t g_boot_image_size = size_t(zol_boot_image_end - zol_boot_image_start);\n\n")
string(APPEND text "const char* const g_boot_scripts[] = {\n")
foreach(src ${SOURCES})
  string(APPEND text "    \"${src}\",\n")
endforeach()
string(APPEND text "};\nconst size_t g_boot_script_count = sizeof g_boot_scripts / sizeof g_boot_scripts[0];\n\n}  // namespace zol\n")
file(WRITE "${OUT}.tmp" "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")
