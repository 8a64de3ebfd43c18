"""Scripts written out instruction by instruction, for the tests of `krscript html`.

Each function returns the bytes of one instruction: the opcode, its data
bytes (little-endian) and its operand, as the README's table describes them.
"""

import struct


def name_definition(key, name):
    """0x2B: the name `name` (bytes) for `key`."""
    return b"\x2b" + struct.pack("<I", key) + name + b"\x00"


def name_reference(key):
    """0x16: a reference to the names defined with `key`."""
    return b"\x16" + struct.pack("<I", key)


def dialogue(text, opcode=0x1B, data=0):
    """0x1B or 0x1C: a string (bytes) after four data bytes."""
    return bytes([opcode]) + struct.pack("<I", data) + text + b"\x00"


def integer(value):
    return b"\x17" + struct.pack("<i", value)


def word_list(words):
    return b"\x2f" + bytes([len(words), 0, 0, 0]) + b"".join(struct.pack("<I", w) for w in words)


def float_pair(a, b):
    return b"\x1f" + struct.pack("<ff", a, b)


def float_triple(a, b, c):
    return b"\x1e" + struct.pack("<fff", a, b, c)


# Opcodes without an operand, with their number of data bytes.
PLAIN = [(0x02, 4), (0x03, 0), (0x04, 0), (0x05, 0), (0x06, 0), (0x07, 0), (0x1A, 4),
         (0x20, 0), (0x21, 0), (0x22, 0), (0x23, 0), (0x24, 0), (0x25, 0), (0x26, 0),
         (0x28, 0), (0x2C, 0), (0x2D, 0), (0x2E, 4), (0x30, 0)]

# Text that markup must not take for its own, and bytes that are not UTF-8.
AWKWARD = [b"<script>alert(1)</script>", b"\"><img src=x onerror=alert(1)>", b"a & b",
           b"it's", "\u3053\u3093\u306b\u3061\u306f".encode(), b"line\nbreak", b"\xff\xfe",
           b"\x81", b"</div></div>", b"tab\there"]


def random_script(rng, count, keys=12):
    """`count` instructions of every kind, drawn from `rng`: names defined
    and referred to over a few keys (some defined twice, some never),
    strings of awkward text or random bytes, numbers and floats."""
    out = bytearray()
    for _ in range(count):
        roll = rng.random()
        if roll < 0.15:
            out += name_reference(rng.randrange(keys))
        elif roll < 0.22:
            out += name_definition(rng.randrange(keys - 2),
                                   rng.choice(AWKWARD) if rng.random() < 0.3
                                   else f"name{rng.randrange(100)}".encode())
        elif roll < 0.40:
            if rng.random() < 0.5:
                text = rng.choice(AWKWARD)
            else:
                text = bytes(rng.randrange(1, 256) for _ in range(rng.randrange(12)))
            out += dialogue(text, rng.choice([0x1B, 0x1C]), rng.randrange(1 << 32))
        elif roll < 0.50:
            out += integer(rng.randrange(-(1 << 31), 1 << 31))
        elif roll < 0.55:
            out += word_list([rng.randrange(1 << 32) for _ in range(rng.randrange(4))])
        elif roll < 0.60:
            out += float_pair(rng.uniform(-10, 10), 0.5)
        elif roll < 0.65:
            out += float_triple(1.0, rng.uniform(-1, 1), -2.0)
        else:
            opcode, data = rng.choice(PLAIN)
            out += bytes([opcode]) + bytes(rng.randrange(256) for _ in range(data))
    if rng.random() < 0.5:
        out += b"\x00"  # the end marker
    return bytes(out)


def long_script(count):
    """About `count` instructions, too many for one page: references at the
    start to names defined only at the end, and lines of dialogue between."""
    out = bytearray()
    for key in range(50):
        out += name_reference(key)
    for i in range(count):
        out += dialogue(f"Line {i} of the long scene.".encode()) if i % 4 == 0 else integer(i)
    for key in range(50):
        out += name_definition(key, f"Speaker {key}".encode())
        out += name_reference((key + 1) % 50)
    return bytes(out)

