# Third boot sector of the FAT32 partition, run at 0x7E00 by the boot sector: walks the root
# directory's cluster chain for one of the system files the boot sector names and starts it
# (its first four sectors at 0070:0000, entered at 0070:0200 with DL = drive, BP = 0x7C00).
# Without one it leaves through the boot sector's "no system file" path.
        .code16
        .intel_syntax noprefix
        .text
        .globl  _start
        .set    bpb_spc, 0x7C0D
        .set    bpb_reserved, 0x7C0E
        .set    bpb_fats, 0x7C10
        .set    bpb_hidden, 0x7C1C
        .set    bpb_fat_size, 0x7C24
        .set    bpb_root, 0x7C2C
        .set    bpb_drive, 0x7C40
        .set    read_sector, 0x7DC0
        .set    no_system, 0x7DC3
        .set    io_error, 0x7DC6
        .set    names, 0x7DC9
        .set    dir_buffer, 0x8000
        .set    fat_buffer, 0x8200
        .set    fat_start, 0x7FF0        # in this sector's own unused tail
        .set    data_start, 0x7FF4
_start:
        movzx   eax, word ptr [bpb_reserved]
        add     eax, [bpb_hidden]
        mov     [fat_start], eax
        movzx   cx, byte ptr [bpb_fats]
add_fat:
        add     eax, [bpb_fat_size]
        loop    add_fat
        mov     [data_start], eax
        mov     eax, [bpb_root]
next_cluster:
        push    eax                     # the cluster being searched
        call    cluster_sector
        movzx   cx, byte ptr [bpb_spc]
next_sector:
        push    eax
        push    cx
        mov     bx, dir_buffer
        call    read_checked
        mov     di, dir_buffer
next_entry:
        cmp     byte ptr [di], 0        # end of the directory
        je      not_found
        mov     si, names
        mov     dx, 3
next_name:
        push    si
        push    di
        mov     cx, 11
        repe    cmpsb
        pop     di
        pop     si
        je      found
        add     si, 11
        dec     dx
        jnz     next_name
        add     di, 32
        cmp     di, dir_buffer + 512
        jb      next_entry
        pop     cx
        pop     eax
        inc     eax
        loop    next_sector
        pop     eax                     # follow the chain in the FAT
        push    eax
        shr     eax, 7
        add     eax, [fat_start]
        mov     bx, fat_buffer
        call    read_checked
        pop     eax
        and     ax, 127
        shl     ax, 2
        mov     bx, ax
        mov     eax, [fat_buffer + bx]
        and     eax, 0x0FFFFFFF
        cmp     eax, 0x0FFFFFF8
        jb      next_cluster
not_found:
        jmp     no_system

found:
        mov     ax, [di + 20]           # first cluster of the file
        shl     eax, 16
        mov     ax, [di + 26]
        call    cluster_sector
        mov     bx, 0x0700
        mov     cx, 4
load:
        call    read_checked
        inc     eax
        add     bx, 512
        loop    load
        mov     dl, [bpb_drive]
        mov     bp, 0x7C00
        ljmp    0x0070, 0x0200

# EAX = cluster -> EAX = its first sector on the disk.
cluster_sector:
        sub     eax, 2
        movzx   ecx, byte ptr [bpb_spc]
        mul     ecx
        add     eax, [data_start]
        ret

# One sector read that leaves through the boot sector's error path when it fails.
read_checked:
        call    read_sector
        jc      failed
        ret
failed:
        jmp     io_error

        .org    510
        .byte   0x55, 0xAA
