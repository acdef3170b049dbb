"""The PASSWORD value of an INI file, encoded as corvina stores it.

Written apart from the program's own encoder, from the description of the
stored form: when corvina logs in with a password encoded here, both agree
on the format (seed section, one bit per Base64-alphabet character, MD5
check, 100 seeded transpositions, the generator over x^521 + x^32 + 1).
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
