#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes the hand-made hostile books of fuzz/regressions/<zip|rar|7z|tar|pdf|comicinfo>/:
# each lies or misbehaves in one way a book reader must survive (claimed
# sizes, ratios, names leaving the book, links, encryption, volumes,
# truncation, loops in a PDF's page tree, huge pages, XML without end).
#
#   python3 fuzz/make_book_regressions.py [fuzz/regressions]
#
# Zip, tar and PDF are written here byte by byte or with Python's own
# modules; 7z through libarchive's writer (ctypes); RAR 4 and RAR 5 blocks
# are built by hand (no RAR writer is free software). The files are kept in
# the repository: run this again only to change them.
import ctypes
import io
import os
import struct
import subprocess
import sys
import tarfile
import zipfile
import zlib

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "regressions")

# A small page: an 8 x 8 grey JPEG made by ImageMagick.
JPEG = subprocess.run(["convert-im6.q16", "-size", "8x8", "gradient:", "-quality", "50", "jpg:-"],
                      check=True, capture_output=True).stdout
INFO = b'<?xml version="1.0"?><ComicInfo><Title>T</Title><PageCount>2</PageCount></ComicInfo>'


def write(target, name, data):
    os.makedirs(os.path.join(OUT, target), exist_ok=True)
    with open(os.path.join(OUT, target, name), "wb") as f:
        f.write(data)


def zip_of(entries, method=zipfile.ZIP_STORED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), data, compress_type=method)
    return bytearray(buf.getvalue())


def patch_all(data, old, new):
    """Replaces every occurrence of the bytes `old` (same length as `new`)."""
    assert len(old) == len(new)
    out = bytes(data).replace(old, new)
    return bytearray(out)


# ---- zip ----
def zips():
    write("zip", "hostile-names.cbz",
          bytes(zip_of([("../up.jpg", JPEG), ("/abs.jpg", JPEG), ("a/../../b.jpg", JPEG),
                        ("__MACOSX/._1.jpg", JPEG), (".hidden.jpg", JPEG), ("Thumbs.db", b"x"),
                        ("C:\\win.jpg", JPEG), ("1.jpg", JPEG), ("ComicInfo.xml", INFO)])))
    # A symbolic link entry (Unix mode 0120777 in the external attributes).
    z = io.BytesIO()
    with zipfile.ZipFile(z, "w") as w:
        link = zipfile.ZipInfo("link.jpg", (2020, 1, 1, 0, 0, 0))
        link.create_system = 3
        link.external_attr = 0o120777 << 16
        w.writestr(link, "../../../../etc/passwd")
        w.writestr(zipfile.ZipInfo("2.jpg", (2020, 1, 1, 0, 0, 0)), JPEG)
    write("zip", "link-entry.cbz", z.getvalue())
    # 40 MiB of zeros deflated (about 1000 to 1): the ratio limit.
    write("zip", "ratio-bomb.cbz", bytes(zip_of([("1.bmp", b"\0" * (40 << 20))],
                                                zipfile.ZIP_DEFLATED)))
    # A page that claims 16 bytes but inflates to 8 MiB; and one that claims
    # 4 GiB - 1 but holds a few bytes.
    data = zip_of([("1.bmp", b"\0" * (8 << 20))], zipfile.ZIP_DEFLATED)
    size = struct.pack("<I", 8 << 20)
    write("zip", "size-understated.cbz", bytes(patch_all(data, size, struct.pack("<I", 16))))
    data = zip_of([("1.jpg", JPEG)])
    size = struct.pack("<I", len(JPEG))
    write("zip", "size-overstated.cbz", bytes(patch_all(data, size, struct.pack("<I", 0xFFFFFFFE))))
    # The encryption flag set on a stored page (no real cipher behind it).
    data = zip_of([("1.jpg", JPEG), ("2.jpg", JPEG)])
    data = patch_all(data, b"PK\x03\x04\x14\x00\x00\x00", b"PK\x03\x04\x14\x00\x01\x00")
    data = patch_all(data, b"PK\x01\x02\x14\x03\x14\x00\x00\x00", b"PK\x01\x02\x14\x03\x14\x00\x01\x00")
    write("zip", "flagged-encrypted.cbz", bytes(data))
    # Cut short in the middle of the second page; the central directory only.
    data = zip_of([("1.jpg", JPEG), ("2.jpg", JPEG), ("3.jpg", JPEG)])
    write("zip", "truncated.cbz", bytes(data[: len(data) // 2]))
    write("zip", "directory-only.cbz", bytes(data[data.find(b"PK\x01\x02"):]))
    # A central directory that points every entry at the first one's data.
    data = zip_of([("1.jpg", JPEG), ("2.jpg", JPEG), ("3.jpg", JPEG)])
    cd = data.find(b"PK\x01\x02")
    for at in range(cd, len(data) - 4):
        if data[at:at + 4] == b"PK\x01\x02":
            data[at + 42:at + 46] = b"\0\0\0\0"
    write("zip", "overlapping.cbz", bytes(data))


# ---- tar ----
def tars():
    def tar_of(members):
        buf = io.BytesIO()
        with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT) as t:
            for info, data in members:
                info.mtime = 1577836800
                t.addfile(info, io.BytesIO(data) if data is not None else None)
        return bytearray(buf.getvalue())

    def file(name, data):
        info = tarfile.TarInfo(name)
        info.size = len(data)
        return info, data

    def special(name, kind, target=""):
        info = tarfile.TarInfo(name)
        info.type = kind
        info.linkname = target
        return info, None

    write("tar", "hostile-names.cbt", bytes(tar_of([
        file("../up.jpg", JPEG), file("/abs.jpg", JPEG), special("link.jpg", tarfile.SYMTYPE, "/etc/passwd"),
        special("hard.jpg", tarfile.LNKTYPE, "1.jpg"), special("fifo.jpg", tarfile.FIFOTYPE),
        special("dev.jpg", tarfile.CHRTYPE), file("1.jpg", JPEG), file("ComicInfo.xml", INFO)])))
    # A header claiming an 8 GiB page (octal size field) followed by a few bytes.
    data = tar_of([file("1.jpg", JPEG), file("2.jpg", JPEG)])
    second = 512 + (len(JPEG) + 511) // 512 * 512  # the second entry's header
    data[second + 124:second + 136] = b"\x80" + (8 << 30).to_bytes(11, "big")  # base-256
    data[second + 148:second + 156] = b"        "
    data[second + 148:second + 155] = b"%06o\0" % sum(data[second:second + 512])
    write("tar", "size-overstated.cbt", bytes(data))
    # A header with a bad checksum, and one cut short.
    data = tar_of([file("1.jpg", JPEG), file("2.jpg", JPEG)])
    data[148:156] = b"0000000\0"
    write("tar", "bad-checksum.cbt", bytes(data))
    write("tar", "truncated.cbt", bytes(tar_of([file("1.jpg", JPEG), file("2.jpg", JPEG)])[:700]))
    # A GNU long name that never ends (its size says 1 GiB).
    data = tar_of([file("a" * 200 + ".jpg", JPEG)])
    data[124:136] = b"%011o\0" % (1 << 30)
    write("tar", "long-name-size.cbt", bytes(data))


# ---- 7z (libarchive's writer) ----
def sevenzips():
    la = ctypes.CDLL("libarchive.so.13")
    la.archive_write_new.restype = ctypes.c_void_p
    la.archive_entry_new.restype = ctypes.c_void_p
    for f in ("archive_write_set_format_7zip", "archive_write_close", "archive_write_free",
              "archive_write_header", "archive_entry_free"):
        getattr(la, f).argtypes = [ctypes.c_void_p] * (2 if f == "archive_write_header" else 1)
    la.archive_write_set_format_option.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                                   ctypes.c_char_p, ctypes.c_char_p]
    la.archive_write_open_memory.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                             ctypes.POINTER(ctypes.c_size_t)]
    la.archive_write_data.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
    la.archive_write_data.restype = ctypes.c_ssize_t
    la.archive_entry_set_pathname.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    la.archive_entry_set_size.argtypes = [ctypes.c_void_p, ctypes.c_int64]
    la.archive_entry_set_filetype.argtypes = [ctypes.c_void_p, ctypes.c_uint]
    la.archive_entry_set_perm.argtypes = [ctypes.c_void_p, ctypes.c_uint]
    la.archive_entry_set_symlink.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    la.archive_entry_set_mtime.argtypes = [ctypes.c_void_p, ctypes.c_int64, ctypes.c_long]

    def seven_of(entries, compression=b"deflate"):
        a = la.archive_write_new()
        la.archive_write_set_format_7zip(a)
        la.archive_write_set_format_option(a, b"7zip", b"compression", compression)
        buf = ctypes.create_string_buffer(64 << 20)
        used = ctypes.c_size_t(0)
        assert la.archive_write_open_memory(a, buf, len(buf), ctypes.byref(used)) == 0
        for name, data, link in entries:
            e = la.archive_entry_new()
            la.archive_entry_set_pathname(e, name.encode())
            la.archive_entry_set_mtime(e, 1577836800, 0)
            if link is not None:
                la.archive_entry_set_filetype(e, 0o120000)
                la.archive_entry_set_symlink(e, link.encode())
            else:
                la.archive_entry_set_filetype(e, 0o100000)
                la.archive_entry_set_size(e, len(data))
            la.archive_entry_set_perm(e, 0o644)
            la.archive_write_header(a, e)
            if link is None and data:
                la.archive_write_data(a, data, len(data))
            la.archive_entry_free(e)
        la.archive_write_close(a)
        la.archive_write_free(a)
        return bytearray(buf.raw[:used.value])

    write("7z", "hostile-names.cb7", bytes(seven_of([
        ("../up.jpg", JPEG, None), ("/abs.jpg", JPEG, None), ("link.jpg", None, "/etc/passwd"),
        ("1.jpg", JPEG, None), ("ComicInfo.xml", INFO, None)])))
    # Solid, 40 MiB of zeros in one page (the ratio limit), and pages after it.
    write("7z", "ratio-bomb.cb7", bytes(seven_of([("1.bmp", b"\0" * (40 << 20), None),
                                                  ("2.jpg", JPEG, None)], b"lzma2")))
    data = seven_of([(f"{i}.jpg", JPEG, None) for i in range(1, 6)], b"lzma2")
    write("7z", "truncated.cb7", bytes(data[: len(data) * 2 // 3]))
    # The header's own size field (start header, bytes 20..27) says 1 TiB.
    data = seven_of([("1.jpg", JPEG, None)])
    data[20:28] = struct.pack("<Q", 1 << 40)
    write("7z", "header-size.cb7", bytes(data))


# ---- RAR 4 and RAR 5, built by hand (stored entries) ----
def rar4_block(kind, flags, body, add=b""):
    flags |= 0x8000 if add else 0
    head = struct.pack("<BHH", kind, flags, 7 + len(body) + (4 if add else 0))
    head += struct.pack("<I", len(add)) if add else b""
    head += body
    return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head + add


def rar4_file(name, data, flags=0, unpacked=None):
    unp = len(data) if unpacked is None else unpacked
    body = struct.pack("<IBIIBBHI", unp, 3, zlib.crc32(data), 0x50210000, 29, 0x30,
                       len(name), 0o100644 << 16)
    # PACK_SIZE is the block's ADD_SIZE; the body starts after it with UNP_SIZE.
    head = struct.pack("<BHH", 0x74, flags | 0x8000, 7 + 4 + len(body) + len(name))
    head += struct.pack("<I", len(data)) + body + name
    return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head + data


def rar4(blocks, main_flags=0):
    return (b"Rar!\x1a\x07\x00" + rar4_block(0x73, main_flags, b"\0" * 6) + b"".join(blocks) +
            rar4_block(0x7B, 0, b""))


def vint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        out.append(b | (0x80 if n else 0))
        if not n:
            return bytes(out)


def rar5_header(kind, flags, fields, data_size=None):
    body = vint(kind) + vint(flags | (0x02 if data_size is not None else 0))
    body += vint(data_size) if data_size is not None else b""
    body += fields
    head = vint(len(body)) + body
    return struct.pack("<I", zlib.crc32(head)) + head


def rar5_file(name, data, unpacked=None, comp=0):
    unp = len(data) if unpacked is None else unpacked
    fields = (vint(0x04) + vint(unp) + vint(0o644) + struct.pack("<I", zlib.crc32(data)) +
              vint(comp) + vint(1) + vint(len(name)) + name)
    return rar5_header(2, 0, fields, len(data)) + data


def rar5(blocks, archive_flags=0):
    return (b"Rar!\x1a\x07\x01\x00" + rar5_header(1, 0, vint(archive_flags)) + b"".join(blocks) +
            rar5_header(5, 0, vint(0)))


def rars():
    write("rar", "rar4-hostile-names.cbr", rar4([
        rar4_file(b"../up.jpg", JPEG), rar4_file(b"/abs.jpg", JPEG), rar4_file(b"sub\\1.jpg", JPEG),
        rar4_file(b"ComicInfo.xml", INFO)]))
    write("rar", "rar4-size-overstated.cbr", rar4([rar4_file(b"1.jpg", JPEG, unpacked=0xFFFFFFF0),
                                                   rar4_file(b"2.jpg", JPEG)]))
    write("rar", "rar4-encrypted-entry.cbr", rar4([rar4_file(b"1.jpg", JPEG, flags=0x04),
                                                   rar4_file(b"2.jpg", JPEG)]))
    write("rar", "rar4-split.cbr", rar4([rar4_file(b"1.jpg", JPEG, flags=0x02)], main_flags=0x01))
    write("rar", "rar4-truncated.cbr", rar4([rar4_file(b"1.jpg", JPEG)])[:60])
    write("rar", "rar5-hostile-names.cbr", rar5([
        rar5_file(b"../up.jpg", JPEG), rar5_file(b"/abs.jpg", JPEG), rar5_file(b"1.jpg", JPEG)]))
    write("rar", "rar5-size-overstated.cbr", rar5([rar5_file(b"1.jpg", JPEG, unpacked=1 << 40)]))
    # Compression method 5 with a stored body: the unpacker meets garbage.
    write("rar", "rar5-bad-method.cbr", rar5([rar5_file(b"1.jpg", JPEG, comp=5 << 7),
                                              rar5_file(b"2.jpg", JPEG)]))
    write("rar", "rar5-volume.cbr", rar5([rar5_file(b"1.jpg", JPEG)], archive_flags=0x01 | 0x02))
    write("rar", "rar5-truncated.cbr", rar5([rar5_file(b"1.jpg", JPEG)])[:40])


# ---- PDF ----
def pdf_of(objects, root=1):
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1,
                                                                            root, xref)
    return bytes(out)


def stream(dict_text, data):
    return b"<< " + dict_text + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"


def pdfs():
    # One page, one image that claims 100000 x 100000 pixels.
    draw = b"q 600 0 0 800 0 0 cm /Im0 Do Q"
    write("pdf", "image-claims-huge.pdf", pdf_of([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
        b"/Resources << /XObject << /Im0 5 0 R >> >> >>",
        stream(b"", draw),
        stream(b"/Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace "
               b"/DeviceGray /BitsPerComponent 8 /Filter /FlateDecode", zlib.compress(b"\0" * 4096))]))
    # A page 100000 points wide and 1 tall, and one 1 x 1.
    write("pdf", "extreme-pages.pdf", pdf_of([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100000 1] >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 0.01 0.01] >>"]))
    # A page tree whose kids point back up, and a count that lies.
    write("pdf", "page-tree-loop.pdf", pdf_of([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 1000000 >>",
        b"<< /Type /Pages /Parent 2 0 R /Kids [2 0 R 3 0 R] /Count 5 >>"]))
    # No pages; and a file cut short after its first object.
    write("pdf", "no-pages.pdf", pdf_of([b"<< /Type /Catalog /Pages 2 0 R >>",
                                         b"<< /Type /Pages /Kids [] /Count 0 >>"]))
    whole = pdf_of([b"<< /Type /Catalog /Pages 2 0 R >>",
                    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] >>"])
    write("pdf", "truncated.pdf", whole[:70])
    # Encrypted (a standard security handler with an empty-looking dictionary).
    write("pdf", "encrypted.pdf", whole.replace(b"/Root 1 0 R", b"/Root 1 0 R /Encrypt << /Filter "
                                                b"/Standard /V 2 /R 3 /O (x) /U (y) /P -4 >>"))


# ---- ComicInfo.xml ----
def comicinfos():
    write("comicinfo", "unterminated.xml", b"<ComicInfo><Title>" + b"a" * 5000)
    write("comicinfo", "deep-nesting.xml", b"<ComicInfo>" + b"<a>" * 20000 + b"</ComicInfo>")
    write("comicinfo", "entities.xml",
          b'<!DOCTYPE x [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
          b'<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><ComicInfo><Title>&c;&c;&c;</Title>'
          b"<Writer>&#0;&#x110000;&#xD800;&#99999999999;&amp</Writer></ComicInfo>")
    write("comicinfo", "long-fields.xml", b"<ComicInfo><Title>" + b"\xe4\xb8\xad" * 100000 +
          b"</Title><PageCount>99999999999999999999</PageCount><Number>-1</Number>"
          b'<Manga>YesAndRightToLeft</Manga><Pages><Page Image="-5"/><Page Image="1e99"/></Pages>'
          b"</ComicInfo>")
    write("comicinfo", "bad-utf8.xml", b"\xff\xfe<\0C\0o\0m\0i\0c\0I\0n\0f\0o\0>\0"
          b"<ComicInfo><Title>\xc3\x28\xed\xa0\x80\xf4\x90\x80\x80</Title></ComicInfo>")


zips()
tars()
sevenzips()
rars()
pdfs()
comicinfos()
