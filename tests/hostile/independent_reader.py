#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Corrected tables read the same in an independent reader.

Damaged tables with records, each made with a clean twin holding the same
records, are corrected with several sets of choices; Debian's dbfread then
reads the corrected table, which must give the twin's rows, and, where the
damage was of a kind readers ignore, the same rows as before the correction.
The records themselves must be the same bytes before and after.

usage: independent_reader.py DBF_CORRECT MAKE_SEED_CORPUS
Exit status 77 (skipped) when dbfread is not installed.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import dbfread
except ImportError:
    print("dbfread is not installed (Debian: python3-dbfread); skipped")
    sys.exit(77)

CHOICES = [
    ["1", "2", "1", "1", "2024", "3", "5"],   # set offsets, 87, remove index, insert a date
    ["0", "3", "0", "0"],                     # clear offsets, leave the code page
    ["2", "0", "1", "1", "1999", "12", "31"], # leave offsets, 0
]


def rows(path):
    """Every record, deleted ones too, as (deleted, values) in file order.
    The encoding is fixed so that the code page byte does not colour the text."""
    table = dbfread.DBF(path, encoding="latin-1", load=True)
    return ([(False, list(r.values())) for r in table.records] +
            [(True, list(r.values())) for r in table.deleted])


def records_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    header_length = data[8] | data[9] << 8
    return len(data), data[header_length:]


def main():
    correct, generator = sys.argv[1], sys.argv[2]
    failures = []
    compared = 0
    with tempfile.TemporaryDirectory() as work:
        tables = os.path.join(work, "tables")
        subprocess.run([sys.executable, generator, "--tables", tables], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(tables, "manifest.json")) as f:
            manifest = json.load(f)
        for entry in manifest:
            damaged = os.path.join(tables, entry["table"])
            clean_rows = rows(os.path.join(tables, entry["clean"]))
            for choices in CHOICES:
                label = "%s with choices %s" % (entry["table"], " ".join(choices))
                path = os.path.join(work, "work.dbf")
                shutil.copyfile(damaged, path)
                before_bytes = records_bytes(path)
                try:
                    before_rows = rows(path)
                except Exception as error:  # a damaged header some readers refuse
                    before_rows = None
                    if entry["readers_agree_before"]:
                        failures.append("%s: unreadable before the correction: %s" % (label, error))
                run = subprocess.run([correct, path] + choices, capture_output=True, text=True)
                if run.returncode != 0:
                    failures.append("%s: the correction failed (%d): %s" % (label, run.returncode, run.stdout))
                    continue
                if records_bytes(path) != before_bytes:
                    failures.append("%s: the records or the file's length changed" % label)
                try:
                    after_rows = rows(path)
                except Exception as error:
                    failures.append("%s: unreadable after the correction: %s" % (label, error))
                    continue
                if after_rows != clean_rows:
                    failures.append("%s: rows differ from the clean table's:\n  %s\n  %s" %
                                    (label, after_rows[:2], clean_rows[:2]))
                if entry["readers_agree_before"] and before_rows is not None and before_rows != after_rows:
                    failures.append("%s: rows changed by the correction" % label)
                compared += 1
    for failure in failures:
        print("FAIL", failure)
    print("%d corrected tables compared with dbfread %s, %d failures" %
          (compared, dbfread.__version__, len(failures)))
    return 1 if failures or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
