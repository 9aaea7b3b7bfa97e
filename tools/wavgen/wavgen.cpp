// Synthesises the four placement sounds as 16-bit PCM mono WAV files at 22050 Hz.
//
// Regenerate (from the repository root):
//   cmake -S tools/wavgen -B build-wavgen && cmake --build build-wavgen
//   build-wavgen/wavgen res/sounds
//
// Everything is computed from fixed formulas and a fixed-seed noise source, so the
// files come out byte for byte the same on every run.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int SampleRate = 22050;
constexpr double Pi = 3.14159265358979323846;

using TSamples = std::vector<double>;

// xorshift32: the same sequence everywhere, unlike the standard distributions.
class TNoise
{
public:
    explicit TNoise(uint32_t seed) : State(seed) {}
    double Next()
    {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return static_cast<double>(State) / 2147483648.0 - 1.0;
    }

private:
    uint32_t State;
};

TSamples Silence(double seconds)
{
    return TSamples(static_cast<size_t>(seconds * SampleRate), 0.0);
}

double Time(size_t i) { return static_cast<double>(i) / SampleRate; }

// Adds a decaying sine "ping" starting at `start` seconds.
void AddPing(TSamples &s, double start, double freq, double amp, double decay)
{
    const size_t first = static_cast<size_t>(start * SampleRate);
    for (size_t i = first; i < s.size(); ++i) {
        const double t = Time(i - first);
        s[i] += amp * std::exp(-t / decay) * std::sin(2 * Pi * freq * t);
    }
}

// Adds a burst of high-passed noise with an exponential tail.
void AddClack(TSamples &s, TNoise &noise, double start, double amp, double decay)
{
    const size_t first = static_cast<size_t>(start * SampleRate);
    double prev = 0.0;
    for (size_t i = first; i < s.size(); ++i) {
        const double t = Time(i - first);
        const double n = noise.Next();
        s[i] += amp * std::exp(-t / decay) * (n - prev);
        prev = n;
    }
}

// Short fades at both ends so that no sound starts or stops with a step.
void FadeEnds(TSamples &s, double inSeconds, double outSeconds)
{
    const size_t in = std::min(s.size(), static_cast<size_t>(inSeconds * SampleRate));
    const size_t out = std::min(s.size(), static_cast<size_t>(outSeconds * SampleRate));
    for (size_t i = 0; i < in; ++i)
        s[i] *= static_cast<double>(i) / in;
    for (size_t i = 0; i < out; ++i)
        s[s.size() - 1 - i] *= static_cast<double>(i) / out;
}

void Normalise(TSamples &s, double peak)
{
    double top = 0.0;
    for (double v : s)
        top = std::max(top, std::fabs(v));
    if (top > 0.0) {
        for (double &v : s)
            v *= peak / top;
    }
}

// The lever: the cam snaps over (a sharp clack with a metallic ring), then the lever
// settles against its stop a moment later.
TSamples MakeClick()
{
    TSamples s = Silence(0.060);
    TNoise noise(0x1234567u);
    AddClack(s, noise, 0.000, 1.0, 0.0025);
    AddPing(s, 0.000, 2650.0, 0.45, 0.006);
    AddPing(s, 0.000, 1180.0, 0.30, 0.010);
    AddClack(s, noise, 0.022, 0.55, 0.0020);
    AddPing(s, 0.022, 1900.0, 0.20, 0.005);
    FadeEnds(s, 0.0003, 0.006);
    Normalise(s, 0.80);
    return s;
}

// The chip sliding into the contacts: band-limited scraping noise that rises and falls,
// a faint rattle of pins passing contacts, and a soft seat at the end.
TSamples MakeChipIn()
{
    TSamples s = Silence(0.150);
    TNoise noise(0xBADC0DEu);
    double low = 0.0;
    double band = 0.0;
    const double slide = 0.115;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = Time(i);
        const double n = noise.Next();
        low += 0.35 * (n - low);
        band += 0.12 * (low - band);
        const double envelope = t < slide ? std::sin(Pi * t / slide) : 0.0;
        const double rattle = 0.6 + 0.4 * std::sin(2 * Pi * 140.0 * t);
        s[i] = (low - band) * envelope * rattle;
    }
    AddPing(s, slide, 180.0, 0.35, 0.012);
    AddClack(s, noise, slide, 0.25, 0.003);
    FadeEnds(s, 0.002, 0.010);
    Normalise(s, 0.55);
    return s;
}

// A small contact tick.
TSamples MakeTick()
{
    TSamples s = Silence(0.030);
    TNoise noise(0x0DDBA11u);
    AddClack(s, noise, 0.0, 0.6, 0.0012);
    AddPing(s, 0.0, 4200.0, 0.5, 0.0030);
    AddPing(s, 0.0, 2100.0, 0.25, 0.0045);
    FadeEnds(s, 0.0002, 0.004);
    Normalise(s, 0.60);
    return s;
}

// Two rising bell tones: the chip is in place / the job is done.
TSamples MakeChek()
{
    TSamples s = Silence(0.200);
    const double notes[][2] = {{0.000, 880.0}, {0.085, 1318.5}};
    for (const auto &note : notes) {
        const size_t first = static_cast<size_t>(note[0] * SampleRate);
        for (size_t i = first; i < s.size(); ++i) {
            const double t = Time(i - first);
            const double attack = std::min(1.0, t / 0.004);
            const double env = attack * std::exp(-t / 0.055);
            const double f = note[1];
            s[i] += env * (std::sin(2 * Pi * f * t) + 0.30 * std::sin(2 * Pi * 2 * f * t)
                           + 0.12 * std::sin(2 * Pi * 3 * f * t));
        }
    }
    FadeEnds(s, 0.001, 0.015);
    Normalise(s, 0.70);
    return s;
}

void PutU16(std::string &b, uint16_t v)
{
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string &b, uint32_t v)
{
    PutU16(b, static_cast<uint16_t>(v & 0xFFFF));
    PutU16(b, static_cast<uint16_t>(v >> 16));
}

bool WriteWav(const std::string &path, const TSamples &s)
{
    const uint32_t dataBytes = static_cast<uint32_t>(s.size() * 2);
    std::string b;
    b += "RIFF";
    PutU32(b, 36 + dataBytes);
    b += "WAVEfmt ";
    PutU32(b, 16);
    PutU16(b, 1);  // PCM
    PutU16(b, 1);  // mono
    PutU32(b, SampleRate);
    PutU32(b, SampleRate * 2);
    PutU16(b, 2);  // block align
    PutU16(b, 16); // bits per sample
    b += "data";
    PutU32(b, dataBytes);
    for (double v : s) {
        const double clipped = std::max(-1.0, std::min(1.0, v));
        PutU16(b, static_cast<uint16_t>(static_cast<int16_t>(std::lround(clipped * 32767.0))));
    }
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: wavgen <output folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const struct
    {
        const char *File;
        TSamples Samples;
    } sounds[] = {
        {"click.wav", MakeClick()},
        {"chin.wav", MakeChipIn()},
        {"tick.wav", MakeTick()},
        {"chek.wav", MakeChek()},
    };
    bool ok = true;
    for (const auto &sound : sounds) {
        const std::string path = dir + "/" + sound.File;
        if (WriteWav(path, sound.Samples)) {
            std::printf("wavgen: %s, %zu samples\n", path.c_str(), sound.Samples.size());
        } else {
            std::fprintf(stderr, "wavgen: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
