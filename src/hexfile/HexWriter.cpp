#include "hexfile/HexWriter.h"

#include "app/WorkState.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexReader.h"
#include "view/HexText.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t EntriesPerRecord = 8;
constexpr int RomByteBase = 0x0000;
constexpr int EepByteBase = 2 * EepRegionFirst;
// Longer lists would spill into the next region of the address map.
constexpr size_t MaxRomEntries = RomRegionLast + 1;
constexpr size_t MaxEepEntries = EepRegionLast - EepRegionFirst + 1;

std::string Record(const std::string &body)
{
    return ":" + body + CheckSum(body);
}

// Appends one record of 8 entries per step, each entry's digits from
// entryDigits; false on a partial record or a non-decimal entry.
template<typename TDigits>
bool AppendListRecords(const std::vector<std::string> &list, int byteBase,
                       TDigits entryDigits, std::vector<std::string> &lines)
{
    int address = byteBase;
    for (size_t p = 0; p < list.size(); p += EntriesPerRecord, address += 16) {
        if (list.size() - p < EntriesPerRecord)
            return false;
        std::string body = "10" + MyIntToHex(address, 4) + "00";
        for (size_t k = p; k < p + EntriesPerRecord; ++k) {
            int32_t value = 0;
            if (!DecimalValue(list[k], value))
                return false;
            body += entryDigits(value);
        }
        lines.push_back(Record(body));
    }
    return true;
}

// The ID text left-filled with "F" to four digits; a lower-case digit is
// written in upper case and any other character as F (its value, 15), so the
// record always reads back.
std::string IdDigits(const std::string &idText)
{
    std::string digits = PadIdText(idText);
    for (char &c : digits)
        c = ToHex(static_cast<uint32_t>(HexToDec(CheckASCII(c))));
    return digits;
}

// Replaces the content of an open file with text, in place.
bool Overwrite(int fd, const std::string &text)
{
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, text)
            && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fsync(fd) == 0;
}

// A new, empty file beside target that nobody else has opened.
bool CreateNear(const fs::path &target, mode_t mode, std::string &name, int &fd)
{
    static std::mt19937 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path file = "." + target.filename().string() + ".tmp"
                + std::to_string(generator() % 1000000);
        name = (target.parent_path() / file).string();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd >= 0;
    }
    return false;
}

// The file that path names once its symbolic links are followed, so that a
// save through a link changes the link's target and keeps the link.
fs::path FollowLinks(fs::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec))
            return path;
        const fs::path next = fs::read_symlink(path, ec);
        if (ec)
            return path;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path; // a loop: the open below fails on it
}

// For a file that has other names: a backup copy in the same folder first,
// then the new text in place, and the copy put back on any failure.
bool WriteInPlace(const fs::path &target, const std::string &text)
{
    TFd file(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    std::string old;
    if (file.Fd < 0 || !ReadAll(file.Fd, old)) // from the start: just opened
        return false;
    std::string backupName;
    int backupFd = -1;
    if (!CreateNear(target, 0600, backupName, backupFd))
        return false;
    TFd backup(backupFd);
    if (!WriteAll(backup.Fd, old) || ::fsync(backup.Fd) != 0 || !backup.Close()) {
        ::unlink(backupName.c_str());
        return false;
    }
    if (Overwrite(file.Fd, text) && file.Close()) {
        ::unlink(backupName.c_str());
        return true;
    }
    // Put the old text back; if even that fails, the backup copy stays for
    // the user.
    TFd again(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (again.Fd >= 0 && Overwrite(again.Fd, old) && again.Close())
        ::unlink(backupName.c_str());
    return false;
}

// Writes text to a new file beside target and renames it over target. The
// new file gets the old one's owner, group and mode; when the owner cannot
// be kept (the file belongs to someone else), the file is written in place.
bool ReplaceFile(const fs::path &target, const std::string &text, const struct stat *old)
{
    std::string tempName;
    int tempFd = -1;
    if (!CreateNear(target, old ? 0600 : 0666, tempName, tempFd))
        return false;
    TFd temp(tempFd);
    bool ok = WriteAll(temp.Fd, text) && ::fsync(temp.Fd) == 0;
    if (ok && old) {
        struct stat mine = {};
        ok = ::fstat(temp.Fd, &mine) == 0;
        if (ok && (mine.st_uid != old->st_uid || mine.st_gid != old->st_gid)
                && ::fchown(temp.Fd, old->st_uid, old->st_gid) != 0) {
            temp.Close();
            ::unlink(tempName.c_str());
            return WriteInPlace(target, text);
        }
        ok = ok && ::fchmod(temp.Fd, old->st_mode & 07777) == 0;
    }
    ok = temp.Close() && ok;
    if (ok && ::rename(tempName.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(tempName.c_str());
    return false;
}

// Saves text as path: a symbolic link is written through to its target; an
// existing file must be a regular file the user may write, and keeps its
// owner, group, mode and other names. Any failure leaves the old content.
bool SaveText(const std::string &path, const std::string &text)
{
    const fs::path target = FollowLinks(path);
    struct stat old = {};
    if (::lstat(target.c_str(), &old) != 0)
        return errno == ENOENT && ReplaceFile(target, text, nullptr);
    if (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return false;
    if (old.st_nlink > 1)
        return WriteInPlace(target, text);
    return ReplaceFile(target, text, &old);
}

} // namespace

std::string CheckSum(const std::string &body)
{
    int sum = 0;
    for (size_t i = 0; i < body.size(); i += 2) {
        const int high = ASCIIToDec(body[i]);
        const int low = i + 1 < body.size() ? ASCIIToDec(body[i + 1]) : 0;
        sum += 16 * high + low;
    }
    const int low8 = sum % 256;
    return MyIntToHex(low8 == 0 ? 0 : 256 - low8, 2);
}

int ASCIIToDec(char c)
{
    return HexToDec(c);
}

bool BuildINHX8MLines(const TWorkState &ws, const std::string &idText,
                      std::vector<std::string> &lines)
{
    lines.clear();
    if (ws.RomData.size() > MaxRomEntries || ws.EepData.size() > MaxEepEntries)
        return false;
    const auto wordDigits = [](int32_t v) { return MyIntToHex(v, 2) + MyIntToHex(v / 256, 2); };
    if (!AppendListRecords(ws.RomData, RomByteBase, wordDigits, lines))
        return false;

    std::string idBody = "08400000";
    for (char c : IdDigits(idText))
        idBody += std::string("0") + c + "00";
    lines.push_back(Record(idBody));

    const auto byteDigits = [](int32_t v) { return MyIntToHex(v, 2) + "00"; };
    if (!AppendListRecords(ws.EepData, EepByteBase, byteDigits, lines))
        return false;

    lines.push_back(Record("02400E00" + MyIntToHex(ws.FuseWord % 256, 2)
                           + MyIntToHex(ws.FuseWord / 256, 2)));
    lines.push_back(EndOfFileRecord);
    return true;
}

bool SaveINHX8MFile(TWorkState &ws, const std::string &idText, const std::string &path)
{
    try {
        if (!BuildINHX8MLines(ws, idText, ws.HexLines))
            return false;
        std::string text;
        for (const std::string &line : ws.HexLines)
            text += line + "\r\n";
        return SaveText(path, text);
    } catch (const std::exception &) {
        return false;
    }
}
