/* The least a host can do: programs a full 16F877 (8192 words, 256 EEPROM
 * bytes) on the board at DEVICE with one thread and blocking reads, keeping
 * the protocol's fixed pauses. Against the same board and the same kind of
 * line it gives the turnaround floor that the real host is measured against.
 *
 * Usage: bench_floor_host DEVICE; exit 0 when the board said "Q" at the end.
 */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { RomWords = 8192, EepBytes = 256, Block = 8 };
static const unsigned char Family = '0', Socket = '1';

static int Line = -1;

static void Fail(const char *what)
{
    fprintf(stderr, "bench_floor_host: %s\n", what);
    exit(1);
}

static void Send(const unsigned char *bytes, size_t count)
{
    while (count > 0) {
        const ssize_t n = write(Line, bytes, count);
        if (n <= 0)
            Fail("write failed");
        bytes += n;
        count -= (size_t)n;
    }
}

/* One byte; a silent board ends the run after the line's 3-s read time-out. */
static unsigned char Receive(void)
{
    unsigned char ch;
    if (read(Line, &ch, 1) != 1)
        Fail("no reply");
    return ch;
}

static void Expect(unsigned char want)
{
    const unsigned char got = Receive();
    if (got != want) {
        fprintf(stderr, "bench_floor_host: expected %c, got 0x%02X\n", want, got);
        exit(1);
    }
}

static void PauseMs(long ms)
{
    const struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

static void OpenPhase(void)
{
    const unsigned char start[] = {0x00, Family}, select[] = {0x02, Socket};
    Send(start, sizeof start);
    Expect('P');
    Send(select, sizeof select);
    Expect('Y');
}

int main(int argc, char **argv)
{
    if (argc != 2)
        Fail("usage: bench_floor_host DEVICE");
    Line = open(argv[1], O_RDWR | O_NOCTTY);
    struct termios tio;
    if (Line < 0 || tcgetattr(Line, &tio) != 0)
        Fail("cannot open the line");
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 30;
    if (tcsetattr(Line, TCSANOW, &tio) != 0)
        Fail("cannot set the line");

    const unsigned char start[] = {0x00, Family};
    const unsigned char erase[] = {0x0C, Socket, EepBytes >> 8, EepBytes & 0xFF};
    Send(start, sizeof start);
    Expect('P');
    Send(erase, sizeof erase);
    while (Receive() != 'Y') {
    }
    PauseMs(200);
    const unsigned char select[] = {0x02, Socket}, writeRom = 0x04;
    Send(select, sizeof select);
    Expect('Y');
    Send(&writeRom, 1);
    for (int addr = 0; addr <= RomWords; ++addr) {
        const unsigned word = addr < RomWords ? (unsigned)(addr * 7 + 1) & 0x3FFF : 0xFFFF;
        const unsigned char bytes[] = {word >> 8, word & 0xFF};
        Expect('M');
        Send(bytes, sizeof bytes);
    }
    PauseMs(300);

    OpenPhase();
    const unsigned char writeEep = 0x0A, endEep = 'N';
    Send(&writeEep, 1);
    for (int addr = 0; addr < EepBytes; addr += Block) {
        unsigned char block[1 + Block] = {'Y'};
        for (int i = 0; i < Block; ++i)
            block[1 + i] = (unsigned char)(addr + i);
        Expect('M');
        Send(block, sizeof block);
    }
    Expect('M');
    Send(&endEep, 1);
    PauseMs(500);

    OpenPhase();
    const unsigned char config[] = {0x07, 0x3F, 0x72, 0x12, 0x34}, end = 0x0E;
    Send(config, sizeof config);
    Expect('Y');
    Send(&end, 1);
    Expect('Q');
    close(Line);
    return 0;
}
