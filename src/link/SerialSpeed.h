#pragma once

// Line speeds without a B-constant go through the kernel's arbitrary-rate
// interface. Its header clashes with <termios.h>, so it has a unit of its own.

// Sets input and output speed of the open terminal fd to rate bit/s.
// Returns 0, or the errno of the failed call.
int SetCustomLineSpeed(int fd, int rate);

// The output speed in bit/s that the driver holds for fd, or -1 (errno set).
int LineSpeed(int fd);
