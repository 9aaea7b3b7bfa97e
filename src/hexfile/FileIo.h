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

// Saves text as path: a symbolic link is written through to its target; an
// existing file must be a regular file the user may write, and keeps its
// owner, group, mode and other names. A file with one name is replaced by a
// complete copy written beside it; one with several names, or one whose owner
// cannot be kept, is rewritten in place after a backup copy beside it that is
// put back on failure. Any failure leaves the old content; errno then says why.
// A file whose folder takes no new file is refused, unless inPlace allows
// rewriting it in place: right for a save the user asks for, wrong for a
// file that other runs read, which must never be seen half written.
enum class TInPlace { Never, WhenFolderRefuses };
bool SaveFileText(const std::string &path, const std::string &text,
                  TInPlace inPlace = TInPlace::Never);
