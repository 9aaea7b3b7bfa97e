#include "link/BoardLine.h"

#include "link/Serial2.h"

void SetBoardLineFormat(TSerial &serial)
{
    serial.SetBaudrate(19200);
    serial.SetDataBits(d8bit);
    serial.SetCheckParity(false);
    serial.NotifyErrors = neEvent;
}
