#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TFrontPanel;
class TUiServices;

// Blank values of the device image, compared and padded as text.
inline const std::string BlankWord = "16383";
inline const std::string BlankByte = "255";

// The one record of shared data: device image, selected chip, the running
// board operation, the receive buffer, HEX exchange and start-up flags.
// Only the user-interface thread touches it.
struct TWorkState
{
    // Device image: decimal text, index = address.
    std::vector<std::string> RomData;
    std::vector<std::string> EepData;
    int32_t FuseWord = 0;
    int32_t IdValue = 0;

    // Selected chip, from the catalogue.
    int32_t RomSize = 0;
    int32_t EepSize = 0;
    int32_t SocketType = 0;
    char FamilyChar = 0;
    bool OscCalFamily = false;
    bool CodeProtectWarn = false;

    // Board operation.
    bool Busy = false;
    bool ReadRun = false;
    bool VerifyRun = false;
    bool BlankRun = false;
    bool EraseRun = false;
    bool ProgramRun = false;
    bool EraseProgramRun = false;
    int32_t OpStep = -1;
    int32_t XferAddr = 0;
    int32_t ProgEnd = 0;
    char SocketChar = 0;
    bool IcspOn = false;
    bool CancelAsked = false;
    bool NewDataListed = false;
    int32_t WaitTicks = 0;

    // Receive buffer: the byte after the last one held is always 0.
    uint8_t RxBuf[21] = {};
    int32_t RxCount = 0;

    // HEX file exchange.
    std::vector<std::string> HexLines;
    bool InsertMode = false;
    int32_t ExtractPos = 0;
    std::string HexDir;
    std::string ProgramDir;

    // Start-up and chip placement.
    bool Started = false;
    bool SoundAvailable = false;
    int32_t PlaceStep = 0;

    bool ChipApplied() const { return RomSize != 0 || EepSize != 0; }
    bool AnyOperationFlag() const
    {
        return ReadRun || VerifyRun || BlankRun || EraseRun || ProgramRun || EraseProgramRun;
    }

    void SetInitialFuseValue();
    void CleanRxBuffer();
    // Ends any board operation and shows the ready state on the panel.
    void ResetVars(TFrontPanel &panel);
};

// The question before data read from a chip and not saved is replaced.
inline constexpr char NewDataQuestion[] = "New data file listed. Do you wish to save it?";

// While ws.NewDataListed is set: beeps and asks NewDataQuestion (Yes, No,
// Cancel), and Yes saves through panel.RunSave. True when the caller may go on
// and replace the image: nothing unsaved, No, or Yes and the save succeeded.
bool UnsavedDataMayGo(const TWorkState &ws, TFrontPanel &panel, TUiServices &ui);
