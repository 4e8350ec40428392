; A sparse program for the H8SX/1622 in advanced mode, laid out as a real one
; often is: the vector table at 0, the code behind it, constants at 0x4000
; and a table at 0x10000, with erased flash (0xFF) between them. The image
; is 66,740 bytes, 522 programming blocks, of which 14 hold anything but
; 0xFF. Assembled as H8S code (.h8300s), which the H8SX runs unchanged.
        .h8300s

        .section .vects
        .long   _start                  ; reset
        .rept   63
        .long   _default
        .endr

        .text
        .global _start
_start:
        mov.l   #0xFFC000, er7          ; stack at the top of RAM
        mov.l   #_message, er0
        mov.l   #_table, er1
        mov.w   #602, r2
_loop:
        mov.w   @er1+, r3
        mov.b   r3l, @0xFFFFD3:8        ; port output
        dec.w   #1, r2
        bne     _loop
        bra     _start
_default:
        rte

        .section .rodata
_message:
        .ascii  "H8SX/1622 sparse image\0"
_pattern:
        .byte   0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80

        .section .table
_table:
        .set    i, 0
        .rept   602
        .word   (i * 109) & 0x7FFF
        .set    i, i + 1
        .endr
        .end
