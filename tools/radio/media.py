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


# ---- HLS: segments and playlists -------------------------------------------
#
# ffmpeg's own HLS output (its MPEG-TS and fMP4 segmenter, AES-128 with a key
# info file, one file cut by byte ranges), and segments written here from the
# seamless ADTS loops above where a test needs what ffmpeg cannot write: a
# live window of any length, ID3 titles at chosen moments, a stream type we
# cannot play, packed audio with its timestamp tag.

HLS_SECONDS = 6       # length of ffmpeg's VOD lists
HLS_SEGMENT_S = 1
HLS_KINDS = ("ts", "fmp4", "aes", "single")
TS_PACKET = 188
TS_PMT_PID = 0x1000
TS_AUDIO_PID = 0x101
TS_ID3_PID = 0x102
TS_STREAM_ADTS = 0x0F
TS_STREAM_AC3 = 0x81
TS_CLOCK = 90000
TS_FRAMES_PER_PES = 8
TIMESTAMP_OWNER = b"com.apple.streaming.transportStreamTimestamp"


def hls_ffmpeg(folder, kind):
    """The folder holding index.m3u8 and the segments of a 440 Hz AAC tone of
    HLS_SECONDS written by ffmpeg's HLS muxer: kind "ts" (MPEG-TS), "fmp4"
    (with its init.mp4), "aes" (MPEG-TS under AES-128, key.bin beside it) or
    "single" (one TS file, the segments byte ranges of it)."""
    out = os.path.join(folder, f"hls-{kind}")
    index = os.path.join(out, "index.m3u8")
    if os.path.exists(index):
        return out
    part = out + ".part"
    if os.path.exists(part):
        for name in os.listdir(part):
            os.remove(os.path.join(part, name))
    os.makedirs(part, exist_ok=True)
    wav = tone_wav(folder, TONE_HZ, HLS_SECONDS, f"hls{TONE_HZ}.wav")
    args = ["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", wav, "-c:a", "aac", "-b:a", "96k",
            "-f", "hls", "-hls_time", str(HLS_SEGMENT_S), "-hls_list_size", "0",
            "-hls_playlist_type", "vod"]
    if kind == "fmp4":
        args += ["-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4",
                 "-hls_segment_filename", os.path.join(part, "seg%d.m4s")]
    elif kind == "single":
        args += ["-hls_flags", "single_file"]
    else:
        args += ["-hls_segment_filename", os.path.join(part, "seg%d.ts")]
    if kind == "aes":
        with open(os.path.join(part, "key.bin"), "wb") as f:
            f.write(os.urandom(16))
        info = os.path.join(part, "key.info")
        with open(info, "w") as f:
            f.write("key.bin\n" + os.path.join(part, "key.bin") + "\n")
        args += ["-hls_key_info_file", info]
    subprocess.run(args + [os.path.join(part, "index.m3u8")], check=True, cwd=part,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(part, out)
    return out


def _crc32_mpeg(data):
    """The checksum of an MPEG-TS table section: Ogg's CRC with all bits of
    the register set at the start, which is the same as its first four
    bytes inverted."""
    return ogg_crc(bytes(b ^ 0xFF for b in data[:4]) + data[4:])


def _syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3_frame(frame_id, body):
    """One ID3v2.4 frame."""
    return frame_id + _syncsafe(len(body)) + b"\0\0" + body


def id3_tag4(frames):
    """An ID3v2.4 tag of the frames."""
    body = b"".join(frames)
    return b"ID3\x04\x00\x00" + _syncsafe(len(body)) + body


def id3_title_tag(title, artist=None):
    """Timed metadata naming a title (UTF-8 TIT2, and TPE1 when given)."""
    frames = [id3_frame(b"TIT2", b"\x03" + title.encode())]
    if artist:
        frames.append(id3_frame(b"TPE1", b"\x03" + artist.encode()))
    return id3_tag4(frames)


def id3_timestamp_tag(pts):
    """The tag that starts a packed-audio segment: its first frame's 33-bit PTS."""
    return id3_tag4([id3_frame(b"PRIV", TIMESTAMP_OWNER + b"\0" +
                               struct.pack(">Q", pts % (1 << 33)))])


def _pts_field(prefix, pts):
    pts %= 1 << 33
    return bytes([(prefix << 4) | ((pts >> 29) & 0x0E) | 1, (pts >> 22) & 0xFF,
                  ((pts >> 14) & 0xFE) | 1, (pts >> 7) & 0xFF, ((pts << 1) & 0xFE) | 1])


def _pes(stream_id, pts, payload):
    header = b"\x80\x80\x05" + _pts_field(2, pts)
    length = len(header) + len(payload)
    return b"\0\0\1" + bytes([stream_id]) + struct.pack(">H", length if length < 65536 else 0) \
        + header + payload


class TsWriter:
    """MPEG-TS packets of one program: PAT, PMT, an audio stream and, with
    id3, the ID3 timed-metadata stream, continuity counters kept across the
    segments written by one writer."""

    def __init__(self, audio_type=TS_STREAM_ADTS, id3=False):
        self.audio_type = audio_type
        self.id3 = id3
        self.cc = {}

    def _packets(self, pid, data, unit_start=True):
        out = bytearray()
        first = True
        while data or first:
            room = TS_PACKET - 4
            piece = data[:room]
            data = data[len(piece):]
            cc = self.cc.get(pid, 0)
            self.cc[pid] = (cc + 1) & 15
            pusi = 0x40 if first and unit_start else 0
            head = bytes([0x47, pusi | (pid >> 8), pid & 0xFF])
            if len(piece) < room:
                stuffing = room - len(piece) - 1
                adaptation = bytes([stuffing]) + (b"\0" + b"\xFF" * (stuffing - 1) if stuffing else b"")
                out += head + bytes([0x30 | cc]) + adaptation + piece
            else:
                out += head + bytes([0x10 | cc]) + piece
            first = False
        return bytes(out)

    @staticmethod
    def _section(table_id, ext, body):
        length = 5 + len(body) + 4
        s = bytes([table_id, 0xB0 | (length >> 8), length & 0xFF]) + struct.pack(">H", ext) \
            + b"\xC1\x00\x00" + body
        return b"\0" + s + struct.pack(">I", _crc32_mpeg(s))

    def tables(self):
        pat = self._section(0, 1, struct.pack(">HH", 1, 0xE000 | TS_PMT_PID))
        streams = bytes([self.audio_type]) + struct.pack(">HH", 0xE000 | TS_AUDIO_PID, 0xF000)
        program_info = b""
        if self.id3:
            # Timed metadata as HLS carries it: a metadata pointer for the
            # program, a metadata descriptor on the stream, both "ID3 ".
            program_info = bytes([0x25, 0x0F]) + b"\xFF\xFFID3 \xFFID3 \x00\x1F\x00\x01"
            descriptor = bytes([0x26, 0x0D]) + b"\xFF\xFFID3 \xFFID3 \x00\x0F"
            streams += bytes([0x15]) + struct.pack(">HH", 0xE000 | TS_ID3_PID,
                                                   0xF000 | len(descriptor)) + descriptor
        pmt = self._section(2, 1, struct.pack(">HH", 0xE000 | TS_AUDIO_PID, 0xF000 | len(program_info))
                            + program_info + streams)
        return self._packets(0, pat) + self._packets(TS_PMT_PID, pmt)

    def audio(self, pts, payload):
        return self._packets(TS_AUDIO_PID, _pes(0xC0, pts, payload))

    def title(self, pts, tag):
        return self._packets(TS_ID3_PID, _pes(0xBD, pts, tag))


def frame_pts(index, rate, frame_samples=AAC_FRAME):
    """The 90 kHz time of frame `index` of a stream at `rate`."""
    return index * frame_samples * TS_CLOCK // rate


def ts_segment(writer, frames, first_index, rate, titles=()):
    """A TS segment of the ADTS frames (bytes each), the first being frame
    first_index of its stream; titles: (pts, text) in the segment, each sent
    before the audio from its moment on."""
    out = bytearray(writer.tables())
    pending = sorted(titles)
    for at in range(0, len(frames), TS_FRAMES_PER_PES):
        pts = frame_pts(first_index + at, rate)
        while pending and pending[0][0] <= pts + frame_pts(TS_FRAMES_PER_PES, rate):
            when, text = pending.pop(0)
            out += writer.title(when, id3_title_tag(text))
        out += writer.audio(pts, b"".join(frames[at:at + TS_FRAMES_PER_PES]))
    for when, text in pending:
        out += writer.title(when, id3_title_tag(text))
    return bytes(out)


def packed_segment(frames, first_index, rate):
    """A packed-audio segment: the timestamp tag, then the ADTS frames."""
    return id3_timestamp_tag(frame_pts(first_index, rate)) + b"".join(frames)


def adts_frame_list(data):
    return [data[at:at + length] for at, length in adts_frames(data)]
