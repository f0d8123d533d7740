"""How the installed package finds its libraries: the search order, the
error that names the variable and the places looked at, and on Windows the
check of a DLL's processor width against the interpreter's, on tiny
synthetic PE headers (the checks take the platform as an argument, so they
run here)."""

import os
import struct
import tempfile
import unittest
from pathlib import Path

import orvexportio
from orvexportio import _loader

I386, AMD64 = 0x014C, 0x8664


def pe_image(machine, signature_offset=0x80, signature=b"PE\0\0"):
    """The first bytes of a PE image: the DOS header's magic and the offset of
    the PE signature, then the signature and the machine field."""
    dos = bytearray(signature_offset)
    dos[:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, signature_offset)
    return bytes(dos) + signature + struct.pack("<H", machine) + bytes(18)


class PeMachineTest(unittest.TestCase):
    def test_reads_the_machine_field(self):
        for machine in (I386, AMD64, 0xAA64):
            with self.subTest(machine=hex(machine)):
                self.assertEqual(_loader.pe_machine(pe_image(machine)), machine)
        self.assertEqual(_loader.pe_machine(pe_image(AMD64, signature_offset=0x40)), AMD64)

    def test_anything_else_is_not_a_pe_image(self):
        elf = b"\x7fELF" + bytes(200)
        cases = {
            "empty": b"",
            "ELF": elf,
            "MZ only": b"MZ" + bytes(10),
            "no PE signature": pe_image(I386, signature=b"NE\0\0"),
            "signature beyond the bytes": pe_image(I386)[:0x83],
            "offset beyond the bytes": b"MZ" + bytes(0x3A) + struct.pack("<I", 0xFFFFFFF0),
        }
        for name, header in cases.items():
            with self.subTest(case=name):
                self.assertIsNone(_loader.pe_machine(header))


class SearchTest(unittest.TestCase):
    kind = _loader.LibraryKind("a test library", "ORVEX_TEST_LIBRARY_VARIABLE",
                               "liborvex-test.so.1", "orvex-test.dll")

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp())
        self.addCleanup(self.remove_folder)

    def remove_folder(self):
        for path in sorted(self.folder.rglob("*"), reverse=True):
            path.rmdir() if path.is_dir() else path.unlink()
        self.folder.rmdir()

    def put(self, relative, content=b"not a library"):
        path = self.folder / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def test_folders_in_order_beside_the_package_then_bin_then_install_then_build(self):
        package = self.folder / "python" / "orvexportio"
        folders = _loader.candidate_folders(package, ("../../../lib", "../../../bin"),
                                            ("/build/src", "/build/sim"))
        self.assertEqual(folders, [package, self.folder / "bin", self.folder.parent / "lib",
                                   self.folder.parent / "bin", Path("/build/src"),
                                   Path("/build/sim")])

    def test_first_file_found_wins_and_the_places_before_it_are_listed(self):
        folders = [self.folder / "a", self.folder / "b", self.folder / "c"]
        found = self.put("b/liborvex-test.so.1")
        self.put("c/liborvex-test.so.1")
        path, tried = _loader.locate(self.kind, windows=False, folders=folders, environ={})
        self.assertEqual(path, found)
        self.assertEqual(tried, [str(self.folder / "a/liborvex-test.so.1"), str(found)])

    def test_the_variable_comes_first_and_must_name_a_file(self):
        named = self.put("elsewhere/any-name.so")
        self.put("a/liborvex-test.so.1")
        environ = {self.kind.environment: str(named)}
        path, _ = _loader.locate(self.kind, windows=False, folders=[self.folder / "a"],
                                 environ=environ)
        self.assertEqual(path, named)
        environ = {self.kind.environment: str(self.folder / "missing.so")}
        with self.assertRaises(orvexportio.LibraryError) as raised:
            _loader.locate(self.kind, windows=False, folders=[], environ=environ)
        self.assertIn("ORVEX_TEST_LIBRARY_VARIABLE=", str(raised.exception))

    def test_nothing_found_names_the_variable_and_every_place(self):
        kind = _loader.LibraryKind("a library nobody built", "ORVEX_TEST_NOTHING",
                                   "liborvex-nothing.so.1", "orvex-nothing.dll")
        os.environ.pop("ORVEX_TEST_NOTHING", None)
        with self.assertRaises(orvexportio.LibraryError) as raised:
            _loader.load(kind)
        message = str(raised.exception)
        self.assertIn("ORVEX_TEST_NOTHING", message)
        self.assertIn(str(Path(orvexportio.__file__).resolve().parent / "liborvex-nothing.so.1"),
                      message)
        self.assertIn("asked the system loader for liborvex-nothing.so.1", message)
        self.assertIsInstance(raised.exception, OSError)

    def test_windows_skips_a_dll_of_the_other_width(self):
        folders = [self.folder / "x86", self.folder / "x64"]
        self.put("x86/orvex-test.dll", pe_image(I386))
        wide = self.put("x64/orvex-test.dll", pe_image(AMD64))
        path, tried = _loader.locate(self.kind, windows=True, machine=AMD64, folders=folders,
                                     environ={})
        self.assertEqual(path, wide)
        self.assertIn("skipped: 32-bit x86, this Python is 64-bit x86-64", tried[0])
        narrow_path, _ = _loader.locate(self.kind, windows=True, machine=I386, folders=folders,
                                        environ={})
        self.assertEqual(narrow_path, self.folder / "x86/orvex-test.dll")

    def test_windows_with_only_the_other_width_finds_nothing_and_says_why(self):
        self.put("x86/orvex-test.dll", pe_image(I386))
        path, tried = _loader.locate(self.kind, windows=True, machine=AMD64,
                                     folders=[self.folder / "x86"], environ={})
        self.assertIsNone(path)
        self.assertIn("skipped: 32-bit x86", tried[0])

    def test_windows_refuses_a_named_dll_of_the_other_width(self):
        named = self.put("orvex-test.dll", pe_image(AMD64))
        with self.assertRaises(orvexportio.LibraryError) as raised:
            _loader.locate(self.kind, windows=True, machine=I386, folders=[],
                           environ={self.kind.environment: str(named)})
        self.assertIn("64-bit x86-64, this Python is 32-bit x86", str(raised.exception))
        not_a_dll = self.put("other.dll", b"text")
        with self.assertRaises(orvexportio.LibraryError) as raised:
            _loader.locate(self.kind, windows=True, machine=I386, folders=[],
                           environ={self.kind.environment: str(not_a_dll)})
        self.assertIn("not a Windows DLL", str(raised.exception))

    def test_other_systems_do_not_read_pe_headers(self):
        found = self.put("a/liborvex-test.so.1", pe_image(I386))
        path, _ = _loader.locate(self.kind, windows=False, machine=AMD64,
                                 folders=[self.folder / "a"], environ={})
        self.assertEqual(path, found)


if __name__ == "__main__":
    unittest.main()
