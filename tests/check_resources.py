#!/usr/bin/env python3
"""Reads Tarvo.exe's resource section and checks it holds exactly the icon group, its five
PNG images and the version block, each as the launcher's resources are meant to be. With
--icon FILE.ico and --name NAME, a branded launcher's: the file's images, in its order, and
NAME as the description and product name.
usage: check_resources.py EXE [--icon FILE.ico] [--name NAME]"""
import argparse
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
ENGLISH_US = 1033
SIZES = [16, 32, 48, 64, 256]


def strings(name):
    return [("CompanyName", "Tarvo"), ("FileDescription", name), ("FileVersion", "1.0.0"),
            ("InternalName", "Tarvo"), ("OriginalFilename", "Tarvo.exe"), ("ProductName", name),
            ("ProductVersion", "1.0.0")]


def icon_file(path):
    """The group entries and images that an .ico file makes: (width, height, colours, planes,
    bits, image bytes), planes and bits given the resource compiler's defaults when 0."""
    data = open(path, "rb").read()
    result = []
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        implied = 0
        while colours > (1 << implied):
            implied += 1
        result.append((width, height, colours, planes or 1, bits or implied, data[offset:offset + size]))
    return result


def resources(data):
    """{(type, id, language): bytes} of a PE32+ file; named entries are reported as errors."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    assert struct.unpack_from("<H", data, optional)[0] == 0x20B, "not PE32+"
    root_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
    table = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise ValueError("address %#x in no section" % rva)

    base = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        assert named == 0, "named resource entries"
        for i in range(ids):
            yield struct.unpack_from("<II", data, base + directory + 16 + 8 * i)

    found = {}
    for kind, kinds in entries(0):
        for number, numbers in entries(kinds & 0x7FFFFFFF):
            for language, leaf in entries(numbers & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(kind, number, language)] = data[offset(rva):offset(rva) + size]
    return found


def version_node(data, at=0):
    """(key, value bytes, children) of one node of a version block."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    start = (key_end + 2 + 3) & ~3
    value = data[start:start + value_length * (2 if text else 1)]
    children, child = [], (start + len(value) + 3) & ~3
    while child < at + length:
        children.append(version_node(data, child))
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, children


def check(data, icon=None, name="Tarvo"):
    failures = []
    found = resources(data)
    count = len(icon) if icon else len(SIZES)
    expected_keys = {(RT_GROUP_ICON, 1, ENGLISH_US), (RT_VERSION, 1, ENGLISH_US)}
    expected_keys |= {(RT_ICON, i, ENGLISH_US) for i in range(1, count + 1)}
    if set(found) != expected_keys:
        failures.append("resources %s, expected %s" % (sorted(found), sorted(expected_keys)))
        return failures

    group = found[(RT_GROUP_ICON, 1, ENGLISH_US)]
    if struct.unpack_from("<HHH", group) != (0, 1, count) or len(group) != 6 + 14 * count:
        failures.append("icon group header %r" % (group[:6],))
    for index in range(count):
        width, height, colours, _, planes, bits, length, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
        image = found.get((RT_ICON, image_id, ENGLISH_US), b"")
        if icon:
            if (width, height, colours, planes, bits, image) != icon[index] or (length, image_id) != (len(image), index + 1):
                failures.append("icon image %d differs from the .ico file's" % (index + 1))
            continue
        size = SIZES[index]
        written = 0 if size == 256 else size
        if (width, height, colours, planes, bits, image_id) != (written, written, 0, 1, 32, index + 1) or length != len(image):
            failures.append("icon directory entry %d: %r" % (index + 1, (width, height, colours, planes, bits, length, image_id)))
        png = struct.unpack_from(">8s4x4sIIBB", image) if len(image) >= 26 else None
        if png != (b"\x89PNG\r\n\x1a\n", b"IHDR", size, size, 8, 6):
            failures.append("icon image %d is not a %dx%d RGBA PNG: %r" % (index + 1, size, size, png))

    key, fixed, children = version_node(found[(RT_VERSION, 1, ENGLISH_US)])
    fields = struct.unpack("<13I", fixed) if len(fixed) == 52 else ()
    if key != "VS_VERSION_INFO" or fields[:1] != (0xFEEF04BD,) or fields[2:] != (0x10000, 0, 0x10000, 0) + (0,) * 7:
        failures.append("fixed version part %s %r" % (key, fields))
    blocks = {k: c for k, _, c in children}
    if list(blocks) != ["StringFileInfo", "VarFileInfo"]:
        failures.append("version blocks %s" % list(blocks))
        return failures
    tables = blocks["StringFileInfo"]
    table = [(k, v.decode("utf-16-le").rstrip("\0")) for k, v, _ in tables[0][2]] if tables else []
    if [t[0] for t in tables] != ["040904B0"] or table != strings(name):
        failures.append("string table %s: %r" % ([t[0] for t in tables], table))
    translations = [(k, v) for k, v, _ in blocks["VarFileInfo"]]
    if translations != [("Translation", struct.pack("<HH", 0x0409, 1200))]:
        failures.append("translation %r" % translations)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--icon")
    parser.add_argument("--name", default="Tarvo")
    options = parser.parse_args()
    icon = icon_file(options.icon) if options.icon else None
    failures = check(open(options.exe, "rb").read(), icon, options.name)
    for failure in failures:
        print("FAIL: " + failure)
    print("resources of %s: %s" % (options.exe, "as expected" if not failures else "%d faults" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
