#!/usr/bin/env python3
"""Writes the seed corpora and dictionaries of the fuzz targets (run from the tree's root;
the files are committed, so a build never needs this). Each seed is a small, valid input
that reaches one main path of its parser; the fuzzer mutates from there. A dictionary
lists the input's magic words (tags, GUIDs, sizes) so that mutations can insert them.

    tools/fuzz/seeds.py            rewrite every seed and dictionary
    tools/fuzz/seeds.py --check    exit 1 when a committed file differs from what is written here
"""
import os
import struct
import sys

SUB_TAIL = bytes([0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])


def guid(d1, d2, d3, d4):
    return struct.pack("<IHH", d1, d2, d3) + bytes(d4)


AUDIO = guid(0x73647561, 0x0000, 0x0010, [0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
PCM = guid(0x00000001, 0x0000, 0x0010, [0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
FLOAT = guid(0x00000003, 0x0000, 0x0010, [0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
WAVEFORMATEX = guid(0x05589F81, 0xC356, 0x11CE, [0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A])
SET_PIN = guid(0x8C134960, 0x51AD, 0x11CF, [0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00])
SET_TOPOLOGY = guid(0x720D4AC0, 0x7533, 0x11D0, [0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])
SET_GENERAL = guid(0x1464EDA5, 0x6A8F, 0x11D1, [0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96])
INTERFACE_STANDARD = guid(0x1A8766A0, 0x62CE, 0x11CF, [0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])


# --- WAV files ---------------------------------------------------------------------------

def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def wav(tag, channels, rate, bits, frames, extensible=False, extra_chunks=b""):
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 0xFFFE if extensible else tag, channels, rate, rate * block, block, bits)
    if extensible:
        fmt += struct.pack("<HHI", 22, bits, 3 if channels == 2 else 4) + struct.pack("<H", tag) + SUB_TAIL
    data = bytes((i * 37 + 11) & 0xFF for i in range(frames * block))
    body = b"WAVE" + chunk(b"fmt ", fmt) + extra_chunks + chunk(b"data", data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav_seeds():
    s = {}
    for bits in (8, 16, 24, 32):
        s["pcm%d-stereo.wav" % bits] = wav(1, 2, 48000, bits, 3)
    s["pcm8-mono-odd.wav"] = wav(1, 1, 8000, 8, 3)  # odd data chunk, padded
    s["float32-stereo.wav"] = wav(3, 2, 44100, 32, 3)
    s["float64-mono.wav"] = wav(3, 1, 96000, 64, 2)
    for bits in (16, 24, 32):
        s["ext-pcm%d-stereo.wav" % bits] = wav(1, 2, 192000, bits, 2, extensible=True)
    s["ext-float32-stereo.wav"] = wav(3, 2, 384000, 32, 2, extensible=True)
    s["pcm24-list-before-data.wav"] = wav(1, 2, 44100, 24, 2, extra_chunks=chunk(b"LIST", b"INFOISFT\x03\0\0\0ab\0"))
    return s


# --- kernel-streaming replies and formats (ksformat_fuzz) ----------------------------------

def data_range(bits_min, bits_max, rate_min, rate_max, channels=2, size=88, sub=PCM):
    head = struct.pack("<IIII", size, 0, 0, 0) + AUDIO + sub + WAVEFORMATEX
    return head + struct.pack("<IIIIII", channels, bits_min, bits_max, rate_min, rate_max, 0)


def multiple_item(items):
    body = b"".join(items)
    return struct.pack("<II", 8 + len(body), len(items)) + body


def wave_format_ex(channels, rate, bits, cb_size=0, tag=1):
    block = channels * bits // 8
    return struct.pack("<HHIIHHH", tag, channels, rate, rate * block, block, bits, cb_size)


def wave_format_extensible(channels, rate, bits, valid_bits=None, sub=PCM):
    head = wave_format_ex(channels, rate, bits, 22, 0xFFFE)
    return head + struct.pack("<HI", valid_bits or bits, 3) + sub


def ks_record(size_sel, guid_sel, channels, bits_min, bits_max, rate_min, rate_max):
    """One 20-byte range record of the harness's structured reply mode."""
    r = bytes([size_sel, guid_sel, channels, bits_min, bits_max]) + struct.pack("<II", rate_min, rate_max)
    return r + bytes(20 - len(r))


def ksformat_seeds():
    dac = multiple_item([data_range(b, b, 32000, 384000) for b in (16, 24, 32)])
    ext24 = wave_format_extensible(2, 48000, 24)
    ext32 = wave_format_extensible(2, 384000, 32, 24)
    plain16 = wave_format_ex(2, 44100, 16) + bytes(22)
    interfaces = multiple_item([INTERFACE_STANDARD + struct.pack("<II", 0, 0)])
    s = {
        "dac-ranges-ext24-all.bin": bytes([0x0F]) + ext24 + dac,
        "dac-ranges-ext32-valid24.bin": bytes([0x0E]) + ext32 + dac,
        "dac-ranges-plain16.bin": bytes([0x0F]) + plain16 + dac,
        "single-range-float.bin": bytes([0x0F]) + wave_format_extensible(2, 48000, 32, sub=FLOAT)
        + multiple_item([data_range(32, 32, 44100, 48000)]),
        "short-last-range.bin": bytes([0x0F]) + ext24 + multiple_item([data_range(16, 16, 8000, 96000),
                                                                      data_range(24, 24, 8000, 96000)[:64]]),
        "interfaces.bin": bytes([0x01]) + ext24 + interfaces,
        # Structured mode: header adjustments, then 20-byte range records.
        "structured-dac.bin": bytes([0x8F]) + ext24 + bytes([0, 0, 0])
        + ks_record(0, 0, 2, 16, 16, 32000, 384000) + ks_record(1, 0, 2, 24, 24, 32000, 384000)
        + ks_record(2, 0, 2, 32, 32, 32000, 384000),
        "structured-lying-header.bin": bytes([0x8F]) + ext24 + bytes([0xF8, 0x02, 0x01])
        + ks_record(0, 0, 2, 24, 24, 44100, 48000) + ks_record(3, 2, 2, 16, 32, 1, 0xFFFFFFFF),
    }
    return s


# --- device model (vdac_model_fuzz) --------------------------------------------------------

def property_request(set_guid, prop_id, pin=None, flags=1):
    r = set_guid + struct.pack("<II", prop_id, flags)
    if pin is not None:
        r += struct.pack("<II", pin, 0)
    return r


def model_seeds():
    s = {}
    # Mode byte: bit 0 property request, bits 1..3 the reply fault, bit 6 exact channels,
    # bit 7 a short topology reply; then output size (byte << shift).
    pin_props = {0: "cinstances", 2: "dataflow", 3: "dataranges", 5: "interfaces", 6: "mediums",
                 7: "communication", 8: "globalcinstances", 9: "necessary", 11: "category", 12: "name"}
    for prop, what in pin_props.items():
        for pin in (0, 3):
            s["pin%d-%s.bin" % (pin, what)] = bytes([0x01, 0xFF, 2]) + property_request(SET_PIN, prop, pin)
    s["pin0-dataranges-size-query.bin"] = bytes([0x01, 0x00, 0]) + property_request(SET_PIN, 3, 0)
    s["pin0-dataranges-header-only.bin"] = bytes([0x01, 0x08, 0]) + property_request(SET_PIN, 3, 0)
    s["pin0-dataranges-past-reply.bin"] = bytes([0x07, 0xFF, 2]) + property_request(SET_PIN, 3, 0)
    s["pin2-name-unterminated.bin"] = bytes([0x0B, 0xFF, 2]) + property_request(SET_PIN, 12, 2)
    s["pin-ctypes.bin"] = bytes([0x01, 0x04, 0]) + property_request(SET_PIN, 1)
    s["topology-nodes.bin"] = bytes([0x01, 0xFF, 1]) + property_request(SET_TOPOLOGY, 1)
    s["topology-nodes-short.bin"] = bytes([0x81, 0xFF, 1]) + property_request(SET_TOPOLOGY, 1)
    s["topology-categories.bin"] = bytes([0x01, 0xFF, 1]) + property_request(SET_TOPOLOGY, 0)
    s["component-id.bin"] = bytes([0x01, 0x48, 0]) + property_request(SET_GENERAL, 0)
    s["set-not-allowed.bin"] = bytes([0x01, 0xFF, 0]) + property_request(SET_PIN, 3, 0, flags=2)

    def connect(wave, sub=PCM):
        head = struct.pack("<IIII", 64 + len(wave), 0, 0, 0) + AUDIO + sub + WAVEFORMATEX
        return head + wave
    s["connect-ext24-48k.bin"] = bytes([0x40, 0, 0]) + connect(wave_format_extensible(2, 48000, 24))
    s["connect-ext32-valid24-384k.bin"] = bytes([0x40, 0, 0]) + connect(wave_format_extensible(2, 384000, 32, 24))
    s["connect-plain16-44k.bin"] = bytes([0x00, 0, 0]) + connect(wave_format_ex(2, 44100, 16))
    s["connect-mono16-any-channels.bin"] = bytes([0x00, 0, 0]) + connect(wave_format_ex(1, 32000, 16))
    s["connect-float-no-match.bin"] = bytes([0x40, 0, 0]) + connect(wave_format_extensible(2, 48000, 32, sub=FLOAT))
    return s


# --- sample path (sampleformat_fuzz) -------------------------------------------------------

def sample_seed(size, channels, frames, dop=False, marker=None, flip=False, used=None, hid=(6, 0)):
    """Bytes in the order the harness reads them: shape, then per channel its buffer, then
    the input copy's used bytes, the detector's sample size, the report size and command."""
    packet = frames * channels * size
    out = bytes([size, channels]) + struct.pack("<H", packet) + bytes([channels, 1 if dop else 0])
    for c in range(channels):
        n = frames * size
        out += struct.pack("<H", n) + bytes([c]) + bytes((c * 50 + i * 7) & 0xFF for i in range(n))
        if 2 <= size <= 4:
            if marker is None:
                out += bytes([1])              # no DoP markers forced
            else:
                out += bytes([0, 1 if marker == 0x05 else 0, 0, 1 if flip else 0])
                if flip:
                    out += struct.pack("<H", 1)
        out += bytes([1])                      # buffer present
    out += struct.pack("<H", packet if used is None else used)
    out += bytes([size - 1])                   # detector sample size
    out += bytes([hid[0], hid[1]])
    return out


def sampleformat_seeds():
    s = {}
    for size in (2, 3, 4):
        s["pcm%d-stereo.bin" % (size * 8)] = sample_seed(size, 2, 8)
    s["dop-marker05-24.bin"] = sample_seed(3, 2, 16, dop=True, marker=0x05)
    s["dop-markerAA-32.bin"] = sample_seed(4, 2, 16, dop=True, marker=0xAA)
    s["dop-broken-24.bin"] = sample_seed(3, 2, 16, dop=True, marker=0x05, flip=True)
    s["short-input-24.bin"] = sample_seed(3, 2, 8, used=20, hid=(5, 2))
    s["native-dsd-32.bin"] = sample_seed(4, 2, 4, hid=(64, 3))
    return s


# --- status block (statusblock_fuzz) ---------------------------------------------------------

MAGIC = 0x20130107
OWNER = bytes(range(0x31, 0x41))


def block(state=0, loaded=1, owner=bytes(16), changed=0, show=0, buffer_size=10, bits=32, buffer=0, rate=0,
          width=0, rates=2, widths=2, name=b"", dsd=(0, 0, 0, 0), reset=0, magic=MAGIC):
    b = struct.pack("<III", magic, state, loaded) + owner
    b += struct.pack("<IIIIIIIII", changed, show, buffer_size, bits, buffer, rate, width, rates, widths)
    b += name.ljust(256, b"\0")[:256]
    b += struct.pack("<IIIII", *dsd, reset)
    assert len(b) == 340
    return b


def op(case, who=0):
    """An operation byte: who (0 the block's owner, 1 a stranger, 2 nobody) in the top bits."""
    for k in range(64):
        if (who * 64 + k) % 27 == case:
            return who * 64 + k
    raise ValueError(case)


def statusblock_seed(ops, image, flags=0):
    return bytes([flags, len(ops)]) + bytes(ops) + image


def statusblock_seeds():
    panel_reads = [op(6), op(25), op(1), op(2), 11, op(2), 22, op(2), 24, op(3), 64, 1, op(4), op(5), op(7), op(0)]
    running = block(state=4, owner=OWNER, changed=1, buffer=480, rate=48000, width=24, rates=0x3FF, widths=0xE,
                    name=b"Tessaline USB 2")
    dsd64 = block(state=4, owner=OWNER, changed=1, buffer=64, rate=176400, width=32, name=b"Tessaline USB 2",
                  dsd=(1, 0, 0, 1))
    driver_life = [op(23), 0x64, 0, 0, 0, 24, 0, 0, 0, 0, 8, op(10, 1), op(10, 0),
                   op(12), 15, 0] + list(b"Tessaline USB 2") + [op(14), 100, 0, 0, 0, 0x80, 0xBB, 0, 0, 24, 0xE, 0, 0, 0,
                   0xFF, 3, 0, 0, op(15), 0, 0, 2, 0, 0, op(24), op(13), 4, op(19), op(16), op(11)]
    panel_writes = [op(8), 0x2C, 1, 0, 0, 24, op(9), op(19), op(22), op(7), op(17), 1, op(18), 1, 0, op(20), 0x44,
                    0xAC, 0, 0, op(21), 16, op(12, 1), 3, 0, 0x41, 0x42, 0x43]
    return {
        "panel-reads-running.bin": statusblock_seed(panel_reads, running),
        "panel-reads-dsd64.bin": statusblock_seed(panel_reads, dsd64),
        "driver-lifecycle.bin": statusblock_seed(driver_life, block(loaded=0)),
        "panel-writes.bin": statusblock_seed(panel_writes, running),
        "no-magic.bin": statusblock_seed(panel_reads + panel_writes, block(magic=0x07011320, state=4)),
        "name-unterminated.bin": statusblock_seed([op(3), 0xFF, 1, op(3), 0, 0, op(3), 0x10, 0], running, flags=2),
        "fresh-block.bin": statusblock_seed([op(25), op(23), 10, 0, 0, 0, 32, 2, 0, 0, 0, 2, op(5)], b""),
    }


# --- driver rules (driverrules_fuzz) ----------------------------------------------------------

def driverrules_seeds():
    def path(text, max_len_259=True):
        return bytes([0x80 if max_len_259 else 0x7C]) + text
    def name(text, is_input=False, channel=0):
        return bytes([0x01 | (0x40 if is_input else 0) | (channel << 2)]) + text
    def rate(hz):
        return bytes([0x02]) + struct.pack("<d", hz)
    def future(selector, fmt=None, mode=0x03):
        return bytes([mode]) + struct.pack("<i", selector) + (b"" if fmt is None else struct.pack("<i", fmt))
    return {
        "path-ks-render.bin": path(b"\\\\?\\usb#vid_1209&pid_0007&mi_01#7&2a1b3c&0&0001#"
                                   b"{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global"),
        "path-hardware-id.bin": path(b"USB\\VID_1209&PID_0008&MI_01"),
        "path-other-device.bin": path(b"USB\\VID_046D&PID_0A44&MI_00"),
        "path-no-interface.bin": path(b"USB\\VID_1209&PID_0007"),
        "path-short-limit.bin": path(b"USB\\VID_1209&PID_0007&MI_01", max_len_259=False),
        "name-output-left.bin": name(b"Tessaline USB 2"),
        "name-input-right-long.bin": name(b"Tessaline USB 2 with a name longer than the field", True, 1),
        "rate-48000.bin": rate(48000.0),
        "rate-dsd64.bin": rate(2822400.0),
        "rate-fraction.bin": rate(44100.5),
        "rate-nan.bin": bytes([0x02]) + struct.pack("<Q", 0x7FF8000000000001),
        "rate-huge.bin": rate(1e300),
        "future-set-dsd.bin": future(0x23111961, 1),
        "future-set-bad.bin": future(0x23111961, 2),
        "future-get.bin": future(0x23111983, 0, mode=0x83),
        "future-can-time-info.bin": future(10),
        "future-time-code.bin": future(1, mode=0x07),
    }


# --- dictionaries ----------------------------------------------------------------------------

def dict_text(words):
    lines = []
    for name, value in words:
        escaped = "".join(chr(b) if 0x20 <= b < 0x7F and b not in (0x22, 0x5C) else "\\x%02x" % b for b in value)
        lines.append('%s="%s"' % (name, escaped))
    return ("\n".join(lines) + "\n").encode()


def u16(x):
    return struct.pack("<H", x)


def u32(x):
    return struct.pack("<I", x)


WAV_WORDS = [("riff", b"RIFF"), ("wave", b"WAVE"), ("fmt", b"fmt "), ("data", b"data"), ("list", b"LIST"),
             ("tag_pcm", u16(1)), ("tag_float", u16(3)), ("tag_extensible", u16(0xFFFE)),
             ("fmt_size", u32(16)), ("fmt_size_ext", u32(40)), ("cb_size_ext", u16(22)),
             ("bits8", u16(8)), ("bits16", u16(16)), ("bits24", u16(24)), ("bits32", u16(32)), ("bits64", u16(64)),
             ("subformat_tail", SUB_TAIL), ("subtype_pcm", PCM), ("subtype_float", FLOAT)]
KS_WORDS = [("type_audio", AUDIO), ("subtype_pcm", PCM), ("subtype_float", FLOAT), ("specifier_wfx", WAVEFORMATEX),
            ("interface_standard", INTERFACE_STANDARD), ("range_size", u32(88)), ("format_size", u32(64)),
            ("tag_pcm", u16(1)), ("tag_extensible", u16(0xFFFE)), ("cb_size_ext", u16(22)),
            ("rate48000", u32(48000)), ("rate384000", u32(384000))]
MODEL_WORDS = [("set_pin", SET_PIN), ("set_topology", SET_TOPOLOGY), ("set_general", SET_GENERAL),
               ("get", u32(1)), ("type_audio", AUDIO), ("subtype_pcm", PCM), ("specifier_wfx", WAVEFORMATEX),
               ("connect_size_ext", u32(104)), ("connect_size_plain", u32(82)), ("tag_extensible", u16(0xFFFE)),
               ("cb_size_ext", u16(22)), ("rate48000", u32(48000))]
STATUS_WORDS = [("magic", u32(MAGIC)), ("one", u32(1)), ("running", u32(4)), ("rate48000", u32(48000)),
                ("rate2822400", u32(2822400))]
RULES_WORDS = [("vid", b"VID_"), ("pid", b"PID_"), ("mi", b"MI_"), ("vid_lower", b"vid_"), ("vendor", b"1209"),
               ("product7", b"0007"), ("product8", b"0008"), ("interface", b"&MI_01"),
               ("set_io_format", struct.pack("<i", 0x23111961)), ("get_io_format", struct.pack("<i", 0x23111983)),
               ("can_do_io_format", struct.pack("<i", 0x23112004)), ("rate48000", struct.pack("<d", 48000.0))]
SAMPLE_WORDS = [("dop05", b"\x05"), ("dopfa", b"\xfa"), ("dopaa", b"\xaa"), ("dsd_silence", b"\x69")]

DICTIONARIES = {
    "asiohost/fuzz/asiohost_wav_fuzz/asiohost_wav_fuzz.dict": WAV_WORDS,
    "ksaudio/fuzz/ksformat_fuzz/ksformat_fuzz.dict": KS_WORDS,
    "virtualdac/fuzz/vdac_model_fuzz/vdac_model_fuzz.dict": MODEL_WORDS,
    "asiodriver/format/fuzz/sampleformat_fuzz/sampleformat_fuzz.dict": SAMPLE_WORDS,
    "settings/fuzz/statusblock_fuzz/statusblock_fuzz.dict": STATUS_WORDS,
    "asiodriver/fuzz/driverrules_fuzz/driverrules_fuzz.dict": RULES_WORDS,
}


TARGETS = {
    "asiohost/fuzz/asiohost_wav_fuzz/corpus": wav_seeds,
    "ksaudio/fuzz/ksformat_fuzz/corpus": ksformat_seeds,
    "virtualdac/fuzz/vdac_model_fuzz/corpus": model_seeds,
    "asiodriver/format/fuzz/sampleformat_fuzz/corpus": sampleformat_seeds,
    "settings/fuzz/statusblock_fuzz/corpus": statusblock_seeds,
    "asiodriver/fuzz/driverrules_fuzz/corpus": driverrules_seeds,
}


def main():
    check = "--check" in sys.argv[1:]
    files = {path: dict_text(words) for path, words in DICTIONARIES.items()}
    for folder, make in TARGETS.items():
        for name, data in make().items():
            files[os.path.join(folder, "seed-" + name)] = data
    differ = []
    for path, data in files.items():
        if check:
            if not os.path.exists(path) or open(path, "rb").read() != data:
                differ.append(path)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for path in differ:
        print("differs:", path)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
