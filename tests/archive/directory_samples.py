"""Archives for the central-directory tests, made with Python's zipfile, and its reading of them.

make KIND OUT   writes one archive: utf8, cp437, comment or zip64
list ZIP        prints what zipfile reads from the archive, as JSON
"""
import json
import sys
import zipfile

WHEN = (2021, 3, 14, 15, 9, 26)


def add(archive, name, data, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, WHEN)
    info.compress_type = method
    info.external_attr = 0o100644 << 16
    archive.writestr(info, data)


def make(kind, out):
    if kind == "cp437":
        # zipfile writes non-ASCII names as UTF-8 only, so the names are written as ASCII
        # placeholders of the same length and replaced by their code page 437 bytes.
        high = bytes(range(0x80, 0x100))
        with zipfile.ZipFile(out, "w") as archive:
            add(archive, "caf@.txt", b"coffee\n")
            add(archive, "#" * 128, b"every upper byte\n", zipfile.ZIP_STORED)
        data = open(out, "rb").read()
        data = data.replace(b"caf@.txt", b"caf\x82.txt").replace(b"#" * 128, high)
        open(out, "wb").write(data)
    elif kind == "utf8":
        with zipfile.ZipFile(out, "w") as archive:
            add(archive, "café/", b"")
            add(archive, "café/naïve résumé.txt", "ünïcödé\n".encode() * 50)
            add(archive, "日本語/テスト.txt", b"x" * 1000)
            add(archive, "plain.txt", b"ascii only\n", zipfile.ZIP_STORED)
    elif kind == "comment":
        with zipfile.ZipFile(out, "w") as archive:
            add(archive, "a.txt", b"a" * 3000)
            add(archive, "sub/b.txt", b"b" * 10, zipfile.ZIP_STORED)
            archive.comment = b"made for the directory reader's tests\n" * 25
    elif kind == "zip64":
        # More entries than 16 bits count, and the longest comment, so that the ZIP64 records
        # lie before the last 65,557 bytes.
        with zipfile.ZipFile(out, "w", allowZip64=True) as archive:
            for i in range(70000):
                add(archive, f"d{i % 7}/f{i}.txt", b"%d" % i, zipfile.ZIP_STORED)
            archive.comment = b"c" * 65535
    else:
        sys.exit("unknown kind " + kind)


def listing(path):
    with zipfile.ZipFile(path) as archive:
        return [
            {
                "name": info.filename,
                "compressed": info.compress_size,
                "uncompressed": info.file_size,
                "crc": info.CRC,
                "method": info.compress_type,
                "flags": info.flag_bits,
                "offset": info.header_offset,
                "external": info.external_attr,
                "when": list(info.date_time),
            }
            for info in archive.infolist()
        ]


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    else:
        json.dump(listing(sys.argv[2]), sys.stdout)
