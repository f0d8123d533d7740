"""Finding and loading the libraries.

Each library is looked for, in this order: at the path in its environment
variable; beside the package; in ``<package>/../../bin`` (the layout of the
Windows download); in the library folders of the install the package came
with; in the build tree the package came from; and last by file name through
the system loader (LD_LIBRARY_PATH, the installed libraries). On Windows a DLL
built for another processor width than this interpreter's is skipped there,
and refused when named by path, before Windows is asked to load it.
"""

from __future__ import annotations

import ctypes
import os
import platform
import struct
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import List, Mapping, Optional, Sequence, Tuple

from . import _locations
from ._errors import LibraryError

IS_WINDOWS = sys.platform == "win32"
PACKAGE_FOLDER = Path(__file__).resolve().parent


@dataclass(frozen=True)
class LibraryKind:
    """One of the libraries the package loads."""

    description: str
    environment: str
    posix_name: str
    windows_name: str

    def file_name(self, windows: bool = IS_WINDOWS) -> str:
        return self.windows_name if windows else self.posix_name


CARD = LibraryKind("the library for the card", "ORVEXPORTIO_LIBRARY",
                   "liborvexportio.so.1", "orvexportio.dll")
SIMULATED = LibraryKind("the virtual-controller build", "ORVEXPORTIO_SIM_LIBRARY",
                        "liborvexportio-sim.so.1", "orvexportio-sim.dll")
DIAGNOSIS = LibraryKind("the port diagnosis library", "ORVEXPORTIO_DIAGNOSIS_LIBRARY",
                        "liborvexportio-diagnosis.so.1", "orvexportio-diagnosis.dll")

# The machine field of a PE file's header.
PE_MACHINES = {0x014C: "32-bit x86", 0x8664: "64-bit x86-64", 0xAA64: "64-bit ARM"}


def pe_machine(header: bytes) -> Optional[int]:
    """The machine field of a PE image whose first bytes are `header`, or None
    when they are not those of a PE image (or too few to tell)."""
    if len(header) < 0x40 or header[:2] != b"MZ":
        return None
    (signature_offset,) = struct.unpack_from("<I", header, 0x3C)
    if signature_offset + 6 > len(header):
        return None
    if header[signature_offset:signature_offset + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", header, signature_offset + 4)
    return int(machine)


def file_pe_machine(path: Path) -> Optional[int]:
    """The machine field of the PE image at `path`, None when it is not one."""
    with open(path, "rb") as image:
        header = image.read(4096)
    return pe_machine(header)


def interpreter_machine() -> int:
    """The PE machine field of a DLL this interpreter can load."""
    if struct.calcsize("P") == 4:
        return 0x014C
    if platform.machine().upper() in ("ARM64", "AARCH64"):
        return 0xAA64
    return 0x8664


def machine_name(machine: Optional[int]) -> str:
    if machine is None:
        return "not a Windows DLL"
    return PE_MACHINES.get(machine, f"machine 0x{machine:04X}")


def misfit(path: Path, machine: int) -> Optional[str]:
    """Why the DLL at `path` cannot be loaded by a process of `machine`, or None."""
    found = file_pe_machine(path)
    if found == machine:
        return None
    return f"{machine_name(found)}, this Python is {machine_name(machine)}"


def candidate_folders(package_folder: Path = PACKAGE_FOLDER,
                      installed: Sequence[str] = _locations.INSTALLED_FOLDERS,
                      build: Sequence[str] = _locations.BUILD_FOLDERS) -> List[Path]:
    """The folders searched after the environment variable, in order."""
    folders = [package_folder, package_folder.parent.parent / "bin"]
    folders += [package_folder / relative for relative in installed]
    folders += [Path(folder) for folder in build]
    unique: List[Path] = []
    for folder in folders:
        folder = Path(os.path.normpath(folder))
        if folder not in unique:
            unique.append(folder)
    return unique


def refuse_misfit(path: Path, windows: bool, machine: int, named_by: str) -> None:
    if not windows:
        return
    reason = misfit(path, machine)
    if reason is not None:
        raise LibraryError(f"{named_by} {path} does not fit this interpreter ({reason}); "
                           "use the download whose width matches the Python process")


def locate(kind: LibraryKind, *, windows: bool = IS_WINDOWS,
           machine: Optional[int] = None,
           folders: Optional[Sequence[Path]] = None,
           environ: Mapping[str, str] = os.environ) -> Tuple[Optional[Path], List[str]]:
    """The file to load for `kind`, or None to ask the system loader by name,
    with the places looked at (and why a file found there was skipped)."""
    machine = interpreter_machine() if machine is None else machine
    named = environ.get(kind.environment)
    if named:
        path = Path(named)
        if not path.is_file():
            raise LibraryError(f"{kind.environment}={named} names no file")
        refuse_misfit(path, windows, machine, f"{kind.environment} names")
        return path, [str(path)]
    tried: List[str] = []
    name = kind.file_name(windows)
    for folder in candidate_folders() if folders is None else folders:
        path = folder / name
        if not path.is_file():
            tried.append(str(path))
            continue
        reason = misfit(path, machine) if windows else None
        if reason is None:
            return path, tried + [str(path)]
        tried.append(f"{path} (skipped: {reason})")
    return None, tried


def load(kind: LibraryKind) -> Tuple[ctypes.CDLL, str]:
    """Loads `kind` as the search finds it; returns the library and what was loaded."""
    path, tried = locate(kind)
    name = kind.file_name()
    target = str(path) if path is not None else name
    try:
        return ctypes.CDLL(target), target
    except OSError as error:
        places = "".join(f"\n  {place}" for place in tried)
        raise LibraryError(
            f"cannot load {kind.description}: {error}\n"
            f"set {kind.environment} to its path; looked at:{places}\n"
            f"  and asked the system loader for {name}") from None


def load_file(path: Path) -> ctypes.CDLL:
    """Loads exactly the file at `path`."""
    if IS_WINDOWS and path.is_file():
        refuse_misfit(path, True, interpreter_machine(), "the library")
    try:
        return ctypes.CDLL(str(path))
    except OSError as error:
        raise LibraryError(f"cannot load {path}: {error}") from None
