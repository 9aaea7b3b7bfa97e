; 12C671: calibration RETLW in the last program word.
        list    p=12c671
        include "p12c671.inc"
        errorlevel -302
        __config _INTRC_OSC_NOCLKOUT & _WDT_OFF & _CP_OFF & _MCLRE_OFF
        __idlocs 0x00C5

        org     0x000
        call    0x3FF
        bsf     STATUS, RP0
        movwf   OSCCAL
        bcf     STATUS, RP0
        goto    $

        org     0x3FF
        retlw   0x7C
        end
