#pragma once

#include <string>
#include <vector>

struct TWorkState;

// The save error, shown (after a beep) by the window and printed by the command line.
inline constexpr char SaveProblemMessage[] =
        "A problem occurred while trying to save the HEX file.";

// The save error with the file and why on a second line, for the command
// line; without a reason (errno 0, or an empty problem) the message alone.
std::string SaveFailureText(const std::string &path, const std::string &problem);
std::string SaveFailureText(const std::string &path, int reason);

inline constexpr char EndOfFileRecord[] = ":00000001FF";
// The extended linear address record of upper address 0000 that opens an
// INHX32 file; these chips have nothing above 64 KiB.
inline constexpr char LinearAddressZeroRecord[] = ":020000040000FA";

// The two layouts the writer knows: INHX8M, and INHX32 for tools that expect
// an extended linear address record (the same records behind one of 0000).
enum class THexFormat { Inhx8m, Inhx32 };

// "inhx8m" or "inhx32" (any case) into format; false for any other name.
bool HexFormatFromName(const std::string &name, THexFormat &format);

// Two upper-case hex digits that make the bytes of a record body (byte count,
// address, type and data digits) sum to 0 modulo 256.
std::string CheckSum(const std::string &body);

// Hex digit value, the mapping of HexToDec.
int ASCIIToDec(char c);

// Builds the INHX8M lines of the image: program records of 8 words for all of
// RomData, the ID record from idText (the IDedit text, left-filled with "F"),
// EEPROM records of 8 bytes for all of EepData, the configuration record and
// the end-of-file record. False on an entry that is not a decimal number, a
// partial last record of 8 entries, or a list too long for its region; lines
// then holds the records built so far. Inhx32 puts LinearAddressZeroRecord
// in front.
bool BuildINHX8MLines(const TWorkState &ws, const std::string &idText,
                      std::vector<std::string> &lines,
                      THexFormat format = THexFormat::Inhx8m);

// Builds the lines into ws.HexLines and writes them to path with CR LF line
// ends. A symbolic link is written through to its target. An existing file
// must be a regular file that the user may write; it keeps its owner, group
// and mode. It is replaced by a complete file written beside it, or, when it
// has other hard links or belongs to someone else, rewritten in place after a
// backup copy beside it that is put back on failure. Any failure leaves the
// old content. False on any failure; the caller beeps and shows
// SaveProblemMessage.
bool SaveINHX8MFile(TWorkState &ws, const std::string &idText, const std::string &path,
                    THexFormat format = THexFormat::Inhx8m);
