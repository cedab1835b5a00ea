#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (fuzz/corpus/<target>/), a few tiny files each:
well-formed inputs the fuzzer mutates from. Run it again after a format changes; the files
it writes are checked in."""
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def seed(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def u32(v):
    return struct.pack("<I", v)


def u64(v):
    return struct.pack("<Q", v)


def wstr(text):  # unit count with the NUL, then UTF-16LE units and the NUL
    units = text.encode("utf-16-le") + b"\0\0"
    return u32(len(units) // 2) + units


def block(data):
    return u32(len(data)) + data


def frame(payload):
    return u32(len(payload)) + payload


# Link commands (rapi/wire.h).
HELLO, CREATE, WRITE, SET_END, CLOSE, DELETE, FOLDER, VERSION, INVOKE = range(1, 10)
MAGIC = 0x41564F54
ALL = "ALL".encode("utf-16-le") + b"\0\0"

hello = frame(u32(HELLO) + u32(MAGIC) + u32(1) + u64(0))
seed("link_server_frames", "hello", hello)
seed("link_server_frames", "version", hello + frame(u32(VERSION)))
seed("link_server_frames", "file", hello
     + frame(u32(CREATE) + wstr("\\Temp\\seg01.bin") + u32(0x40000000) + u32(0) + u32(2) + u32(0x80))
     + frame(u32(WRITE) + u32(1) + block(b"segment bytes"))
     + frame(u32(SET_END) + u32(1)) + frame(u32(CLOSE) + u32(1))
     + frame(u32(DELETE) + wstr("\\Temp\\seg01.bin")))
seed("link_server_frames", "folder-invoke", hello + frame(u32(FOLDER) + u32(7) + u32(260))
     + frame(u32(INVOKE) + wstr("HARLIX") + wstr("FnTOVAInfo") + block(ALL)))

# The client's calls in order: version, create, write, set end, close, delete, folder, invoke.
answers = [
    frame(u32(VERSION) + u32(1) + u32(4) + u32(20) + u32(1081) + u32(3) + wstr("")),
    frame(u32(CREATE) + u32(1) + u32(0)),
    frame(u32(WRITE) + u32(1) + u32(16) + u32(0)),
    frame(u32(SET_END) + u32(1) + u32(0)),
    frame(u32(CLOSE) + u32(1) + u32(0)),
    frame(u32(DELETE) + u32(1) + u32(0)),
    frame(u32(FOLDER) + u32(8) + u32(0) + wstr("\\Startup")),
    frame(u32(INVOKE) + u32(0) + block(bytes(range(104)))),
]
seed("link_client_frames", "all-answered", b"".join(answers))
seed("link_client_frames", "refused", frame(u32(VERSION) + u32(0) + u32(0) * 4 + wstr(""))
     + frame(u32(CREATE) + u32(0xFFFFFFFF) + u32(3)))
seed("link_client_frames", "cut", answers[0][:10])

KEY = bytes([0x5A, 0xC3, 0x17, 0x8E, 0x42, 0xB9, 0x6D, 0xF0])


def scrambled(header):
    return bytes(b ^ KEY[i % 8] for i, b in enumerate(header))


def package_header(build, language):
    header = b"VORN" + b"R47_NK_H" + b"\0" * 12 + build.encode() + b"\0" + language.encode() + b"\0"
    return scrambled(header.ljust(36, b"\0")[:36])


seed("rom_package_header", "advanced", b"\x01" + package_header("05260300", "EN") + b"rom")
seed("rom_package_header", "basic-lower", b"\x02" + package_header("05260300", "DE"))
seed("rom_package_header", "folder-beside", b"\x05" + package_header(" -0501010", "FR"))

seed("fn_tova_info_input", "all", ALL)
seed("fn_tova_info_input", "all-longer", ALL + b"\x01\x02")
seed("fn_tova_info_input", "short", ALL[:5])

locks, protection, block_map = bytes(256), bytes(36), bytes(128)
fixed = locks + protection + block_map
flash = b"TOVAFLSH" + u32(1) + u32(0x02000000) + u32(2) + u32(128) + u32(zlib.crc32(fixed)) + u32(0) + fixed
seed("flash_file_header", "erased", flash)
locked = bytes([1]) + locks[1:]
seed("flash_file_header", "one-lock", flash[:24] + u32(zlib.crc32(locked + protection + block_map))
     + u32(0) + locked + protection + block_map)
seed("flash_file_header", "bad-count", flash[:28] + u32(1) + fixed)
# The current format's header page; a whole file (32 MiB more) is longer than the fuzzer's inputs.
current = b"TOVAFLSH" + u32(2) + u32(0x02000000) + u32(2) + u32(128) + u32(4096)
seed("flash_file_header", "current-header", (current + u32(zlib.crc32(current)) + locks + protection).ljust(4096, b"\0"))

seed("registry_file", "small", "tova-registry 1\nhive 0\nkey Drivers\\BuiltIn\\USB\n"
     "value Dll 1 750053004200000000\nvalue Order 4 02000000\nvalue % 3 -\n"
     "hive 1\nkey Control%20Panel\nend\n")
seed("registry_file", "empty", "tova-registry 1\nend\n")
seed("registry_file", "escaped", "tova-registry 1\nhive 3\nkey a%c3%a9\\b\nvalue n%25 7 00\nend\n")

settings = ("tova-emu-state 1\nmodel=advanced\nac=on\nbattery=100\nlanguage=1033\n"
            "identifier=000102030405060708090a0b0c0d0e0f\ncable=on\nboot-delay-ms=2000\n")
seed("machine_settings", "plain", settings)
seed("machine_settings", "faults", settings + "fault.model-query-garbage=3\nfault.ram-fragmentation=on\n"
     "fault.reboot-ignored=off\nfault.undeletable-value=Drivers\\BuiltIn\\USB|Dll\n"
     "flash-fault=stuck-bits 0 16 0xFFFF 0x0\nram-retained=on\nboot-count=7\n")
seed("machine_settings", "basic", settings.replace("advanced", "basic").replace("=100", "=255"))

seed("control_channel_requests", "info", b"info\0")
seed("control_channel_requests", "set-battery", b"set\0battery\x0040\0")
seed("control_channel_requests", "fault", b"set\0fault\0stuck-bits\0" b"0\0" b"0\0" b"0xFFFF\0" b"0xFFFF\0")
seed("control_channel_requests", "status", b"status\0")
seed("control_channel_requests", "reset", b"reset\0warm\0")

seed("license_text", "text", "Licence agreement\r\n\r\nYou may use this software.\r\n")
seed("license_text", "empty", "")
seed("license_text", "nul", b"before\0after")


# An ARM module (ELF32, ET_DYN, EM_ARM) as small as the loader takes: one export, one
# platform import, one relocation of each kind the loader applies.
def arm_module(reloc_types=(23, 2), import_name=b"Sleep"):
    def h(v):
        return struct.pack("<H", v)
    strings = b"\0FnTOVAInfo\0" + import_name + b"\0"
    hash_at, sym_at = 116, 140
    str_at = sym_at + 48
    rel_at = (str_at + len(strings) + 3) & ~3
    jmprel_at = rel_at + 16
    code_at = jmprel_at + 8
    data_at = code_at + 8
    dyn_at = data_at + 12
    dynamic = b"".join(u32(t) + u32(v) for t, v in [
        (4, hash_at), (5, str_at), (6, sym_at), (10, len(strings)), (11, 16), (17, rel_at),
        (18, 16), (19, 8), (23, jmprel_at), (2, 8), (20, 17), (0, 0)])
    end = dyn_at + len(dynamic)
    header = (b"\x7fELF\x01\x01\x01" + bytes(9) + h(3) + h(40) + u32(1) + u32(0) + u32(52)
              + u32(0) + u32(0x05000200) + h(52) + h(32) + h(2) + h(40) + h(0) + h(0))
    load = u32(1) + u32(0) + u32(0) + u32(0) + u32(end) + u32(end + 64) + u32(7) + u32(0x1000)
    dyn = u32(2) + u32(dyn_at) + u32(dyn_at) + u32(0) + u32(len(dynamic)) + u32(len(dynamic)) + u32(6) + u32(4)
    hash_table = u32(1) + u32(3) + u32(1) + u32(0) * 3
    symbols = (bytes(16) + u32(1) + u32(code_at) + u32(8) + bytes([0x12, 0]) + h(5)
               + u32(12) + u32(0) + u32(0) + bytes([0x12, 0]) + h(0))
    relocations = (u32(data_at) + u32(reloc_types[0]) + u32(data_at + 4) + u32((1 << 8) | reloc_types[1])
                   + u32(data_at + 8) + u32((2 << 8) | 22))
    code = u32(0xE3A00000) + u32(0xE12FFF1E)  # mov r0, #0; bx lr
    data = u32(code_at) + u32(0) + u32(0)
    image = header + load + dyn + hash_table + symbols + strings
    image += bytes(rel_at - len(image)) + relocations + code + data + dynamic
    assert len(image) == end
    return image


seed("arm_module", "minimal", arm_module())
seed("arm_module", "unknown_relocation", arm_module(reloc_types=(3, 2)))
seed("arm_module", "unknown_import", arm_module(import_name=b"Sleeq"))
