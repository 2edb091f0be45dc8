#!/usr/bin/python3
"""Checks of msiformat.py and mkpatch.py against what others wrote or read: the encoded stream
names, column types and transform rows that Wine's installer tests give for a patch built by hand
(dlls/msi/tests/patch.c), a database and summary stream written here and read back by msitools
(msiinfo), and the differences mkpatch finds between two packages msitools built."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import msiformat as mf  # noqa: E402
import mkpatch  # noqa: E402

# The File table as Wine's test package defines it.
WINE_FILE = mf.Table("File", [("File", "s72"), ("Component_", "s72"), ("FileName", "l255"),
                              ("FileSize", "i4"), ("Version", "S72"), ("Language", "S20"),
                              ("Attributes", "I2"), ("Sequence", "i2")], ["File"])


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
        for coltype, key, expected in self.ROWS:
            with self.subTest(coltype=coltype, key=key):
                self.assertEqual(mf.column_type(coltype, key), expected)


class TransformRows(unittest.TestCase):
    @staticmethod
    def words(data):
        return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]

    def test_changed_row_as_in_wines_first_transform(self):
        # Wine's transform "targetToupgraded": patch.txt's FileSize becomes 1002.
        t = mf.Transform()
        t.update(WINE_FILE, ("patch.txt",), {"FileSize": 1002})
        streams = t.streams()
        self.assertEqual(self.words(streams[mf.encode_stream_name("File", True)]),
                         [0x0008, 0x0001, 0x03ea, 0x8000])
        self.assertEqual(streams[mf.encode_stream_name("_StringData", True)], b"patch.txt")
        # After the code page word and the flags: length 9, one reference.
        self.assertEqual(self.words(streams[mf.encode_stream_name("_StringPool", True)])[2:], [9, 1])

    def test_rows_of_wines_patch_transform(self):
        # From "#targetToupgraded": the file's Attributes and Sequence, a Media row, and a new
        # table's rows in _Tables and _Columns (Wine's string ids differ: compared by value).
        t = mf.Transform()
        t.update(WINE_FILE, ("patch.txt",), {"Attributes": 0x1000, "Sequence": 1000})
        media = mf.Table("Media", [("DiskId", "i2"), ("LastSequence", "i4"), ("DiskPrompt", "L64"),
                                   ("Cabinet", "S255"), ("VolumeLabel", "S32"), ("Source", "S72")],
                         ["DiskId"])
        t.insert(media, [2, 1001, None, "#CAB_msitest", None, "prop"])
        t.add_table(mf.Table("PatchPackage", [("PatchId", "s38"), ("Media_", "i2")], ["PatchId"]))
        streams = t.streams()
        pool = mf.StringPool()  # the ids as this transform's pool gave them, in order of use
        # The new table's definition comes first (the installer reads it before any rows).
        for text in ("PatchPackage", "PatchId", "Media_", "patch.txt", "#CAB_msitest", "prop"):
            pool.ref(text)
        self.assertEqual(self.words(streams[mf.encode_stream_name("File", True)]),
                         [0x00c0, pool.ids["patch.txt"], 0x9000, 0x83e8])
        self.assertEqual(self.words(streams[mf.encode_stream_name("Media", True)]),
                         [0x0601, 0x8002, 0x03e9, 0x8000, 0x0000, pool.ids["#CAB_msitest"],
                          0x0000, pool.ids["prop"]])
        self.assertEqual(self.words(streams[mf.encode_stream_name("_Tables", True)]),
                         [0x0101, pool.ids["PatchPackage"]])
        table = pool.ids["PatchPackage"]
        self.assertEqual(self.words(streams[mf.encode_stream_name("_Columns", True)]),
                         [0x0401, table, 0x8001, pool.ids["PatchId"], 0xad26,
                          0x0401, table, 0x8002, pool.ids["Media_"], 0x8502])

    def test_refused_changes(self):
        t = mf.Transform()
        with self.assertRaises(ValueError):
            t.update(WINE_FILE, ("patch.txt",), {"File": "other.txt"})
        with self.assertRaises(ValueError):
            t.update(WINE_FILE, ("patch.txt",), {})
        t.insert(WINE_FILE, ["a", "b", "c", 70000 * 40000, None, None, 0, 1])  # beyond an i4
        with self.assertRaises(ValueError):
            t.streams()


def build_package(path, tables):
    """A package built by msitools from tables in the import format: {name: (header, rows)}."""
    with tempfile.TemporaryDirectory() as work:
        for name, (header, rows) in tables.items():
            with open(os.path.join(work, name + ".idt"), "w", encoding="cp1252", newline="") as f:
                f.write("\r\n".join(header + ["\t".join(r) for r in rows]) + "\r\n")
            subprocess.run(["msibuild", path, "-i", os.path.join(work, name + ".idt")],
                           check=True, capture_output=True)


PROPERTY = ["Property\tValue", "s72\tl0", "Property\tProperty"]
FILE = ["File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence",
        "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2", "File\tFile"]
EXTRA = ["Key\tValue", "s72\tS72", "Extra\tKey"]


class PackageDifferences(unittest.TestCase):
    def packages(self, work, old, new):
        paths = []
        for name, tables in (("old", old), ("new", new)):
            path = os.path.join(work, name + ".msi")
            build_package(path, tables)
            paths.append(mkpatch.read_package(path))
        return paths

    def test_changed_added_deleted_rows_and_a_new_table(self):
        props = (PROPERTY, [["ProductCode", "{P}"], ["ProductVersion", "1.0"]])
        old = {"Property": props,
               "File": (FILE, [["a.exe", "A", "a.exe", "10", "1.0.0.1", "", "512", "1"],
                               ["b.txt", "B", "b.txt", "5", "", "", "512", "2"],
                               ["c.txt", "C", "c.txt", "7", "", "", "512", "3"]])}
        new = {"Property": props,
               "File": (FILE, [["a.exe", "A", "a.exe", "12", "1.0.0.2", "", "512", "1"],
                               ["b.txt", "B", "b.txt", "5", "", "", "512", "2"],
                               ["d.txt", "D", "d.txt", "1", "", "", "512", "4"]]),
               "Extra": (EXTRA, [["k", ""]])}
        with tempfile.TemporaryDirectory() as work:
            target, upgraded = self.packages(work, old, new)
            t = mf.Transform()
            changed = mkpatch.diff(target, upgraded, t)
        self.assertEqual(changed, {"a.exe", "d.txt"})
        self.assertEqual([tb.name for tb in t.new_tables], ["Extra"])
        file_rows = [(mask, [v for _, v in values]) for _, mask, values in t.rows["File"]]
        self.assertEqual(file_rows, [(0, ["c.txt"]),
                                     (0b11000, ["a.exe", 12, "1.0.0.2"]),
                                     (1 | 8 << 8, ["d.txt", "D", "d.txt", 1, None, None, 512, 4])])
        self.assertEqual([(mask, [v for _, v in values]) for _, mask, values in t.rows["Extra"]],
                         [(1 | 2 << 8, ["k", None])])

    def test_a_dropped_table_or_changed_columns_are_refused(self):
        props = (PROPERTY, [["ProductCode", "{P}"]])
        other_file = (["File\tComponent_", "s72\ts72", "File\tFile"], [["a.exe", "A"]])
        for new in ({"Property": props}, {"Property": props, "File": other_file}):
            with self.subTest(tables=sorted(new)), tempfile.TemporaryDirectory() as work:
                target, upgraded = self.packages(work, {"Property": props, "File": (FILE, [])}, new)
                with self.assertRaises(SystemExit):
                    mkpatch.diff(target, upgraded, mf.Transform())


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
