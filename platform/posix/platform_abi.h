// Calling convention, export and assembler spellings for ELF on x86-64.
#pragma once

#define KESTREL_CDECL
#define KESTREL_EXPORT __attribute__((visibility("default")))

#define KESTREL_ASM_STR2(x) #x
#define KESTREL_ASM_STR(x) KESTREL_ASM_STR2(x)

// A function whose whole body is one indirect jump through the pointer at
// `table` + `offset`. Both symbols stay inside the module (hidden), so the
// jump is RIP-relative and needs no GOT, also in a shared object.
#define KESTREL_ASM_INDIRECT_JUMP_FUNCTION(name, table, offset)      \
  ".text\n"                                                          \
  ".globl " #name "\n"                                               \
  ".hidden " #name "\n"                                              \
  ".type " #name ",@function\n" #name ":\n"                          \
  "  jmp *(" #table "+" offset ")(%rip)\n"                           \
  ".size " #name ",.-" #name "\n"

#define KESTREL_ASM_HIDDEN(symbol) ".hidden " #symbol "\n"
