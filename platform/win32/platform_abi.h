// Calling convention, export and assembler spellings for PE/COFF
// (i686: cdecl with a leading underscore on symbols; x86_64: no prefix).
#pragma once

#define KESTREL_CDECL __cdecl
#define KESTREL_EXPORT __declspec(dllexport)

#define KESTREL_ASM_STR2(x) #x
#define KESTREL_ASM_STR(x) KESTREL_ASM_STR2(x)

#if defined(__i386__)
#define KESTREL_ASM_INDIRECT_JUMP_FUNCTION(name, table, offset)      \
  ".text\n"                                                          \
  ".globl _" #name "\n"                                              \
  ".def _" #name "; .scl 2; .type 32; .endef\n"                      \
  "_" #name ":\n"                                                    \
  "  jmp *(_" #table "+" offset ")\n"
#else
#define KESTREL_ASM_INDIRECT_JUMP_FUNCTION(name, table, offset)      \
  ".text\n"                                                          \
  ".globl " #name "\n"                                               \
  ".def " #name "; .scl 2; .type 32; .endef\n" #name ":\n"           \
  "  jmp *(" #table "+" offset ")(%rip)\n"
#endif

// PE has no symbol visibility; nothing is exported without dllexport.
#define KESTREL_ASM_HIDDEN(symbol) ""
