"""Fails when a shipped program imports a DLL outside KnownDLLs, normally or delay-loaded:
any other name is looked for beside the program first. Reads the files; runs nothing.
Usage: import_allowlist_test.py program.exe..."""
import struct
import sys

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11,
# and ntdll, which every process maps first.
KNOWN = {name + ".dll" for name in (
    "advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt normaliz "
    "nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 ntdll").split()}


def imported_dlls(image):
    u32 = lambda at: struct.unpack_from("<I", image, at)[0]
    pe = u32(0x3C)
    count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    wide = struct.unpack_from("<H", image, optional)[0] == 0x20B
    base = struct.unpack_from("<Q" if wide else "<I", image, optional + (24 if wide else 28))[0]
    directories = optional + (112 if wide else 96)
    sections = [struct.unpack_from("<8xIIII", image, optional + optional_size + 40 * i) for i in range(count)]

    def offset(rva):
        for size, address, raw_size, raw in sections:
            if address <= rva < address + max(size, raw_size) and rva - address < raw_size:
                return raw + rva - address
        return None

    def dll_name(rva):
        at = offset(rva)
        text = image[at:image.find(b"\0", at, at + 256)] if at is not None else b""
        return text.decode("ascii").lower() if text.isascii() and text.lower().endswith(b".dll") else None

    def table(rva, entry, name_of):
        at = offset(rva) if rva else None
        while at is not None and any(image[at:at + entry]):
            yield name_of(at)
            at += entry

    names = set(table(u32(directories + 8), 20, lambda at: dll_name(u32(at + 12))))
    names |= set(table(u32(directories + 13 * 8), 32,
                       lambda at: dll_name(u32(at + 4) if u32(at) & 1 else u32(at + 4) - base)))
    # GNU ld leaves the delay-load directory empty: every aligned run shaped like an
    # RVA-based descriptor (attributes 1, a DLL name, handle, IAT and name table) counts.
    for _, _, raw_size, raw in sections:
        for at in range(raw, raw + raw_size - 31, 4):
            attributes, name, handle, iat, name_table = struct.unpack_from("<5I", image, at)
            if attributes == 1 and all(offset(rva) is not None for rva in (handle, iat, name_table)):
                names.add(dll_name(name))
    names.discard(None)
    return names


failed = False
for path in sys.argv[1:]:
    with open(path, "rb") as file:
        names = imported_dlls(file.read())
    print(f"{path}: {', '.join(sorted(names))}")
    if names - KNOWN or not names:
        print(f"  outside KnownDLLs: {', '.join(sorted(names - KNOWN)) or 'no imports read'}")
        failed = True
sys.exit(1 if failed else 0)
