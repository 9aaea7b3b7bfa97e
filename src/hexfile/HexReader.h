#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct TWorkState;

// Message texts of the HEX load, shared by the window and the command line.
inline constexpr char LineProblemPrefix[] = "There was a data problem in the HEX file on line ";
inline constexpr char RomProblemMessage[] = "There was a ROM data problem in the HEX file.";
inline constexpr char EepromProblemMessage[] =
        "There was an EEPROM data problem in the HEX file.";
inline constexpr char IdProblemMessage[] = "There was an ID data problem in the HEX file.";
inline constexpr char FuseProblemMessage[] = "There was an FUSE data problem in the HEX file.";
inline constexpr char LoadProblemMessage[] = "There was a problem loading the HEX file.";

// "There was a data problem in the HEX file on line N." for a zero-based index.
std::string LineProblemMessage(int lineIndex);

// The result of ScanHexFile that is not a line index.
inline constexpr int ScanAccepted = -1;

// Word-address map of a 14-bit core INHX8M file.
inline constexpr int RomRegionLast = 0x1FFF;
inline constexpr int IdRegionFirst = 0x2000;
inline constexpr int IdRegionLast = 0x2003;
inline constexpr int FuseAddress = 0x2007;
inline constexpr int EepRegionFirst = 0x2100;
inline constexpr int EepRegionLast = 0x21FF;

// Raised by ExtractIDdata when the lines run out with neither an ID record nor
// an end-of-file line.
class THexFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// c for '0'-'9' and 'A'-'F', the upper-case letter for 'a'-'f', '-' otherwise.
char CheckASCII(char c);

// Validates the lines of an INHX8M or INHX32 file. Returns ScanAccepted or the
// zero-based index of the first bad line. Besides the layout, length and
// checksum of each record, it refuses a program record (word address up to
// 0x1FFF) or EEPROM record (0x2100-0x21FF) that the extraction passes would
// misplace or never read: one starting below the end of the previous record
// of its region, or one after a record beyond its region. Address records
// (types 02 and 04) must hold 0000, since these chips have nothing above
// 64 KiB; start-address records (03 and 05) are accepted. Both kinds carry no
// data and every pass skips them (IsAddressRecord).
int ScanHexFile(const std::vector<std::string> &lines);

// True for a record line of type 02, 03, 04 or 05: an extended address or a
// start address, which places nothing in the image.
bool IsAddressRecord(const std::string &line);

// text without a UTF-8 byte-order mark at its very start.
std::string WithoutByteOrderMark(std::string text);

// Splits text into lines at CR LF, LF or CR; a final line break adds no line.
std::vector<std::string> SplitTextLines(const std::string &text);

// The extraction passes over ws.HexLines; each starts again at the first line.
// The list passes place words at ws.ExtractPos and honour ws.InsertMode.
bool ExtractROMData(TWorkState &ws);
bool ExtractEEPROMData(TWorkState &ws);
bool ExtractIDdata(TWorkState &ws); // may throw THexFileError
bool ExtractFuseData(TWorkState &ws);

// The fills between the passes: blank entries from ws.ExtractPos up to the
// chip's size (nothing is appended in insert mode).
void FillRomData(TWorkState &ws);
void FillEepData(TWorkState &ws);

// True for an OSCCAL chip whose last program word (index RomSize - 1) is blank
// or missing (an inserted file may leave RomData shorter than RomSize).
bool OscCalWordMissing(const TWorkState &ws);

// The image reset after a failed load: both lists emptied, FuseWord 0x3FFF,
// IdValue 0xFFFF and NewDataListed cleared. The caller then shows the reset
// values (UpDateFuseSettings) and clears the pad.
void ResetProgData(TWorkState &ws);

enum class THexLoadStatus {
    Ok,         // image decoded; run the OSCCAL check and refresh the window
    Refused,    // nothing changed: the image, FuseWord and IdValue are as before
    PassFailed, // an extraction pass failed: image reset by ResetProgData
    Exception   // an error inside the decoding: image reset by ResetProgData
};

struct THexLoadOutcome
{
    THexLoadStatus Status = THexLoadStatus::Ok;
    std::string Message; // the error box text; empty for Ok
    std::string Reason;  // why the file could not be read; empty when it was
};

// The file work of the load command, so that the window and the command line
// load alike. Call it after the open dialog and the insert question:
// - insert is the answer to "Do you want to insert the new data?"; it only takes
//   effect when the image holds any entry (ws.InsertMode is set from it).
// - FuseWord and IdValue start from their defaults (SetInitialFuseValue); the
//   file's values replace them where the file has them.
// - The file is read into ws.HexLines and scanned; a refused or unreadable file,
//   or one that is not a regular file, returns Refused and restores FuseWord and
//   IdValue, so nothing changes.
// - Then the four passes and the two fills run in order; the first failure
//   returns PassFailed or Exception after ResetProgData.
// On every status but Ok the caller beeps, shows Message and sets "File Error";
// after PassFailed and Exception it also calls UpDateFuseSettings. On Ok the
// caller runs the OSCCAL check (OscCalWordMissing) and refreshes the window.
// bytes, when given, receives the file's content as it was read and scanned,
// so that a digest describes the image loaded even if the file changes later.
THexLoadOutcome LoadHexFile(TWorkState &ws, const std::string &path, bool insert,
                            std::string *bytes = nullptr);

// The message of a failed load for a terminal: the outcome's message and,
// when the system cannot read path, a second line naming the file and the
// system's reason.
std::string LoadFailureText(const THexLoadOutcome &outcome, const std::string &path);

// LoadHexFile for lines already read (ws.HexLines becomes lines).
THexLoadOutcome LoadHexLines(TWorkState &ws, std::vector<std::string> lines, bool insert);
