#!/usr/bin/env python3
"""libavcodec's AAC quantiser searches side by side on music-like signals.

For each signal, rate and search ("twoloop", libavcodec's default; "fast";
"fast" without intensity stereo): ffmpeg encodes the signal to AAC-LC at
44.1 kHz stereo, with the encoder's CPU time taken from the kernel (getrusage
of the ffmpeg process, its start and the reading of the input included:
about 0.1 s), then decodes it, and the decoded audio is held against the
input:

  bandwidth   where the decoded spectrum ends: the top of the highest 100 Hz
              strip whose long-term level is within 20 dB of the input's
  band error  the long-term level of each third-octave band (50 Hz-20 kHz)
              that carries sound (within 60 dB of the input's loudest) and
              lies below the bandwidth, against the input's: the mean and
              the largest difference (dB)
  frame error the same per 46 ms frame and band, averaged over the frames
              and those bands where they carry sound in the frame: how far
              the decoded spectrum strays moment by moment
  image error the stereo image: per third-octave band, how alike left and
              right are (coherence of the long-term cross spectrum, 0 for
              unrelated channels, 1 for one a scaled copy of the other), the
              largest change from the input's over the same bands;
              intensity stereo, which sends one channel and a level for the
              other, raises it
  SNR         the input against what the decoded audio differs from it by,
              sample for sample (the MP4's delay field lines them up); low
              where the encoder substitutes noise for noise (PNS) or sends
              one channel for two (intensity stereo)
  short       packets under 64 bytes: the engine's packet loop sends its
              silence packet in place of such a packet when the PCM it carries
              is silent too (within -80 dBFS); on audible input they go out
  tone        on the 440 Hz tone at -12 dBFS (the harness's): pitch from the
              rising zero crossings and level from the RMS, as the end-to-end
              checks read them (tests/support/tone_analysis.cpp)

Signals, 30 s each, 32-bit float: "mix" (a pink-noise bed different in each
channel, steady tones from 110 Hz to 14 kHz, a chord sweeping over two
octaves, a kick every half second and a noise hi-hat between), "pink" (pink
noise alone at about -20 dBFS per channel), "tone" and "decay" (a note of
five partials struck every 5 s, fading from about -14 to -80 dBFS).

    bench/aac_quality.py [rate ...]        (default: 96k 128k 320k)

Needs ffmpeg and FFTW (libfftw3f, which the build already needs). Prints a
Markdown table.
"""

import array
import ctypes
import math
import os
import subprocess
import sys
import tempfile

RATE = 44100
SECONDS = 30
FFT = 2048
# The searches compared, with the options that go with them.
CODERS = {
    "twoloop": ["-aac_coder", "twoloop"],
    "fast": ["-aac_coder", "fast"],
    "fast, no IS": ["-aac_coder", "fast", "-aac_is", "0"],
}

SIGNALS = {
    # Left and right get their own noise; tones and chord sit a little to
    # either side; the drums are in the middle.
    "mix": (
        "anoisesrc=color=pink:amplitude=0.08:seed=1:r={r}:d={d}[n1];"
        "anoisesrc=color=pink:amplitude=0.08:seed=2:r={r}:d={d}[n2];"
        "[n1][n2]join=inputs=2:channel_layout=stereo[bed];"
        "aevalsrc="
        "'0.06*sin(2*PI*110*t)+0.04*sin(2*PI*880*t)+0.02*sin(2*PI*3520*t)+0.008*sin(2*PI*9000*t)"
        "+0.05*(sin(2*PI*200*10/log(2)*(pow(2,t/10)-1))+sin(2*PI*252*10/log(2)*(pow(2,t/10)-1))"
        "+sin(2*PI*300*10/log(2)*(pow(2,t/10)-1)))/3"
        "+0.25*sin(2*PI*55*mod(t,0.5))*exp(-9*mod(t,0.5))"
        "+0.08*(2*random(0)-1)*exp(-60*mod(t+0.25,0.5))"
        "|0.04*sin(2*PI*220*t)+0.04*sin(2*PI*1320*t)+0.015*sin(2*PI*5000*t)+0.006*sin(2*PI*14000*t)"
        "+0.05*(sin(2*PI*150*10/log(2)*(pow(2,t/10)-1))+sin(2*PI*189*10/log(2)*(pow(2,t/10)-1))"
        "+sin(2*PI*225*10/log(2)*(pow(2,t/10)-1)))/3"
        "+0.25*sin(2*PI*55*mod(t,0.5))*exp(-9*mod(t,0.5))"
        "+0.08*(2*random(1)-1)*exp(-60*mod(t+0.25,0.5))'"
        ":s={r}:d={d}[music];"
        "[bed][music]amix=inputs=2:normalize=0"
    ),
    "pink": (
        "anoisesrc=color=pink:amplitude=0.1:seed=3:r={r}:d={d}[n1];"
        "anoisesrc=color=pink:amplitude=0.1:seed=4:r={r}:d={d}[n2];"
        "[n1][n2]join=inputs=2:channel_layout=stereo"
    ),
    "tone": "aevalsrc='0.251189*sin(2*PI*440*t)|0.251189*sin(2*PI*440*t)':s={r}:d={d}",
    # The quiet end of music: a fading note.
    "decay": (
        "aevalsrc='0.125*exp(-1.5*mod(t,5))*(sin(2*PI*220*t)+sin(2*PI*440*t)/2+sin(2*PI*660*t)/3"
        "+sin(2*PI*880*t)/4+sin(2*PI*1100*t)/5)':s={r}:d={d},aformat=channel_layouts=stereo"
    ),
}

# The engine's packet loop takes a packet shorter than this for silence when
# its PCM is silent too (media::shortPacketBytes).
SHORT_PACKET_BYTES = 64


def run(args):
    subprocess.run(args, check=True, stdin=subprocess.DEVNULL)


def cpu_seconds(args):
    """Runs a command and gives its user + system CPU time."""
    pid = os.spawnvp(os.P_NOWAIT, args[0], args)
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(args)}")
    return usage.ru_utime + usage.ru_stime


def read_f32(path):
    samples = array.array("f")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    return samples


def short_packets(path):
    """How many packets, the first (the encoder's priming) left out, are
    shorter than SHORT_PACKET_BYTES."""
    sizes = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "packet=size",
                            "-of", "csv=p=0", path], check=True, capture_output=True, text=True).stdout.split()
    return sum(1 for size in sizes[1:] if int(size) < SHORT_PACKET_BYTES), len(sizes) - 1


def decode(path, out):
    run(["ffmpeg", "-v", "error", "-y", "-i", path, "-f", "f32le", "-c:a", "pcm_f32le", "-ac", "2", out])
    return read_f32(out)


class Spectra:
    """Power spectra of Hann-windowed frames through FFTW."""

    def __init__(self):
        self.lib = ctypes.CDLL("libfftw3f.so.3")
        self.lib.fftwf_plan_dft_r2c_1d.restype = ctypes.c_void_p
        self.lib.fftwf_plan_dft_r2c_1d.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint]
        self.lib.fftwf_execute.argtypes = [ctypes.c_void_p]
        self.lib.fftwf_destroy_plan.argtypes = [ctypes.c_void_p]
        self.inbuf = (ctypes.c_float * FFT)()
        self.outbuf = (ctypes.c_float * (2 * (FFT // 2 + 1)))()
        self.plan = self.lib.fftwf_plan_dft_r2c_1d(FFT, self.inbuf, self.outbuf, 64)  # FFTW_ESTIMATE
        self.window = [0.5 - 0.5 * math.cos(2 * math.pi * i / FFT) for i in range(FFT)]

    def frames(self, interleaved, channel):
        """Per frame (hop FFT/2) the complex spectrum, one channel."""
        mono = interleaved[channel::2]
        out = []
        for start in range(0, len(mono) - FFT + 1, FFT // 2):
            block = array.array("f", [w * x for w, x in zip(self.window, mono[start:start + FFT])])
            ctypes.memmove(self.inbuf, block.buffer_info()[0], FFT * 4)
            self.lib.fftwf_execute(self.plan)
            c = memoryview(self.outbuf).cast("B").cast("f")
            out.append([complex(c[2 * k], c[2 * k + 1]) for k in range(FFT // 2 + 1)])
        return out


def third_octave_bands():
    bands = []
    for i in range(-13, 14):  # centres from 50 Hz to 20 kHz
        centre = 1000 * 2 ** (i / 3)
        lo, hi = centre / 2 ** (1 / 6), centre * 2 ** (1 / 6)
        bins = [k for k in range(FFT // 2 + 1) if lo <= k * RATE / FFT < hi]
        if bins:
            bands.append((centre, bins))
    return bands


BANDS = third_octave_bands()


def db(power):
    return 10 * math.log10(power + 1e-20)


def power(frames):
    return [[abs(x) ** 2 for x in f] for f in frames]


def coherence(left, right, bins):
    """How alike the two channels are in some bins, 0 (unrelated) to 1 (one
    a scaled copy of the other), from the long-term cross spectrum."""
    cross = sum(l[k] * r[k].conjugate() for l, r in zip(left, right) for k in bins)
    pl = sum(abs(l[k]) ** 2 for l in left for k in bins)
    pr = sum(abs(r[k]) ** 2 for r in right for k in bins)
    return abs(cross) / math.sqrt(pl * pr) if pl > 0 and pr > 0 else 1.0


def compare(spectra, reference, decoded):
    """bandwidth (Hz), mean |band diff|, max |band diff|, mean frame error,
    stereo image error, SNR; level figures averaged over both channels."""
    widths, means, peaks, frame_errors, complex_frames, sounding = [], [], [], [], [], []
    for ch in (0, 1):
        ref_c = spectra.frames(reference, ch)
        dec_c = spectra.frames(decoded, ch)
        n = min(len(ref_c), len(dec_c))
        complex_frames.append((ref_c[:n], dec_c[:n]))
        ref, dec = power(ref_c[:n]), power(dec_c[:n])
        bins = FFT // 2 + 1
        ref_avg = [sum(f[k] for f in ref) / n for k in range(bins)]
        dec_avg = [sum(f[k] for f in dec) / n for k in range(bins)]

        strip = max(1, round(100 * FFT / RATE))
        width = 0.0
        for s in range(0, bins, strip):
            r = sum(ref_avg[s:s + strip])
            d = sum(dec_avg[s:s + strip])
            if r > 0 and db(d) > db(r) - 20:
                width = min(s + strip, bins) * RATE / FFT
        widths.append(width)

        # The bands that carry sound, below where the decoded spectrum ends
        # (what lies above is the bandwidth's column).
        levels = [db(sum(ref_avg[k] for k in b)) for _, b in BANDS]
        sounding.append({i for i, level in enumerate(levels)
                         if level > max(levels) - 60 and BANDS[i][1][-1] * RATE / FFT < width})
        diffs = [db(sum(dec_avg[k] for k in BANDS[i][1])) - levels[i] for i in sounding[-1]]
        means.append(sum(abs(x) for x in diffs) / len(diffs))
        peaks.append(max(abs(x) for x in diffs))

        errors = []
        for fr, fd in zip(ref, dec):
            levels = [(db(sum(fr[k] for k in b)), db(sum(fd[k] for k in b))) for _, b in BANDS]
            loudest = max(r for r, _ in levels)
            errors.extend(abs(levels[i][1] - levels[i][0]) for i in sounding[-1] if levels[i][0] > loudest - 60)
        frame_errors.append(sum(errors) / len(errors))

    # The stereo image: per band, how alike left and right are in the
    # decoded audio against the input (intensity stereo makes them alike).
    (ref_l, dec_l), (ref_r, dec_r) = complex_frames
    image = max(abs(coherence(dec_l, dec_r, BANDS[i][1]) - coherence(ref_l, ref_r, BANDS[i][1]))
                for i in sounding[0] & sounding[1])
    return min(widths), sum(means) / 2, max(peaks), sum(frame_errors) / 2, image, snr(reference, decoded)


def snr(reference, decoded):
    """Signal to (decoded - input) in dB, both channels, sample for sample."""
    n = min(len(reference), len(decoded))
    signal = sum(x * x for x in reference[:n])
    noise = sum((x - y) * (x - y) for x, y in zip(reference[:n], decoded[:n]))
    return 10 * math.log10(signal / max(noise, 1e-30))


def tone_check(decoded):
    """Pitch and level of the first channel, 0.5 s left out at both ends."""
    mono = decoded[0::2]
    skip = RATE // 2
    begin, end = skip + 1, len(mono) - skip
    crossings, first, last, squares = 0, 0, 0, 0.0
    for i in range(begin, end):
        squares += mono[i] * mono[i]
        if mono[i - 1] < 0 <= mono[i]:
            if crossings == 0:
                first = i
            last = i
            crossings += 1
    hz = (crossings - 1) / ((last - first) / RATE)
    level = 20 * math.log10(math.sqrt(squares / (end - begin)) * math.sqrt(2))
    return hz, level


def main():
    rates = sys.argv[1:] or ["96k", "128k", "320k"]
    spectra = Spectra()
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for name, graph in SIGNALS.items():
            source = os.path.join(work, f"{name}.f32")
            run(["ffmpeg", "-v", "error", "-y", "-filter_complex", graph.format(r=RATE, d=SECONDS),
                 "-f", "f32le", "-c:a", "pcm_f32le", "-ar", str(RATE), "-ac", "2", source])
            reference = read_f32(source)
            peak = max(abs(x) for x in reference)
            print(f"{name}: peak {20 * math.log10(peak):.1f} dBFS", file=sys.stderr)
            for rate in rates:
                for coder, options in CODERS.items():
                    encoded = os.path.join(work, f"{name}-{rate}-{len(rows)}.m4a")
                    # MP4 carries the encoder's delay, so the decoded audio
                    # lines up with the input sample for sample.
                    cpu = cpu_seconds(["ffmpeg", "-v", "error", "-y", "-f", "f32le", "-ar", str(RATE), "-ac", "2",
                                       "-i", source, "-c:a", "aac", "-profile:a", "aac_low", *options,
                                       "-b:a", rate, encoded])
                    bits = os.path.getsize(encoded) * 8 / SECONDS / 1000
                    short, packets = short_packets(encoded)
                    decoded = decode(encoded, os.path.join(work, "decoded.f32"))
                    width, mean, worst, frame, image, ratio = compare(spectra, reference, decoded)
                    tone = ""
                    if name == "tone":
                        hz, level = tone_check(decoded)
                        ref_hz, ref_level = tone_check(reference)
                        tone = f"{hz:.2f} Hz, {level:+.2f} dB (input {ref_hz:.2f} Hz, {ref_level:+.2f} dB)"
                    row = (f"| {name} | {rate} | {coder} | {cpu:.2f} | {bits:.0f} | {width / 1000:.1f} | "
                           f"{mean:.2f} | {worst:.2f} | {frame:.2f} | {image:.2f} | {ratio:.1f} | {short}/{packets} | {tone} |")
                    print(row, file=sys.stderr)
                    rows.append(row)
    print(f"\n{SECONDS} s per signal, 44.1 kHz stereo; CPU: ffmpeg encoding it (s); "
          "bandwidth: where the decoded spectrum ends; band error: |decoded - input| per third octave, "
          "long-term mean and largest (dB); frame error: the same per 46 ms frame (dB); "
          "image error: the largest change of a band's left-right coherence (0-1); "
          "SNR: input against decoded minus input, sample for sample; "
          f"short packets: under {SHORT_PACKET_BYTES} bytes, which the engine sends as silence.\n")
    print("| signal | rate | search | CPU s | kbit/s | bandwidth kHz | band error mean | band error max "
          "| frame error | image error | SNR dB | short packets | tone (pitch, level) |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
