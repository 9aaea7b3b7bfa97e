; 16F84: program with a gap, EEPROM data and ID locations.
        list    p=16f84
        include "p16f84.inc"
        __config _XT_OSC & _WDT_OFF & _PWRTE_ON
        __idlocs 0x1A2B

        org     0x000
        goto    start
        org     0x004
        retfie
start   bsf     STATUS, RP0
        clrf    TRISB ^ 0x80
        bcf     STATUS, RP0
loop    movlw   0x55
        movwf   PORTB
        call    delay
        goto    loop
delay   decfsz  0x0C, f
        goto    delay
        return

        org     0x3F8
        dw      0x0000, 0x3FFF, 0x1234, 0x2ABC

        org     0x2100
        de      "Hello, chip!", 0x00, 0xA5, 0xFF, 0x5A, 0x01, 0x02
        end
