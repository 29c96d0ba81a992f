#!/usr/bin/python3
"""Makes the update packages the update tests serve.

update_packages.py OUT good     the files of an installation: bin/Brenloft, bin/updater (both
                                executable), share/brenloft/lang/english.txt; version 1.5
update_packages.py OUT slip     the same and a member "../escaped", which no extraction may
                                write outside its folder
update_packages.py OUT old      an older Brenloft, version 1.0
update_packages.py OUT VERSION  the good files, the archive comment VERSION ("" for none)
"""
import sys
import zipfile

MEMBERS = [
    ("bin/Brenloft", 0o100755, b"#!/bin/sh\necho 'Brenloft, the new one'\n"),
    ("bin/updater", 0o100755, b"#!/bin/sh\necho 'the new updater'\n"),
    ("share/brenloft/lang/english.txt", 0o100644, b"LANG=English\n0=bytes\n"),
]


def member(name, mode, data):
    info = zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10))
    info.create_system = 3
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info, data


def main():
    out, kind = sys.argv[1], sys.argv[2]
    members = [member(*m) for m in MEMBERS]
    version = {"good": "1.5", "slip": "1.5", "old": "1.0"}.get(kind, kind)
    if kind == "slip":
        members.append(member("../escaped", 0o100644, b"written outside\n"))
    elif kind == "old":
        members[0] = member("bin/Brenloft", 0o100755, b"#!/bin/sh\necho 'the old one'\n")
    with zipfile.ZipFile(out, "w") as archive:
        archive.comment = version.encode()
        for info, data in members:
            archive.writestr(info, data)


main()
