; 16F877: code in two pages and words at the very end of program memory.
        list    p=16f877
        include "p16f877.inc"
        __config _HS_OSC & _WDT_OFF & _LVP_OFF & _BODEN_ON

        org     0x000
        clrf    PCLATH
        bsf     PCLATH, 3
        goto    main & 0x7FF
        org     0x0800
main    bsf     STATUS, RP0
        clrf    TRISB ^ 0x80
        bcf     STATUS, RP0
        movlw   0xC3
        movwf   PORTB
spin    goto    spin & 0x7FF

        org     0x1FF8
        dw      0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x1234, 0x0ABC

        org     0x2100
        de      1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20
        end
