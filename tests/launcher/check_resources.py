#!/usr/bin/env python3
"""Checks the resources of the shipped fwcarrier.exe: the nine kit entries under their types, ids and language
0x0404, each holding the bytes of its kit file, and the embedded manifest.

usage: check_resources.py FWCARRIER_EXE TYPE|ID|FILE...
"""
import sys
import xml.etree.ElementTree as ElementTree

import pefile

KIT_LANGUAGE = 0x0404
RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def resources(pe):
    """(type, id, language) -> bytes of every resource; string types by name, numeric ones by number."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(type_entry.name) if type_entry.name is not None else type_entry.id
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                found[(type_key, name_entry.id, language_entry.id)] = pe.get_data(data.OffsetToData, data.Size)
    return found


def manifest_faults(text):
    root = ElementTree.fromstring(text)
    faults = []
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                      f"{ASM_V3}requestedExecutionLevel")
    if level is None or level.get("level") != "requireAdministrator" or level.get("uiAccess") != "false":
        faults.append("manifest: no requestedExecutionLevel requireAdministrator without UI access")
    controls = [identity for identity in root.iter(f"{ASM_V1}assemblyIdentity")
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    if not any(c.get("version") == "6.0.0.0" and c.get("processorArchitecture") == "x86" for c in controls):
        faults.append("manifest: no dependency on the common controls 6.0.0.0 for x86")
    dpi_aware = root.find(f"{ASM_V3}application/{ASM_V3}windowsSettings/{WINDOWS_SETTINGS}dpiAware")
    if dpi_aware is None or dpi_aware.text.strip().lower() != "true":
        faults.append("manifest: not DPI-aware")
    return faults


def main():
    executable, expected_rows = sys.argv[1], sys.argv[2:]
    pe = pefile.PE(executable)
    faults = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        faults.append("not an i686 program")
    found = resources(pe)

    expected = {}
    for row in expected_rows:
        type_name, resource_id, path = row.split("|", 2)
        with open(path, "rb") as kit_file:
            expected[(type_name, int(resource_id), KIT_LANGUAGE)] = kit_file.read()
    kit = {key: data for key, data in found.items() if key[0] in ("EXE", "DLL", "INI")}
    for key in sorted(set(expected) | set(kit), key=str):
        if key not in kit:
            faults.append(f"missing {key[0]} {key[1]} in language {key[2]:#06x}")
        elif key not in expected:
            faults.append(f"unexpected {key[0]} {key[1]} in language {key[2]:#06x}")
        elif kit[key] != expected[key]:
            faults.append(f"{key[0]} {key[1]} does not hold the bytes of its kit file")
        else:
            print(f"{key[0]} {key[1]} {key[2]:#06x}: {len(kit[key])} bytes")

    manifests = [data for key, data in found.items() if key[0] == RT_MANIFEST and key[1] == 1]
    if len(manifests) != 1:
        faults.append(f"expected one manifest with id 1, found {len(manifests)}")
    else:
        faults += manifest_faults(manifests[0])

    for fault in faults:
        print("FAULT:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
