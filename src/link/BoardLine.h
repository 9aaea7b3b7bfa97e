#pragma once

class TSerial;

// The programmer board's line: 19200 baud, 8 data bits, no parity, and
// failures told through OnError.
void SetBoardLineFormat(TSerial &serial);
