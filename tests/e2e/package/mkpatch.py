#!/usr/bin/python3
"""Builds a Windows Installer patch (.msp) that turns an installed package into another build of
the same product: a small update that carries every changed file whole in its own cabinet.

  mkpatch.py --target OLD.msi --upgraded NEW.msi --out PATCH.msp --patch-code GUID
             [--family NAME] [--sequence VERSION] [--display-name TEXT] [--description TEXT]
             [--target-product-code GUID --target-version VERSION]

The two packages are read with msitools (msiinfo); the patch holds, like one made by Microsoft's
patch tools:
- transform "T" (target to upgraded): every row that differs between the two packages' tables
  (the changed files' size and version, any other change), and the upgraded package's new tables;
- transform "#T" (the patch's own): the changed files' sequence numbers moved into a media row of
  its own, that media row (cabinet "#<patch cabinet>", source property PATCHMediaSrcProp) and the
  PatchPackage table naming the patch;
- the cabinet stream with the changed files (gcab), named by their File keys;
- its own database with MsiPatchMetadata and MsiPatchSequence;
- the summary information: Template the product code it applies to, Last Saved By the two
  transforms, Revision the patch code.
--target-product-code and --target-version name another product (a version the patch is meant
for) in place of the target package's: such a patch does not apply to the target.
The formats and where they come from are described in msiformat.py and docs/patch-builder.md.
Runs with Debian's /usr/bin/python3 (python3-gi with gir1.2-gsf-1 for the compound file).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import msiformat as mf  # noqa: E402

TRANSFORM = "QVPatch"
SOURCE_PROPERTY = "PATCHMediaSrcProp"


def msiinfo(*args):
    run = subprocess.run(["msiinfo"] + list(args), capture_output=True)
    if run.returncode != 0:
        raise SystemExit("mkpatch: msiinfo %s failed: %s" % (" ".join(args),
                                                            run.stderr.decode(errors="replace").strip()))
    return run.stdout


def read_table(package, name):
    """(Table, {key: row}) of one table of a package, from msiinfo's export (import format)."""
    lines = msiinfo("export", package, name).decode("cp1252").replace("\r\n", "\n").split("\n")
    names, coltypes, head = lines[0].split("\t"), lines[1].split("\t"), lines[2].split("\t")
    table = mf.Table(head[0], zip(names, coltypes), head[1:])
    rows = {}
    for line in lines[3:]:
        if not line:
            continue
        row = [v if v != "" else None for v in line.split("\t")]
        row += [None] * (len(names) - len(row))
        for n, coltype in enumerate(coltypes):
            if coltype[0].lower() == "v" and row[n] is not None:
                raise SystemExit("mkpatch: %s.%s holds streams, which this patch builder does not "
                                 "carry" % (name, names[n]))
            if coltype[0].lower() == "i" and row[n] is not None:
                row[n] = int(row[n])
        rows[table.key_of(row)] = row
    return table, rows


def read_package(package):
    tables = {}
    for name in msiinfo("tables", package).decode().split():
        # msiinfo also lists the code page and summary information as "_" pseudo-tables, and
        # _Validation, which the installer does not read.
        if not name.startswith("_"):
            tables[name] = read_table(package, name)
    return tables


def summary(package):
    """The summary properties msiinfo shows, by its names ("Template", "Revision number (UUID)")."""
    out = {}
    for line in msiinfo("suminfo", package).decode("cp1252").splitlines():
        name, _, value = line.partition(": ")
        out[name] = value
    return out


def property_value(tables, name):
    return tables["Property"][1].get((name,), [None, None])[1]


def diff(target, upgraded, transform):
    """Adds to the transform every difference of the upgraded package's tables from the
    target's; gives the keys of the File rows that changed."""
    changed_files = set()
    for name in sorted(set(target) - set(upgraded)):
        raise SystemExit("mkpatch: the upgraded package has no table %s; dropping a table is not "
                         "supported" % name)
    for name in sorted(upgraded):
        table, rows = upgraded[name]
        if name not in target:
            transform.add_table(table)
            old_rows = {}
        else:
            old_table, old_rows = target[name]
            if old_table.columns != table.columns or old_table.keys != table.keys:
                raise SystemExit("mkpatch: table %s has other columns in the upgraded package"
                                 % name)
        for key in sorted(set(old_rows) - set(rows), key=str):
            transform.delete(table, key)
        for key in sorted(rows, key=str):
            row = rows[key]
            if key not in old_rows:
                transform.insert(table, row)
                if name in ("File", "MsiFileHash"):
                    changed_files.add(key[0])
                continue
            changes = {c: v for c, v, old in zip(table.names, row, old_rows[key]) if v != old}
            if changes:
                transform.update(table, key, changes)
                if name in ("File", "MsiFileHash"):
                    changed_files.add(key[0])
    return changed_files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", required=True)
    parser.add_argument("--upgraded", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--patch-code", required=True)
    parser.add_argument("--family", default="QV3Update")
    parser.add_argument("--sequence", default="1")
    parser.add_argument("--display-name", default="")
    parser.add_argument("--description", default="")
    parser.add_argument("--target-product-code")
    parser.add_argument("--target-version")
    args = parser.parse_args()
    if not re.fullmatch(r"\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}", args.patch_code):
        raise SystemExit("mkpatch: the patch code must be a GUID in braces, upper case")

    target, upgraded = read_package(args.target), read_package(args.upgraded)
    product_code = property_value(target, "ProductCode")
    if property_value(upgraded, "ProductCode") != product_code:
        raise SystemExit("mkpatch: the packages are two products; a small update keeps the "
                         "product code")
    target_code = args.target_product_code or product_code
    target_version = args.target_version or property_value(target, "ProductVersion")
    upgraded_version = property_value(upgraded, "ProductVersion")
    upgrade_code = property_value(target, "UpgradeCode") or ""
    manufacturer = property_value(target, "Manufacturer") or ""
    product_name = property_value(target, "ProductName") or ""

    # Transform 1: target to upgraded.
    changes = mf.Transform()
    changed_files = diff(target, upgraded, changes)
    if not changed_files:
        raise SystemExit("mkpatch: no file differs between the packages")

    # Transform 2: the patch's media, the files moved onto it, the PatchPackage row.
    media_table, media_rows = target["Media"]
    file_table, file_rows = upgraded["File"]
    disk_id = max(k[0] for k in media_rows) + 1
    first = max(r[media_table.names.index("LastSequence")] for r in media_rows.values()) + 1
    cabinet = "QVPatch.cab"
    own = mf.Transform()
    for n, key in enumerate(sorted(changed_files)):
        own.update(file_table, (key,), {"Sequence": first + n})
    own.insert(media_table, [{"DiskId": disk_id, "LastSequence": first + len(changed_files) - 1,
                              "Cabinet": "#" + cabinet, "Source": SOURCE_PROPERTY}.get(c)
                             for c in media_table.names])
    patch_package = mf.Table("PatchPackage", [("PatchId", "s38"), ("Media_", "i2")], ["PatchId"])
    if "PatchPackage" not in upgraded:
        own.add_table(patch_package)
    own.insert(patch_package, [args.patch_code, disk_id])

    # The cabinet: the changed files from the upgraded package's own cabinet.
    work = tempfile.mkdtemp(prefix="mkpatch.")
    try:
        media = upgraded["Media"][1]
        cabinets = {r[media_table.names.index("Cabinet")] for r in media.values()}
        for name in cabinets:
            if not name or not name.startswith("#"):
                raise SystemExit("mkpatch: the upgraded package's files must lie in embedded "
                                 "cabinets (Media.Cabinet %r)" % name)
            with open(os.path.join(work, "in.cab"), "wb") as f:
                f.write(msiinfo("extract", args.upgraded, name[1:]))
            subprocess.run(["gcab", "-x", "-C", os.path.join(work, "files"),
                            os.path.join(work, "in.cab")], check=True, capture_output=True)
        files = [os.path.join(work, "files", k) for k in sorted(changed_files)]
        missing = [f for f in files if not os.path.exists(f)]
        if missing:
            raise SystemExit("mkpatch: the upgraded package's cabinets lack %s" % missing)
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
        for f in files:
            os.utime(f, (epoch, epoch))
        cab = os.path.join(work, cabinet)
        subprocess.run(["gcab", "-c", "-n", "-z", cab] + files, check=True, capture_output=True)
        with open(cab, "rb") as f:
            cab_bytes = f.read()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    # The transforms' summary information: what they apply to.
    template = summary(args.target).get("Template", "")
    transform_summary = mf.summary_information({
        mf.PID_CODEPAGE: 1252,
        mf.PID_TITLE: "Transform",
        mf.PID_TEMPLATE: template,
        mf.PID_LASTAUTHOR: summary(args.upgraded).get("Template", template),
        mf.PID_REVNUMBER: "%s%s;%s%s;%s" % (target_code, target_version, product_code,
                                            upgraded_version, upgrade_code),
        mf.PID_PAGECOUNT: 200,
        # Validation (high word): product code, update version, same base version, upgrade
        # code; no error conditions suppressed (low word).
        mf.PID_CHARCOUNT: (0x0922 << 16),
    })
    storages = []
    for name, transform in ((TRANSFORM, changes), ("#" + TRANSFORM, own)):
        streams = transform.streams()
        streams[mf.SUMMARY_STREAM] = transform_summary
        storages.append((name, mf.CLSID_TRANSFORM, streams))

    # The patch's own database and summary.
    metadata = mf.Table("MsiPatchMetadata", [("Company", "S72"), ("Property", "s72"),
                                             ("Value", "l0")], ["Company", "Property"])
    sequence = mf.Table("MsiPatchSequence", [("PatchFamily", "s72"), ("ProductCode", "S38"),
                                             ("Sequence", "s72"), ("Attributes", "I4")],
                        ["PatchFamily", "ProductCode"])
    display = args.display_name or "%s update" % product_name
    streams = mf.database_streams([
        (metadata, [[None, "AllowRemoval", "0"], [None, "Classification", "Update"],
                    [None, "Description", args.description or display],
                    [None, "DisplayName", display], [None, "ManufacturerName", manufacturer],
                    [None, "TargetProductName", product_name]]),
        (sequence, [[args.family, target_code, args.sequence, 1]]),
    ])
    streams[mf.encode_stream_name(cabinet)] = cab_bytes
    streams[mf.SUMMARY_STREAM] = mf.summary_information({
        mf.PID_CODEPAGE: 1252,
        mf.PID_TITLE: "Patch",
        mf.PID_SUBJECT: display,
        mf.PID_AUTHOR: manufacturer,
        mf.PID_KEYWORDS: "Installer,Patching,PCP,Database",
        mf.PID_COMMENTS: args.description or display,
        mf.PID_TEMPLATE: target_code,
        mf.PID_LASTAUTHOR: ":%s;:#%s" % (TRANSFORM, TRANSFORM),
        mf.PID_REVNUMBER: args.patch_code,
        # A patch with MsiPatchSequence needs Windows Installer 3.0 or later.
        mf.PID_WORDCOUNT: 3,
        mf.PID_APPNAME: "mkpatch.py",
        mf.PID_SECURITY: 4,
    })
    out = args.out + ".tmp"
    mf.write_compound_file(out, mf.CLSID_PATCH, streams, storages)
    os.replace(out, args.out)
    print("mkpatch: %s: %d file(s) whole (%s), %d byte cabinet, for %s %s" %
          (args.out, len(changed_files), ", ".join(sorted(changed_files)), len(cab_bytes),
           target_code, target_version))


if __name__ == "__main__":
    main()
