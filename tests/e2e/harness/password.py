"""The PASSWORD value of an INI file, encoded and decoded as corvina stores it.

Written apart from the program's own encoder, from the description of the
stored form: when corvina logs in with a password encoded here, and when a
password the program saved decodes here, both agree on the format (seed
section, one bit per Base64-alphabet character, MD5 check, 100 seeded
transpositions, the generator over x^521 + x^32 + 1).
"""
import hashlib

ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
MULTIPLIER = 1566083941
MASK = 0xFFFFFFFF


class _Generator:
    def seed(self, s):
        x = [0] * 521
        u = 0
        s &= MASK
        for i in range(17):
            for _ in range(32):
                s = (s * MULTIPLIER + 1) & MASK
                u = (u >> 1) | (s & 0x80000000)
            x[i] = u
        x[16] = ((x[16] << 23) & MASK) ^ (x[0] >> 9) ^ x[15]
        for i in range(17, 521):
            x[i] = ((x[i - 17] << 23) & MASK) ^ (x[i - 16] >> 9) ^ x[i - 1]
        self.x = x
        for _ in range(3):
            self._refresh()
        self.j = 520

    def _refresh(self):
        x = self.x
        for i in range(32):
            x[i] ^= x[i + 489]
        for i in range(32, 521):
            x[i] ^= x[i - 32]

    def next(self):
        self.j += 1
        if self.j >= 521:
            self._refresh()
            self.j = 0
        return self.x[self.j]


def encode_password(plain, seed=0x1234):
    """The stored text for a plain password (str in code page 932, or bytes)."""
    data = plain.encode("cp932") if isinstance(plain, str) else plain
    if not 1 <= len(data) <= 64:
        raise ValueError("a stored password holds 1 to 64 bytes")
    seed &= 0xFFFF
    generator = _Generator()
    text = []
    generator.seed(seed)
    for k in range(4):
        text.append(ALPHABET[((seed >> (4 * k)) & 15) | (generator.next() & 0x30)])
    generator.seed(seed + 1)
    for byte in data:
        for k in range(8):
            text.append(ALPHABET[(generator.next() + ((byte >> k) & 1)) & 63])
    text += hashlib.md5(data).hexdigest()
    generator.seed(seed + 2)
    span = len(text) - 4
    for _ in range(100):
        a = 4 + generator.next() % span
        b = 4 + generator.next() % span
        text[a], text[b] = text[b], text[a]
    return "".join(text)


SEED_CHARACTERS = 4
CHECK_CHARACTERS = 32
TRANSPOSITIONS = 100


def _value(character):
    """A character's 6-bit value; one outside the alphabet counts as 0, like 'A'."""
    index = ALPHABET.find(character)
    return index if index >= 0 else 0


def decode_password(stored):
    """The plain password (bytes) of a stored text; b"" when its check fails."""
    text = list(stored)
    if len(text) <= SEED_CHARACTERS:
        return b""
    seed = 0
    for k in range(SEED_CHARACTERS):
        seed |= (_value(text[k]) & 15) << (4 * k)
    generator = _Generator()
    generator.seed(seed + 2)
    span = len(text) - SEED_CHARACTERS
    # The encoder's swaps, drawn in its order, then undone from the last.
    pairs = []
    for _ in range(TRANSPOSITIONS):
        a = SEED_CHARACTERS + generator.next() % span
        b = SEED_CHARACTERS + generator.next() % span
        pairs.append((a, b))
    for a, b in reversed(pairs):
        text[a], text[b] = text[b], text[a]
    generator.seed(seed + 1)
    # One bit per character, as the parity of its value minus the generator's
    # word; characters left over before the check section are ignored.
    count = max(0, len(text) - SEED_CHARACTERS - CHECK_CHARACTERS) // 8
    data = bytearray()
    position = SEED_CHARACTERS
    for _ in range(count):
        byte = 0
        for _ in range(8):
            difference = (_value(text[position]) - generator.next()) & MASK
            byte = (byte >> 1) | (0x80 if difference & 1 else 0)
            position += 1
        data.append(byte)
    check = "".join(text[-CHECK_CHARACTERS:])
    return bytes(data) if hashlib.md5(data).hexdigest() == check else b""
