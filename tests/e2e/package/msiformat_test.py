#!/usr/bin/python3
"""Checks of msiformat.py against what others wrote or read: the encoded stream names and
column types that Wine's installer tests give for a patch built by hand (dlls/msi/tests/patch.c),
and a database and summary stream written here, read back by msitools (msiinfo)."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import msiformat as mf  # noqa: E402


class StreamNames(unittest.TestCase):
    # (name, table?, the encoded name as Wine's tests spell it)
    ROWS = [
        ("_Columns", True, [0x4840, 0x3b3f, 0x43f2, 0x4438, 0x45b1]),
        ("_Tables", True, [0x4840, 0x3f7f, 0x4164, 0x422f, 0x4836]),
        ("_StringData", True, [0x4840, 0x3f3f, 0x4577, 0x446c, 0x3b6a, 0x45e4, 0x4824]),
        ("_StringPool", True, [0x4840, 0x3f3f, 0x4577, 0x446c, 0x3e6a, 0x44b2, 0x482f]),
        ("MsiPatchSequence", True, [0x4840, 0x4596, 0x3e6c, 0x45e4, 0x42e6, 0x421c, 0x4634,
                                    0x4468, 0x4226]),
        ("File", True, [0x4840, 0x430f, 0x422f]),
        ("Media", True, [0x4840, 0x4216, 0x4327, 0x4824]),
        ("PatchPackage", True, [0x4840, 0x4119, 0x41b7, 0x3e6b, 0x41a4, 0x412e, 0x422a]),
        ("InstallExecuteSequence", True, [0x4840, 0x4452, 0x45f6, 0x43e4, 0x3baf, 0x423b, 0x4626,
                                          0x4237, 0x421c, 0x4634, 0x4468, 0x4226]),
        ("CAB_msitest", False, [0x3a8c, 0x47cb, 0x45b0, 0x45ec, 0x45a8, 0x4837]),
    ]

    def test_names_as_wine_encodes_them(self):
        for name, table, expected in self.ROWS:
            with self.subTest(name=name):
                self.assertEqual([ord(c) for c in mf.encode_stream_name(name, table)], expected)

    def test_other_characters_stay_and_long_names_are_refused(self):
        self.assertEqual(mf.encode_stream_name("#1"), "#" + chr(0x4801))
        with self.assertRaises(ValueError):
            mf.encode_stream_name("x" * 63 + "-")


class ColumnTypes(unittest.TestCase):
    # The types (less 0x8000) of the columns Wine's test transform adds to _Columns.
    ROWS = [("s72", True, 0x2D48), ("i2", True, 0x2502), ("i4", False, 0x0104),
            ("i2", False, 0x0502), ("v0", False, 0x0900), ("V0", False, 0x1900),
            ("S72", False, 0x1D48), ("s38", True, 0x2D26), ("l0", False, 0x0F00),
            ("S38", True, 0x3D26)]

    def test_types_as_wine_stores_them(self):
        for spec, key, expected in self.ROWS:
            with self.subTest(spec=spec, key=key):
                self.assertEqual(mf.column_type(spec, key), expected)


class ReadBackByMsitools(unittest.TestCase):
    def test_database_and_summary(self):
        table = mf.Table("Sample", [("Name", "s72"), ("Count", "I2"), ("Big", "i4"),
                                    ("Text", "L0")], ["Name"])
        rows = [["b", None, -5, "Zweite Zeile"], ["a", 7, 100000, None]]
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "x.msp")
            streams = mf.database_streams([(table, rows)])
            streams[mf.SUMMARY_STREAM] = mf.summary_information({
                mf.PID_CODEPAGE: 1252, mf.PID_TITLE: "Patch", mf.PID_TEMPLATE: "{X};{Y}",
                mf.PID_REVNUMBER: "{P}", mf.PID_WORDCOUNT: 3})
            streams[mf.encode_stream_name("data.cab")] = b"MSCF-like"
            mf.write_compound_file(path, mf.CLSID_PATCH, streams,
                                   [("T", mf.CLSID_TRANSFORM, {"s": b"1"})])
            exported = subprocess.run(["msiinfo", "export", path, "Sample"], check=True,
                                      capture_output=True).stdout.decode().splitlines()
            self.assertEqual(exported, ["Name\tCount\tBig\tText", "s72\tI2\ti4\tL0",
                                        "Sample\tName", "a\t7\t100000\t", "b\t\t-5\tZweite Zeile"])
            summary = subprocess.run(["msiinfo", "suminfo", path], check=True,
                                     capture_output=True).stdout.decode()
            for line in ("Title: Patch", "Template: {X};{Y}", "Revision number (UUID): {P}",
                         "Source: 3 (3)"):
                self.assertIn(line, summary.splitlines())
            names = subprocess.run(["msiinfo", "streams", path], check=True,
                                   capture_output=True).stdout.decode().split()
            self.assertIn("data.cab", names)


if __name__ == "__main__":
    unittest.main()
