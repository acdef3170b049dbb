"""Reading a shell link (.lnk) file, in the binary format of MS-SHLLINK.

Only what a test needs: the target's local path (from the LinkInfo
structure), the string data (description, working directory, arguments,
icon location) and the show command. ANSI strings are in code page 932,
the system code page of the program's Wine prefix.

Wine 8 counts a terminating NUL into each string's length, which the format
does not have; it is dropped here, so a string reads the same either way.
"""
import struct

HEADER_SIZE = 0x4C
HAS_ID_LIST, HAS_LINK_INFO, IS_UNICODE = 0x01, 0x02, 0x80
# The optional strings, in the order the file holds them.
STRINGS = ((0x04, "description"), (0x08, "relative_path"), (0x10, "working_dir"),
           (0x20, "arguments"), (0x40, "icon_location"))
VOLUME_ID_AND_LOCAL_BASE_PATH = 0x01
ANSI = "cp932"


def _c_string(data, offset, unicode):
    if unicode:
        end = offset
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[offset:end].decode("utf-16-le")
    return data[offset:data.index(b"\0", offset)].decode(ANSI)


def _local_path(info):
    """The target's path from a LinkInfo structure: base path and suffix."""
    (header_size, flags, _volume, base, _network,
     suffix) = struct.unpack_from("<IIIIII", info, 4)
    if not flags & VOLUME_ID_AND_LOCAL_BASE_PATH:
        return None
    if header_size >= 0x24:  # the Unicode offsets follow
        base_unicode, suffix_unicode = struct.unpack_from("<II", info, 28)
        return _c_string(info, base_unicode, True) + _c_string(info, suffix_unicode, True)
    return _c_string(info, base, False) + _c_string(info, suffix, False)


def read_link(data):
    """The fields of a shell link file's bytes as a dict."""
    size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    if size != HEADER_SIZE or clsid != bytes.fromhex("0114020000000000c000000000000046"):
        raise ValueError("not a shell link")
    show_command = struct.unpack_from("<I", data, 0x3C)[0]
    link = {"flags": flags, "show_command": show_command, "target": None}
    offset = HEADER_SIZE
    if flags & HAS_ID_LIST:
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    if flags & HAS_LINK_INFO:
        info_size = struct.unpack_from("<I", data, offset)[0]
        link["target"] = _local_path(data[offset:offset + info_size])
        offset += info_size
    unicode = bool(flags & IS_UNICODE)
    for flag, name in STRINGS:
        if flags & flag:
            count = struct.unpack_from("<H", data, offset)[0]
            offset += 2
            length = count * 2 if unicode else count
            raw = data[offset:offset + length]
            text = raw.decode("utf-16-le") if unicode else raw.decode(ANSI)
            link[name] = text[:-1] if text.endswith("\0") else text
            offset += length
    return link
