#pragma once

#include <string>

// What the board link says to its user. The command line reads its exit
// status from these same texts, so each lives here once.
inline constexpr char MsgPortProblem[] = "There appears to be a problem accessing the COM Port";
inline constexpr char MsgNoResponse[] = "No response from programmer board";
// What to try, on the line after it.
inline constexpr char MsgNoResponseAdvice[] =
        "Check the cable and the port, then switch the board off and on "
        "(a board left in the middle of a Program waits for words).";
inline std::string NoResponseText()
{
    return std::string(MsgNoResponse) + "\n" + MsgNoResponseAdvice;
}
inline constexpr char MsgSerialDataError[] = "Serial data error.";
inline constexpr char MsgProgrammingComplete[] = "Programming complete.";
inline constexpr char MsgProgrammingIdFailed[] = "Programming ID failed.";
inline constexpr char MsgProgrammingFuseFailed[] = "Programming fuse failed.";
inline constexpr char MsgDataVerified[] = "Data verified.";
inline constexpr char MsgIdError[] = "ID error.";
inline constexpr char MsgFuseError[] = "Fuse error.";
inline constexpr char MsgNothingToProgram[] = "Nothing to program.";
inline constexpr char MsgNothingToVerify[] = "Nothing to verify.";
// Followed by the address in four hex digits.
inline constexpr char MsgRomVerifyError[] = "ROM verify error at address ";
inline constexpr char MsgEepromVerifyError[] = "EEPROM verify error at address ";
// The blank test's result: one of its subjects before it.
inline constexpr char MsgBlankEnd[] = " blank.";
inline constexpr char MsgChipIs[] = "Chip is";
inline constexpr char MsgRomIsNot[] = "ROM is not";
inline constexpr char MsgIdIsNot[] = "ID is not";
inline constexpr char MsgFuseIsNot[] = "Fuse is not";
// Asked before programming a chip with its code protection on.
inline constexpr char MsgCodeProtectQuestion[] =
        "WARNING - Code Protect fuse is set.\rIf chip is the OTP or JW type you may not "
        "be able to re-use it.\rDo you wish to continue?";
// Asked before programming over a part that is not blank: "ROM", ... before it.
inline constexpr char MsgNotBlankQuestionEnd[] = " is not blank. Continue?";
