"""Writes the module-definition file of one stand-in device DLL: the functions the stand-ins
implement go to tw_device_world.dll, every other export of Wine's own copy of the DLL to that
copy, renamed <name>_wine.dll beside it, so nothing else in the process changes.

usage: make_forwarders.py WINE_DLL OUT_DEF OUT_COPY OBJDUMP
"""
import os
import re
import shutil
import subprocess
import sys

# What the adapters of Tarnwick.exe import, and so what tw_device_world.dll implements.
IMPLEMENTED = {
    "hid": {"HidD_FreePreparsedData", "HidD_GetAttributes", "HidD_GetFeature", "HidD_GetHidGuid",
            "HidD_GetPreparsedData", "HidD_SetFeature", "HidP_GetButtonCaps", "HidP_GetCaps",
            "HidP_GetValueCaps"},
    "setupapi": {"CM_Get_Device_IDW", "CM_Get_Parent", "SetupDiDestroyDeviceInfoList",
                 "SetupDiEnumDeviceInterfaces", "SetupDiGetClassDevsW",
                 "SetupDiGetDeviceInterfaceDetailW"},
    "winusb": {"WinUsb_AbortPipe", "WinUsb_ControlTransfer", "WinUsb_Free",
               "WinUsb_GetOverlappedResult", "WinUsb_GetPipePolicy", "WinUsb_Initialize",
               "WinUsb_QueryInterfaceSettings", "WinUsb_QueryPipe", "WinUsb_ReadPipe",
               "WinUsb_ResetPipe", "WinUsb_SetPipePolicy", "WinUsb_WritePipe"},
}


def exports(dll, objdump):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    names = []
    for line in table[1].splitlines()[1:]:
        match = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s*$", line)
        if not match:
            break
        names.append(match.group(1))
    return names


def main():
    wine_dll, out_def, out_copy, objdump = sys.argv[1:5]
    name = os.path.splitext(os.path.basename(wine_dll))[0].lower()
    implemented = IMPLEMENTED[name]
    names = exports(wine_dll, objdump)
    lines = [f"LIBRARY {name}.dll", "EXPORTS"]
    for export in names:
        target = "tw_device_world" if export in implemented else f"{name}_wine"
        lines.append(f"  {export}={target}.{export}")
    # Wine's copy may lack some (its winusb.dll is a partial one): the program imports them all.
    for export in sorted(implemented - set(names)):
        lines.append(f"  {export}=tw_device_world.{export}")
    with open(out_def, "w") as out:
        out.write("\n".join(lines) + "\n")
    shutil.copyfile(wine_dll, out_copy)


if __name__ == "__main__":
    main()
