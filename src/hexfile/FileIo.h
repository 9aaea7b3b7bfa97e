#pragma once

#include <cstddef>
#include <limits>
#include <string>

// File I/O shared by the HEX reader and writer and the command line.

// Closes a descriptor when it goes out of scope.
struct TFd
{
    int Fd = -1;
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd() { Close(); }
    // False when the close itself failed (data not written after all).
    bool Close();
};

// Appends everything from fd's current offset to its end; false on a read
// error or when text would pass limit bytes.
bool ReadAll(int fd, std::string &text,
             size_t limit = std::numeric_limits<size_t>::max());

// Writes all of text; false on any error.
bool WriteAll(int fd, const std::string &text);

// Opens path without blocking, so that a FIFO cannot wait for its other end,
// and keeps it only when it is a regular file; mode applies with O_CREAT.
// -1 otherwise, with problem set to the system's reason or "not a regular
// file" (and errno to the system's reason, EISDIR or EINVAL).
int OpenRegularFile(const std::string &path, int flags, std::string &problem, int mode = 0);

// The file that path names once its symbolic links are followed, even when
// that file does not exist yet: the one SaveFileText writes.
std::string FileBehindLinks(const std::string &path);

// True when SaveFileText could replace path now: the file, if it exists, is
// a regular file the user may write, and its folder takes a new file beside
// it. Otherwise false, with problem set as for OpenRegularFile.
bool CanSaveFile(const std::string &path, std::string &problem);

// Saves text as path: a symbolic link is written through to its target; an
// existing file must be a regular file the user may write, in a folder that
// takes a new copy or a backup beside it. The file keeps its owner, group,
// mode and other names: a file with one name is replaced by a complete copy
// written beside it; one with several names, or whose owner cannot be kept,
// is rewritten in place after a backup copy beside it that is put back on
// failure. Any failure leaves the old content; errno then says why.
bool SaveFileText(const std::string &path, const std::string &text);
