"""The Windows Installer's storage formats, as far as a whole-file patch needs them: stream names,
the string pool, database tables, transforms, summary information and the compound file that
holds them.

Where each format comes from (facts, no code, taken over):
- The compound file (structured storage): written by libgsf's MS-OLE writer (GsfOutfileMSOle,
  Debian's gir1.2-gsf-1), the library msitools writes its packages with, so the patch is laid out
  like the product package that Wine's installer reads. The class ids of a patch and a transform
  storage, {000C1086-0000-0000-C000-000000000046} and {000C1082-...}, are those Wine's installer
  tests give IStorage_SetClass for a patch built by hand (dlls/msi/tests/patch.c).
- Stream names: the installer's name compression as Wine's msi.dll implements it
  (encode_streamname in dlls/msi/table.c): the 64 characters 0-9, A-Z, a-z, '.', '_' are numbered
  0..63; two of them in a row become one character 0x3800 + first + (second << 6), a single one
  0x4800 + its number, other characters stay; the names of tables and of the string pool start
  with 0x4840. Checked against the encoded names in dlls/msi/tests/patch.c (tests/e2e/package/
  msiformat_test.py).
- The string pool (_StringPool, _StringData): Wine's dlls/msi/string.c: the pool starts with the
  code page (16 bits) and a flags word (0x8000: string references take 3 bytes), then one entry
  per string id from 1 on: its length in bytes and its reference count (16 bits each); the
  strings follow each other in _StringData in the code page, without terminators.
- Tables (_Tables, _Columns and every table of a database): stored by column (all values of the
  first column, then of the second...), rows sorted by the primary key; a string is its id in
  the pool, an integer i2 is stored as value + 0x8000 in 16 bits and an i4 as value + 0x80000000
  in 32 bits, null as 0 (Wine's dlls/msi/table.c, read_table_from_storage and
  msi_record_encoded_val; the examples in dlls/msi/tests/patch.c). The column types in _Columns
  are those of the installer's import format (msitools' and Wine's MSITYPE_* values): a string
  of n characters 0x0D00 + n (localizable 0x0F00 + n), i2 0x0502, i4 0x0104, a stream 0x0900,
  with 0x1000 for a nullable and 0x2000 for a key column.
- Transforms: a storage with its own string pool and one stream per table it changes, stored by
  row: each row starts with a 16-bit mask; an added row has mask 1 + (number of columns << 8) and
  all its columns; a changed row has bit (n - 1) set for each changed column n and holds the key
  columns and then the changed ones; a deleted row has mask 0 and its keys (Wine's
  msi_table_load_transform in dlls/msi/table.c, and the transforms of dlls/msi/tests/patch.c).
  The row layout is that of the target database's columns. New tables come as rows added to
  _Tables and _Columns.
- Summary information: the OLE property set format (a byte-order mark 0xFFFE, one section with
  FMTID_SummaryInformation {F29F85E0-4FF9-1068-AB91-08002B27B3D9}, property ids and offsets, then
  the values: VT_LPSTR with its length including the terminator, padded to 4 bytes; VT_I2; VT_I4),
  as in the summary streams of dlls/msi/tests/patch.c; the meaning of each property in a patch and
  a transform from Microsoft's "Summary Property Descriptions" (Windows Installer documentation).
"""
import struct
import uuid

# ---- stream names ---------------------------------------------------------------------------
_MIME = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def encode_stream_name(name, table=False):
    """The name of a stream as the installer stores it in the compound file."""
    out = "\u4840" if table else ""
    i = 0
    while i < len(name):
        first = _MIME.find(name[i])
        if first < 0:
            out += name[i]
            i += 1
            continue
        second = _MIME.find(name[i + 1]) if i + 1 < len(name) else -1
        if second >= 0:
            out += chr(0x3800 + first + (second << 6))
            i += 2
        else:
            out += chr(0x4800 + first)
            i += 1
    if len(out) > 31:
        raise ValueError("stream name %r is %d characters long encoded; a compound file takes 31"
                         % (name, len(out)))
    return out


# ---- column types ---------------------------------------------------------------------------
def column_type(coltype, key=False):
    """The _Columns type of a column given in the import format (s72, S38, l0, i2, I4, v0...)."""
    letter, size = coltype[0], int(coltype[1:])
    base = {"s": 0x0D00 + size, "l": 0x0F00 + size, "v": 0x0900}.get(letter.lower())
    if base is None:
        if letter.lower() != "i" or size not in (2, 4):
            raise ValueError("unknown column type %r" % coltype)
        base = 0x0502 if size == 2 else 0x0104
    if letter.isupper():
        base |= 0x1000
    return base | (0x2000 if key else 0)


class Table:
    """A table's definition: its name, columns as (name, import-format type) and key columns."""

    def __init__(self, name, columns, keys):
        self.name = name
        self.columns = list(columns)
        self.keys = list(keys)
        unknown = [k for k in self.keys if k not in self.names]
        if unknown or not self.keys:
            raise ValueError("table %s: key columns %s are not among its columns" % (name, unknown))

    @property
    def names(self):
        return [c[0] for c in self.columns]

    def is_key(self, column):
        return column in self.keys

    def coltype(self, column):
        return self.columns[self.names.index(column)][1]

    def key_of(self, row):
        return tuple(row[self.names.index(k)] for k in self.keys)


# ---- the string pool ------------------------------------------------------------------------
class StringPool:
    """String ids in the order of first use, with their reference counts. Only text the code
    page 1252 holds unchanged can be stored (the packages here are English ASCII)."""

    CODE_PAGE = 1252

    def __init__(self):
        self.ids = {}
        self.refs = []
        self.strings = []

    def ref(self, text):
        if text is None or text == "":
            return 0
        if text not in self.ids:
            text.encode("cp1252")  # fails for text the code page lacks
            self.strings.append(text)
            self.refs.append(0)
            self.ids[text] = len(self.strings)
        n = self.ids[text]
        self.refs[n - 1] += 1
        return n

    def streams(self):
        """{encoded name: bytes} of _StringPool and _StringData."""
        if len(self.strings) >= 0xFFFF:
            raise ValueError("more strings than 2-byte references hold")
        pool = struct.pack("<HH", self.CODE_PAGE, 0)
        data = b""
        for text, refs in zip(self.strings, self.refs):
            raw = text.encode("cp1252")
            if len(raw) > 0xFFFF or refs > 0xFFFF:
                raise ValueError("string %r too long or used too often" % text[:40])
            pool += struct.pack("<HH", len(raw), refs)
            data += raw
        return {encode_stream_name("_StringPool", True): pool,
                encode_stream_name("_StringData", True): data}


def _value_bytes(pool, coltype, value):
    """One value as stored in a table or transform row."""
    letter = coltype[0].lower()
    if letter in ("s", "l"):
        return struct.pack("<H", pool.ref(value))
    if letter == "i":
        size = int(coltype[1:])
        if value is None or value == "":
            return b"\0" * size
        value = int(value)
        if size == 2:
            if not -0x7FFF <= value <= 0x7FFF:
                raise ValueError("%d does not fit an i2 column" % value)
            return struct.pack("<H", (value + 0x8000) & 0xFFFF)
        if not -0x7FFFFFFF <= value <= 0x7FFFFFFF:
            raise ValueError("%d does not fit an i4 column" % value)
        return struct.pack("<I", (value + 0x80000000) & 0xFFFFFFFF)
    raise ValueError("column type %r cannot be written here (streams are not supported)" % coltype)


def _system_rows(tables):
    """The rows of _Tables and _Columns that describe the given tables."""
    names = [[t.name] for t in tables]
    columns = [[t.name, n, c[0], column_type(c[1], t.is_key(c[0]))]
               for t in tables for n, c in enumerate(t.columns, 1)]
    return names, columns


_TABLES = Table("_Tables", [("Name", "s64")], ["Name"])
_COLUMNS = Table("_Columns", [("Table", "s64"), ("Number", "i2"), ("Name", "s64"), ("Type", "i2")],
                 ["Table", "Number"])


# ---- databases (the patch's own tables) -----------------------------------------------------
def database_streams(contents):
    """The streams of a database holding the given tables: contents is [(Table, rows)], each row
    a list of values in column order (None for null)."""
    pool = StringPool()
    streams = {}
    table_rows, column_rows = _system_rows([t for t, _ in contents])
    for table, rows in [(_TABLES, table_rows), (_COLUMNS, column_rows)] + list(contents):
        rows = sorted(rows, key=lambda r: [("" if v is None else v) for v in table.key_of(r)])
        data = b""
        for n, (_, coltype) in enumerate(table.columns):
            for row in rows:
                data += _value_bytes(pool, coltype, row[n])
        streams[encode_stream_name(table.name, True)] = data
    streams.update(pool.streams())
    return streams


# ---- transforms -----------------------------------------------------------------------------
class Transform:
    """The changes to a target database, as one transform storage."""

    def __init__(self):
        self.new_tables = []
        self.rows = {}  # table name -> [(Table, mask, values)]
        self.order = []

    def _add(self, table, mask, values):
        if table.name not in self.rows:
            self.rows[table.name] = []
            self.order.append(table.name)
        self.rows[table.name].append((table, mask, values))

    def add_table(self, table):
        self.new_tables.append(table)

    def insert(self, table, row):
        if len(table.columns) > 0xFF:
            raise ValueError("table %s has too many columns" % table.name)
        self._add(table, 1 | (len(table.columns) << 8), list(zip(table.columns, row)))

    def update(self, table, key, changes):
        """key: the key columns' values; changes: {column name: new value}."""
        mask, values = 0, []
        for name, value in zip(table.keys, key):
            values.append(((name, table.coltype(name)), value))
        for n, (name, coltype) in enumerate(table.columns):
            if name in changes:
                if table.is_key(name):
                    raise ValueError("a transform cannot change the key column %s" % name)
                if n >= 16:
                    raise ValueError("column %s of %s is beyond the 16 a change mask holds"
                                     % (name, table.name))
                mask |= 1 << n
                values.append(((name, coltype), changes[name]))
        if not mask:
            raise ValueError("a changed row of %s without changes" % table.name)
        self._add(table, mask, values)

    def delete(self, table, key):
        self._add(table, 0, [((name, table.coltype(name)), value) for name, value in zip(table.keys, key)])

    def streams(self):
        pool = StringPool()
        streams = {}
        rows, order = dict(self.rows), list(self.order)
        if self.new_tables:
            # The new tables' definitions, which the installer reads before any rows.
            system = Transform()
            table_rows, column_rows = _system_rows(self.new_tables)
            for row in table_rows:
                system.insert(_TABLES, row)
            for row in column_rows:
                system.insert(_COLUMNS, row)
            rows.update(system.rows)
            order = system.order + order
        for name in order:
            data = b""
            for table, mask, values in rows[name]:
                data += struct.pack("<H", mask)
                for (_, coltype), value in values:
                    data += _value_bytes(pool, coltype, value)
            streams[encode_stream_name(name, True)] = data
        streams.update(pool.streams())
        return streams


# ---- summary information --------------------------------------------------------------------
PID_CODEPAGE, PID_TITLE, PID_SUBJECT, PID_AUTHOR, PID_KEYWORDS, PID_COMMENTS = 1, 2, 3, 4, 5, 6
PID_TEMPLATE, PID_LASTAUTHOR, PID_REVNUMBER, PID_PAGECOUNT, PID_WORDCOUNT = 7, 8, 9, 14, 15
PID_CHARCOUNT, PID_APPNAME, PID_SECURITY = 16, 18, 19
SUMMARY_STREAM = "\x05SummaryInformation"
_FMTID_SUMMARY = uuid.UUID("F29F85E0-4FF9-1068-AB91-08002B27B3D9")


def summary_information(properties):
    """The summary stream of {pid: value}: str as VT_LPSTR (code page 1252), int as VT_I4, and
    the code page (PID 1) as VT_I2. No times: two builds give the same bytes."""
    entries = []
    for pid in sorted(properties):
        value = properties[pid]
        if pid == PID_CODEPAGE:
            raw = struct.pack("<Ihh", 2, value, 0)
        elif isinstance(value, int):
            raw = struct.pack("<Ii", 3, value)
        else:
            text = value.encode("cp1252") + b"\0"
            raw = struct.pack("<II", 0x1E, len(text)) + text
            raw += b"\0" * (-len(raw) % 4)
        entries.append((pid, raw))
    offset = 8 + 8 * len(entries)
    table, values = b"", b""
    for pid, raw in entries:
        table += struct.pack("<II", pid, offset + len(values))
        values += raw
    section = struct.pack("<II", offset + len(values), len(entries)) + table + values
    header = struct.pack("<HHI", 0xFFFE, 0, 0x00020205) + b"\0" * 16 + struct.pack("<I", 1)
    header += _FMTID_SUMMARY.bytes_le + struct.pack("<I", 0x30)
    return header + section


# ---- the compound file ----------------------------------------------------------------------
CLSID_PATCH = uuid.UUID("000C1086-0000-0000-C000-000000000046")
CLSID_TRANSFORM = uuid.UUID("000C1082-0000-0000-C000-000000000046")


def write_compound_file(path, clsid, streams, storages=()):
    """A compound file: streams {name: bytes} and substorages [(name, clsid, streams)], written
    by libgsf (Debian's python3-gi and gir1.2-gsf-1)."""
    import gi
    gi.require_version("Gsf", "1")
    from gi.repository import Gsf

    sink = Gsf.OutputStdio.new(path)
    root = Gsf.OutfileMSOle.new(sink)

    def fill(storage, class_id, contents):
        storage.set_class_id(class_id.bytes_le)
        for name in sorted(contents):
            child = storage.new_child(name, False)
            if not child.write(contents[name]):
                raise IOError("writing stream %r of %s failed" % (name, path))
            child.close()

    fill(root, clsid, streams)
    for name, class_id, contents in storages:
        sub = root.new_child(name, True)
        fill(sub, class_id, contents)
        sub.close()
    if not root.close():
        raise IOError("writing %s failed" % path)
