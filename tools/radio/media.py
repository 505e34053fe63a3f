"""Test audio for the radio servers: sine tones as MP3, as AAC in ADTS frames
and as chained Ogg Vorbis and Ogg Opus, made with sox, lame, ffmpeg, oggenc
and opusenc into a folder of the caller's.

The servers play the MP3 and AAC tones round and round, so each file is one
seamless loop: whole codec frames cut from the middle of a longer encoding,
as many as hold whole periods of the tone. Played in a loop it sounds on
without a break (an encoder's own file starts with its delay, silence that a
loop would play every time round, and lame's with a silent tag frame)."""
import math
import os
import random
import struct
import subprocess

TONE_HZ = 440
SWITCH_HZ = 880      # the tone after a format switch, at SWITCH_RATE
SWITCH_RATE = 48000
OGG_TONES = ((440, "Ogg One"), (660, "Ogg Two"))
OPUS_TONES = ((440, "Opus One"), (660, "Opus Two"))
OPUS_KBPS = 64
OPUS_RATE = 48000
# The surround tone: 5.1 in WAV order (front left, right, centre, LFE, back
# left, right) with a sine only in front right and back left.
SURROUND_HZ = {2: 660, 5: 440}
MP3_FRAME = 1152     # samples of an MPEG-1 Layer III frame
AAC_FRAME = 1024     # of an AAC-LC frame
SPARE_FRAMES = 16    # encoded beyond the loop at each end, then cut off
# A file made by an older recipe (with a seam where it loops) is made again.
RECIPE = "seamless loop 1"
MP3_KBPS = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)  # MPEG-1 Layer III
MP3_RATES = (44100, 48000, 32000)


def _run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def part_of(path):
    """A name of this process's own to make path under (its extension kept,
    the tools pick the format by it)."""
    root, ext = os.path.splitext(path)
    return f"{root}.{os.getpid()}.part{ext}"


def made(path, make):
    """path, made by make(name) unless it is there: under a name of this
    process's own, then renamed, so that servers sharing the folder (both
    architectures' tests do) see a file whole or not at all."""
    if not os.path.exists(path):
        part = part_of(path)
        make(part)
        os.replace(part, path)
    return path


def tone_wav(folder, hz, seconds, name=None, rate=44100):
    return made(os.path.join(folder, name or f"tone{hz}_{rate}.wav"),
                lambda out: _run("sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", out,
                                 "synth", str(seconds), "sine", str(hz), "vol", "0.5"))


def loop_frames(rate, hz, frame_samples, seconds):
    """Frames in a loop of about `seconds` that holds whole periods of the
    tone, so that its end runs on into its start."""
    period = rate // math.gcd(rate, hz)  # samples after which the sine repeats
    unit = frame_samples * period // math.gcd(frame_samples, period)
    return max(1, round(seconds * rate / unit)) * unit // frame_samples


def seamless(folder, name, hz, rate, frame_samples, seconds, encode, frames_of):
    """The file `name` in folder: of the tone encoded by encode(wav, out),
    the frames of one loop (frames_of(data) lists (offset, length) of each),
    from well inside the encoding."""
    path = os.path.join(folder, name)
    stamp = path + ".recipe"
    if os.path.exists(path) and os.path.exists(stamp) and read(stamp).decode() == RECIPE:
        return path
    count = loop_frames(rate, hz, frame_samples, seconds)
    encoded = (count + 2 * SPARE_FRAMES) * frame_samples
    wav = tone_wav(folder, hz, encoded / rate, f"loop{hz}_{rate}_{encoded}.wav", rate)
    part = part_of(path)
    encode(wav, part)
    data = read(part)
    frames = frames_of(data)[SPARE_FRAMES:SPARE_FRAMES + count]
    if len(frames) < count:
        raise RuntimeError(f"{name}: {len(frames)} frames where a loop needs {count}")
    with open(part, "wb") as f:
        f.write(b"".join(data[at:at + length] for at, length in frames))
    os.replace(part, path)  # whole or not at all, for a server reading it meanwhile
    with open(stamp, "w") as f:
        f.write(RECIPE)
    return path


def tone_mp3(folder, hz=TONE_HZ, seconds=20, kbps=128, rate=44100):
    """A constant bit-rate MP3 of a sine tone, a seamless loop of about
    `seconds`: no bit reservoir (every frame holds its own data) and no tag
    frame."""
    suffix = "" if rate == 44100 else f"_{rate}"
    return seamless(folder, f"tone{hz}_{kbps}{suffix}.mp3", hz, rate, MP3_FRAME, seconds,
                    lambda wav, out: _run("lame", "--quiet", "-b", str(kbps), "--cbr", "--nores",
                                          "-t", wav, out),
                    mp3_frames)


def tone_aac(folder, hz=TONE_HZ, seconds=20, kbps=96, rate=44100):
    """AAC-LC in ADTS frames (ffmpeg's own encoder) of a sine tone, a
    seamless loop; a 440 Hz tone at 44.1 kHz fits whole frames only every
    51.2 s."""
    suffix = "" if rate == 44100 else f"_{rate}"
    return seamless(folder, f"tone{hz}_{kbps}{suffix}.aac", hz, rate, AAC_FRAME, seconds,
                    lambda wav, out: _run("ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", wav,
                                          "-c:a", "aac", "-b:a", f"{kbps}k", "-f", "adts", out),
                    adts_frames)


def mp3_frames(data):
    """(offset, length) of every MPEG-1 Layer III frame from the first,
    following the headers."""
    frames = []
    at = 0
    while at + 4 <= len(data) and data[at] == 0xFF and data[at + 1] & 0xFE == 0xFA:
        kbps, rate = MP3_KBPS[data[at + 2] >> 4] if data[at + 2] >> 4 < 15 else 0, (data[at + 2] >> 2) & 3
        if not kbps or rate >= len(MP3_RATES):
            break
        length = 144000 * kbps // MP3_RATES[rate] + ((data[at + 2] >> 1) & 1)
        frames.append((at, length))
        at += length
    return frames


def adts_frames(data):
    """(offset, length) of every ADTS frame, following the length fields."""
    frames = []
    at = 0
    while at + 7 <= len(data) and data[at] == 0xFF and data[at + 1] & 0xF6 == 0xF0:
        length = ((data[at + 3] & 3) << 11) | (data[at + 4] << 3) | (data[at + 5] >> 5)
        if length < 7:
            break
        frames.append((at, length))
        at += length
    return frames


def adts_damaged(data, every):
    """The ADTS stream with every `every`-th frame damaged, in turn: its
    payload overwritten with noise (the header intact), or its length field
    made wrong (the frames after it must be found again)."""
    out = bytearray(data)
    rnd = random.Random(11)
    for n, (at, length) in enumerate(adts_frames(data)):
        if n == 0 or n % every:
            continue
        if (n // every) % 2:
            for i in range(at + 9, at + length):
                out[i] = rnd.getrandbits(8)
        else:
            wrong = length + 100
            out[at + 3] = (out[at + 3] & 0xFC) | ((wrong >> 11) & 3)
            out[at + 4] = (wrong >> 3) & 0xFF
            out[at + 5] = (out[at + 5] & 0x1F) | ((wrong & 7) << 5)
    return bytes(out)


def ogg_parts(folder, seconds=3, rate=44100):
    """Ogg Vorbis files, one per title; played back to back they form a chain."""
    parts = []
    suffix = "" if rate == 44100 else f"_{rate}"
    for hz, title in OGG_TONES:
        wav = tone_wav(folder, hz, seconds, f"ogg{hz}{suffix}.wav", rate=rate)
        parts.append(made(os.path.join(folder, f"ogg{hz}{suffix}.ogg"),
                          lambda out, wav=wav, title=title: _run(
                              "oggenc", "--quiet", "-b", "96", "-a", "Test Artist", "-t", title,
                              "-o", out, wav)))
    return parts


def opus_parts(folder, seconds=3):
    """Ogg Opus files, one per title, at a constant bit rate (so a server can
    pace them by their size); played back to back they form a chain."""
    parts = []
    for serial, (hz, title) in enumerate(OPUS_TONES, start=1):
        wav = tone_wav(folder, hz, seconds, f"opus{hz}.wav", rate=OPUS_RATE)
        parts.append(made(os.path.join(folder, f"opus{hz}.opus"),
                          lambda out, wav=wav, serial=serial, title=title: _run(
                              "opusenc", "--quiet", "--hard-cbr", "--bitrate", str(OPUS_KBPS),
                              "--serial", str(serial), "--artist", "Test Artist", "--title", title,
                              wav, out)))
    return parts


def opus_surround(folder, seconds=3):
    """A 5.1 Ogg Opus stream (mapping family 1) of the surround tone."""
    synth, remix = [], []
    for channel in range(1, 7):
        synth += ["sine", str(SURROUND_HZ.get(channel, 1))]
        remix.append(str(channel) if channel in SURROUND_HZ else f"{channel}v0")
    wav = made(os.path.join(folder, "surround.wav"),
               lambda out: _run("sox", "-n", "-r", str(OPUS_RATE), "-c", "6", "-b", "16", out,
                                "synth", str(seconds), *synth, "vol", "0.5", "remix", *remix))
    return made(os.path.join(folder, "surround.opus"),
                lambda out: _run("opusenc", "--quiet", "--hard-cbr", "--bitrate", str(2 * OPUS_KBPS),
                                 "--title", "Surround", wav, out))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def id3v2_tag(size):
    """An ID3v2.3 tag of exactly `size` bytes (at least 21): one title frame,
    the rest padding."""
    body = size - 10
    title = b"TIT2" + struct.pack(">I", 6) + b"\0\0" + b"\0Tone\0"
    frames = title + b"\0" * (body - len(title))
    syncsafe = bytes([(body >> 21) & 0x7F, (body >> 14) & 0x7F, (body >> 7) & 0x7F, body & 0x7F])
    return b"ID3\x03\x00\x00" + syncsafe + frames


def ogg_crc(data):
    """The checksum of an Ogg page (its checksum field zero)."""
    crc = 0
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def ogg_pages(data):
    """(offset, length) of every Ogg page from the first, following the lacing."""
    pages = []
    at = 0
    while at + 27 <= len(data) and data[at:at + 4] == b"OggS":
        segments = data[at + 26]
        size = 27 + segments + sum(data[at + 27:at + 27 + segments])
        pages.append((at, size))
        at += size
    return pages


def ogg_with_header_byte(data, magic, offset, value):
    """The Ogg stream with byte `offset` of every header packet that begins
    with `magic` (its page's first) set to `value`, the page checksums made
    right again."""
    out = bytearray(data)
    for at, size in ogg_pages(data):
        body = at + 27 + out[at + 26]
        if out[body:body + len(magic)] == magic:
            out[body + offset] = value
            out[at + 22:at + 26] = b"\0\0\0\0"
            out[at + 22:at + 26] = struct.pack("<I", ogg_crc(out[at:at + size]))
    return bytes(out)


def ogg_with_channels(data, channels):
    """The Ogg Vorbis stream with every identification header's channel count
    set to `channels`."""
    return ogg_with_header_byte(data, b"\x01vorbis", 11, channels)


def opus_with_version(data, version):
    """The Ogg Opus stream with the version of every OpusHead set to `version`."""
    return ogg_with_header_byte(data, b"OpusHead", 8, version)
