# FAT32 boot sector. The format fills the parameter block (bytes 3-89); the code reads the third
# boot sector (partition sector 2) and continues there. Entry points and the system file names
# sit at fixed places that the third sector uses:
#   0x7DC0 read one sector (EAX = sector of the disk, ES:BX = buffer; carry set on failure)
#   0x7DC3 no system file: message, wait for a key, restart
#   0x7DC6 read failure: message, wait for a key, restart
#   0x7DC9 three 11-byte directory names of the system files
        .code16
        .intel_syntax noprefix
        .text
        .globl  _start
        .set    bpb_hidden, 0x7C1C
        .set    bpb_drive, 0x7C40
_start:
        jmp     short code
        nop
        .ascii  "MSDOS5.0"
        .org    64
        .byte   0x4E, 0x20
        .org    82
        .ascii  "FAT32   "
code:
        cli
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     sp, 0x7C00
        sti
        cld
        mov     [bpb_drive], dl         # the drive the BIOS started from
        mov     eax, [bpb_hidden]
        add     eax, 2
        mov     bx, 0x7E00
        call    read_sector
        jc      io_error
        cmp     word ptr [0x7FFE], 0xAA55
        jne     no_system
        jmp     0x7E00

read_sector_body:
        pushad
        push    dword ptr 0
        push    eax
        push    es
        push    bx
        push    1
        push    0x10
        mov     si, sp
        mov     dl, [bpb_drive]
        mov     ah, 0x42
        int     0x13
        lea     sp, [si + 16]
        popad
        ret

no_system_body:
        mov     si, offset msg_invalid
        jmp     complain
io_error_body:
        mov     si, offset msg_io
complain:
        call    print
        mov     si, offset msg_replace
        call    print
        xor     ah, ah                  # wait for a key
        int     0x16
        int     0x19                    # and start again

print:
        lodsb
        test    al, al
        jz      printed
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     print
printed:
        ret

msg_invalid:    .asciz  "\r\nInvalid system disk"
msg_io:         .asciz  "\r\nDisk I/O error"
msg_replace:    .asciz  "\r\nReplace the disk, and then press any key\r\n"

        .org    0x1C0
read_sector:    jmp     read_sector_body
no_system:      jmp     no_system_body
io_error:       jmp     io_error_body
names:          .ascii  "IO      SYS"
                .ascii  "MSDOS   SYS"
                .ascii  "WINBOOT SYS"
        .org    510
        .byte   0x55, 0xAA
