# Master boot record loader: moves itself out of the way, finds the active partition entry,
# reads that partition's first sector with the BIOS extended read and runs it.
# Assembled for 0x0600, where it runs after moving itself; the first instructions run at 0x7C00
# and use absolute addresses only.
        .code16
        .intel_syntax noprefix
        .text
        .globl  _start
_start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, 0x7C00
        mov     ds, ax
        mov     es, ax
        sti
        cld
        mov     si, 0x7C00
        mov     di, 0x0600
        mov     cx, 256
        rep     movsw
        ljmp    0, offset moved
moved:
        mov     si, 0x0600 + 446
        mov     cx, 4
find:
        mov     al, [si]
        cmp     al, 0x80
        je      found
        test    al, al
        jnz     bad_table
        add     si, 16
        loop    find
        int     0x18                    # nothing to start: back to the BIOS
found:
        mov     bp, si                  # the entry, handed on in SI as loaders expect
        mov     di, 5                   # attempts
again:
        push    0                       # disk address packet, built on the stack
        push    0
        push    word ptr [bp + 10]
        push    word ptr [bp + 8]
        push    0
        push    0x7C00
        push    1
        push    0x10
        mov     si, sp
        mov     ah, 0x42
        int     0x13
        lea     sp, [si + 16]
        jnc     loaded
        xor     ah, ah                  # reset the drive and try again
        int     0x13
        dec     di
        jnz     again
        mov     si, offset msg_load
        jmp     show
loaded:
        cmp     word ptr [0x7DFE], 0xAA55
        mov     si, offset msg_missing
        jne     show
        mov     si, bp
        ljmp    0, 0x7C00
bad_table:
        mov     si, offset msg_table
show:
        lodsb
        test    al, al
        jz      stop
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     show
stop:
        hlt
        jmp     stop

msg_table:      .asciz  "Invalid partition table"
msg_load:       .asciz  "Error loading operating system"
msg_missing:    .asciz  "Missing operating system"
end_of_code:
