#!/usr/bin/python3
"""Makes the archives the extraction tests read.

extraction_samples.py mixed OUT SOURCE     stored and deflated members, folders, UTF-8 names
extraction_samples.py KIND OUT OUTSIDE     a hostile archive of one KIND (see HOSTILE below);
                                    OUTSIDE is a folder no extraction may write into
extraction_samples.py big OUT MIB         a small member, one of MIB MiB (mostly random, so the
                                    archive is nearly as large), another small one
"""
import os
import struct
import sys
import zipfile


def unix_member(name, mode, data=b"", method=zipfile.ZIP_STORED):
    info = zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10))
    info.create_system = 3
    info.external_attr = mode << 16
    info.compress_type = method
    return info, data


def patch(path, name, size=None, crc=None):
    """Rewrites a member's declared size and/or CRC-32 in its local and central headers."""
    with zipfile.ZipFile(path) as archive:
        infos = [i for i in archive.infolist() if i.filename == name]
    blob = bytearray(open(path, "rb").read())
    end = blob.rfind(b"PK\x05\x06")
    directory = struct.unpack_from("<I", blob, end + 16)[0]
    for info in infos:
        local = info.header_offset
        if crc is not None:
            struct.pack_into("<I", blob, local + 14, crc)
        if size is not None:
            struct.pack_into("<I", blob, local + 22, size)
    at = directory
    while blob[at:at + 4] == b"PK\x01\x02":
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", blob, at + 28)
        if blob[at + 46:at + 46 + name_len].decode("utf-8") == name:
            if crc is not None:
                struct.pack_into("<I", blob, at + 16, crc)
            if size is not None:
                struct.pack_into("<I", blob, at + 24, size)
        at += 46 + name_len + extra_len + comment_len
    open(path, "wb").write(bytes(blob))


def mixed(out, source):
    with zipfile.ZipFile(out, "w") as archive:
        for number, (root, dirs, files) in enumerate(sorted(os.walk(source))):
            relative = os.path.relpath(root, source)
            if relative != ".":
                archive.write(root, relative + "/")
            for name in sorted(files):
                method = zipfile.ZIP_DEFLATED if number % 2 else zipfile.ZIP_STORED
                archive.write(os.path.join(root, name),
                              os.path.normpath(os.path.join(relative, name)),
                              compress_type=method)


def hostile(kind, out, outside):
    escaped = b"should never leave the folder"
    members = [unix_member("ok.txt", 0o100644, b"fine")]
    if kind == "dotdot":
        members.append(unix_member("../escaped", 0o100644, escaped))
    elif kind == "absolute":
        members.append(unix_member(outside + "/escaped", 0o100644, escaped))
    elif kind == "inner_dotdot":
        members.append(unix_member("a/../../escaped", 0o100644, escaped))
    elif kind == "backslash":
        members.append(unix_member("a\\..\\..\\escaped", 0o100644, escaped))
    elif kind == "empty_component":
        members.append(unix_member("a//escaped", 0o100644, escaped))
    elif kind == "symlink":
        members.append(unix_member("link", 0o120777, outside.encode()))
        members.append(unix_member("link/escaped", 0o100644, escaped))
    elif kind == "device":
        members.append(unix_member("dev", 0o020644))
    elif kind == "setuid":
        members.append(unix_member("tool", 0o106755, b"#!/bin/sh\n"))
        members.append(unix_member("shared", 0o100666, b"for all\n"))
    elif kind == "control_names":
        # zipfile cuts a name at a NUL: "#" stands for it and is replaced below.
        for name in ("..#/escaped", "line\nfeed", "esc\x1b[2J"):
            members.append(unix_member(name, 0o100644, escaped))
    elif kind in ("bomb", "crc", "bad_deflate"):
        data = bytes(64 << 20) if kind == "bomb" else b"checked" * 100
        members.append(unix_member(kind, 0o100644, data, zipfile.ZIP_DEFLATED))
        members.append(unix_member("after.txt", 0o100644, b"after"))
    elif kind == "huge":
        members += [unix_member("part%03d" % n, 0o100644, b"x", zipfile.ZIP_DEFLATED)
                    for n in range(300)]
    elif kind == "long_extra":
        # An extra field longer than a reader that guesses the local header's length reads.
        info, data = unix_member("padded.txt", 0o100644, b"padded\n" * 100, zipfile.ZIP_DEFLATED)
        info.extra = struct.pack("<HH", 0xCAFE, 1000) + bytes(1000)
        members.append((info, data))
    elif kind == "bzip2":
        members.append(unix_member("packed.txt", 0o100644, b"bzip2 " * 1000, zipfile.ZIP_BZIP2))
    else:
        sys.exit("unknown kind " + kind)
    with zipfile.ZipFile(out, "w") as archive:
        for info, data in members:
            archive.writestr(info, data)
    if kind == "bomb":
        patch(out, "bomb", size=1000)
    elif kind == "crc":
        patch(out, "crc", crc=0x12345678)
    elif kind == "bad_deflate":
        # The first block's type set to the reserved 11: the data cannot be inflated.
        with zipfile.ZipFile(out) as archive:
            info = archive.getinfo("bad_deflate")
        blob = bytearray(open(out, "rb").read())
        name_len, extra_len = struct.unpack_from("<HH", blob, info.header_offset + 26)
        blob[info.header_offset + 30 + name_len + extra_len] |= 0x06
        open(out, "wb").write(bytes(blob))
    elif kind == "control_names":
        blob = open(out, "rb").read()
        open(out, "wb").write(blob.replace(b"..#/", b"..\0/"))
    elif kind == "huge":
        for n in range(300):
            patch(out, "part%03d" % n, size=0xF0000000)


def big(out, mib):
    """Written a block at a time: three random blocks in four, the fourth text."""
    text = b"".join(b"line %08d of the big member\n" % n for n in range(2260))[:65536]
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        archive.writestr(unix_member("first.txt", 0o100644, b"first\n" * 100,
                                     zipfile.ZIP_DEFLATED)[0], b"first\n" * 100)
        info = unix_member("big.bin", 0o100644, method=zipfile.ZIP_DEFLATED)[0]
        with archive.open(info, "w") as member:
            for n in range(mib * 16):
                member.write(text if n % 4 == 3 else os.urandom(65536))
        archive.writestr(unix_member("last.txt", 0o100644, b"", zipfile.ZIP_DEFLATED)[0],
                         b"the last member\n" * 50)


if __name__ == "__main__":
    if sys.argv[1] == "mixed":
        mixed(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "big":
        big(sys.argv[2], int(sys.argv[3]))
    else:
        hostile(sys.argv[1], sys.argv[2], sys.argv[3])
