// The bytes of the Zolbin format that its reader and writers share: the compact encoding's lead and prefix
// bytes and context flags, and the standard encoding's header-word bits.
#pragma once
#include <cstdint>

namespace zol::zolbin {

constexpr uint8_t MAGIC[6] = {'Z', 'O', 'L', 'B', 'I', 'N'};
constexpr uint8_t VERSION_BOOT = 1;
constexpr uint8_t VERSION_CODEC = 2;

// --- compact encoding
// A lead byte below 0x80 is a datatype record: the id in bits 0-5 (0x3F: the id follows as a varint) and
// the datatype's own flag in bit 6.
constexpr uint8_t CP_FLAG = 0x40;
constexpr uint8_t CP_ID_FOLLOWS = 0x3F;
constexpr uint8_t CP_SMALL_INT = 0x80;  // 0x80 + n: integer! n for n from 0 to 63
constexpr uint8_t CP_NEW_LINE = 0xC0;   // prefix: the value has the new-line marker
constexpr uint8_t CP_REFERENCE = 0xC1;  // prefix: a path to the series or context written before
constexpr uint8_t CP_TRUE = 0xC2;
constexpr uint8_t CP_FALSE = 0xC3;
constexpr uint8_t CP_SET = 0xC4;        // prefix, boot mode: the word is set to the record that follows
constexpr uint8_t CP_PATH = 0xFF;       // a standalone reference: the value a path reaches

// The flags byte of a context part.
constexpr uint8_t CP_CONTEXT_KIND = 0x03;
constexpr uint8_t CP_CONTEXT_STACK = 0x04;
constexpr uint8_t CP_CONTEXT_FLAG = 0x08;   // the context cell's flag 0x1000000
constexpr uint8_t CP_CONTEXT_VALUES = 0x10;

// A string's length varint: the unit's base-2 logarithm in bits 0-1, the unit count above.

// --- standard encoding: the header word of a record
constexpr uint32_t STD_TYPE = 0xFF;            // the datatype id; 0 pads, 255 is a standalone reference
constexpr uint32_t STD_PATH = 0xFF;
constexpr uint32_t STD_UNIT_SHIFT = 8;         // tuple! length; string family, binary!, vector!: unit size
constexpr uint32_t STD_OP_SHIFT = 16;          // op!: the wrapped value's datatype
constexpr uint32_t STD_REFERENCE = 1u << 19;
constexpr uint32_t STD_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t STD_BITSET_NEGATED = 1u << 23;
constexpr uint32_t STD_EVENTS = 1u << 24;      // object!: its two event slots follow its class id
constexpr uint32_t STD_SET = 1u << 25;         // words: "set" in boot mode, bound globally in codec mode
constexpr uint32_t STD_NEW_LINE = 1u << 31;

// The header word of a context part.
constexpr uint32_t STD_CONTEXT_KIND_SHIFT = 26;
constexpr uint32_t STD_CONTEXT_FLAG = 1u << 28;
constexpr uint32_t STD_CONTEXT_STACK = 1u << 29;
constexpr uint32_t STD_CONTEXT_VALUES = 1u << 30;

}  // namespace zol::zolbin
