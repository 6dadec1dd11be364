#!/usr/bin/env python3
"""Writes the database fixtures of the storage tests, byte by byte.

valid/    files that load: the tests pin the layout against them.
damaged/  files that every loader must reject as a whole, without crashing and
          without allocating what a length field claims. The fuzz harness of
          the loader (tools/fuzz/db_loader) starts from both folders.
Run it again after changing it; the files are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CREATED = 45306.25      # 2024-01-15 06:00, days since 1899-12-30
LAST_WRITE = 45307.75   # 2024-01-16 18:00


def header(name=b"Voxhall db", tag=0, version=1, magic=b"RRFB", size=64):
    field = name[:31] + b"\0" * (32 - len(name[:31]))
    return (magic + struct.pack("<HHH", size, version, 0) +
            struct.pack("<dd", CREATED, LAST_WRITE) + field + struct.pack("<i", tag) + b"\0\0")


def record(kind, name, tag=0):
    return struct.pack("<Bi", kind, len(name)) + name + struct.pack("<i", tag)


def i32(v):
    return struct.pack("<i", v)


USERS_LOGINS = record(1, b"Users") + record(2, b"Logins") + i32(3) + b"\0"

ALL_KINDS = (record(1, b"Node", tag=-1) +
             record(2, b"Int", tag=9) + i32(-123456) +
             record(3, b"Str") + i32(4) + b"text" +
             record(3, b"Str") + i32(9) + b"duplicate" +
             b"\0" +
             record(4, b"Bin") + i32(4) + bytes([0, 1, 2, 255]) +
             record(5, b"Float") + bytes([0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F]) +  # 1.0
             record(6, b"Wide") + i32(2) + "hé".encode("utf-16-le"))

NEGATIVE_LENGTHS = (struct.pack("<Bi", 3, -5) + i32(0) + i32(-1) +
                    record(4, b"b") + i32(-100) +
                    record(6, b"w") + i32(-2147483648))

VALID = {
    "empty.db": header() + b"\0\0",
    "users_logins.db": header() + USERS_LOGINS + b"\0\0",
    "all_kinds.db": header(b"all kinds", tag=5) + ALL_KINDS + b"\0\0",
    "negative_lengths.db": header() + NEGATIVE_LENGTHS + b"\0\0",
}

GOOD = header() + USERS_LOGINS + b"\0\0"
HUGE = 0x7FFFFFFF

DAMAGED = {
    "eight_bytes.db": GOOD[:8],
    "cut_in_header.db": GOOD[:40],
    "header_only.db": GOOD[:64],
    "bad_magic.db": b"RRFC" + GOOD[4:],
    "text_file.db": b"[Main Config]\r\nServerName=x\r\n",
    "version_2.db": GOOD[:6] + struct.pack("<H", 2) + GOOD[8:],
    "header_size_4.db": GOOD[:4] + struct.pack("<H", 4) + GOOD[6:],
    "header_size_past_end.db": GOOD[:4] + struct.pack("<H", 65535) + GOOD[6:],
    "kind_7.db": header() + record(7, b"x") + b"\0\0",
    "kind_7_nested.db": header() + record(1, b"Users") + record(2, b"a") + i32(1) +
                        record(7, b"x") + b"\0\0\0",
    "kind_255.db": header() + b"\xff" + b"\0" * 20,
    "cut_in_kind_length.db": header() + b"\x02\x05\x00",
    "cut_in_name.db": header() + b"\x01\x05\x00\x00\x00Use",
    "cut_in_tag.db": header() + struct.pack("<Bi", 2, 1) + b"a\x00\x00",
    "cut_in_integer.db": header() + record(2, b"a") + b"\x03\x00",
    "cut_in_string.db": header() + record(3, b"s") + i32(10) + b"short",
    "cut_in_float.db": header() + record(5, b"f") + b"\0\0\0\0\0",
    "cut_in_wide.db": header() + record(6, b"w") + i32(3) + b"a\0b",
    "cut_before_list_end.db": header() + USERS_LOGINS,
    "cut_in_nested_list.db": GOOD[:len(GOOD) - 3],
    "huge_name_length.db": header() + struct.pack("<Bi", 2, HUGE) + b"\0" * 30,
    "huge_string_length.db": header() + record(3, b"s") + i32(HUGE) + b"\0" * 30,
    "huge_binary_size.db": header() + record(4, b"b") + i32(HUGE) + b"\0" * 30,
    "huge_wide_count.db": header() + record(6, b"w") + i32(HUGE) + b"\0" * 30,
    "wide_count_past_end.db": header() + record(6, b"w") + i32(0x40000000) + b"\0" * 30,
    "length_one_past_end.db": header() + record(3, b"s") + i32(3) + b"ab",
}


def main():
    for folder, files in (("valid", VALID), ("damaged", DAMAGED)):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(HERE, folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
