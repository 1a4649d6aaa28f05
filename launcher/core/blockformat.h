// Constants of the configuration block format, shared by the launcher that reads the
// block and the pack tool that writes it.
#pragma once
#include <cstdint>

// First four bytes of the block (on disk: D5 13 E4 E8).
constexpr uint32_t configBlockMagic = 0xE8E413D5u;

// Header word at offset 4: the version of the block layout the writer produced.
// The launcher does not read it; tooling can use it to recognise what it looks at.
constexpr uint32_t configBlockVersion = 1;

// Header word at offset 8: identifies the writer. The bytes on disk read "TRVO".
constexpr uint32_t configBlockWriterId = 0x4F565254u;

// Header field at offset 12 is 8 bytes wide and holds the number of bytes from offset
// 12 to the end of the block (after the last language section), so a reader can skip
// the block without parsing it. The string count follows at offset 20.
constexpr uint32_t configBlockLengthOffset = 12;
constexpr uint32_t configBlockHeaderSize = 20;

// Every content byte of every included file behind the block is XOR-ed with this mask.
constexpr uint8_t includedFileMask = 0xA5;
