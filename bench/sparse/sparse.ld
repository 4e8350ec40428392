/* Places the sections of sparse.s where a program for the H8SX/1622 has
   them: vectors at 0, code behind them, constants at 0x4000, a table at
   0x10000. The H8/300 binutils link for the H8S here (their linker cannot
   set the H8SX architecture); the instructions used are common to both. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300s)
ENTRY(_start)
SECTIONS {
  .vects 0x0 : { *(.vects) }
  .text 0x100 : { *(.text) }
  .rodata 0x4000 : { *(.rodata) }
  .table 0x10000 : { *(.table) }
}
