#!/usr/bin/env python3
"""kyvo-cli qc and archive role, end to end, read back by readers of their own.

An archive gets the demo result file; the CRP measurements become controls of
a material whose targets are chosen so that known rules fire. qc check's JSON
is validated against its schema with jsonschema, the archive's CSV is read by
the csv module, the chart's PDF by pdftotext.

usage: qc_readback.py KYVO_CLI DATA_DIR SCHEMA_DIR
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

import jsonschema

CLI, DATA, SCHEMAS = (os.path.abspath(a) for a in sys.argv[1:4])
CRP = "CRP quantitative"


def ident(n):
    return "12 3 1 7 1807 0042 %d" % n


# The demo file's CRP measurements in time order: identity number, value.
V725, FAIL1, FAIL2, V629, V556, V173, V137, V316 = (
    34082560, 84673035, 85398545, 102052153, 134547205, 135476532, 135739143, 152307993)


class Archive:
    """A fresh archive with the demo measurements, and kyvo-cli on it."""

    def __init__(self):
        self.home = tempfile.TemporaryDirectory()
        self.location = "sqlite:" + os.path.join(self.home.name, "archive.sqlite")
        self.ok("archive", "import", os.path.join(DATA, "demo-results.tsv"))
        self.ids = {}
        for line in self.ok("archive", "list", "--test", CRP).stdout.decode().splitlines():
            f = line.split("\t")
            self.ids[int(f[2].split()[-1])] = f[0]

    def run(self, *args):
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.home.name, "config"),
                   XDG_DATA_HOME=os.path.join(self.home.name, "data"))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        return subprocess.run([CLI, "--archive", self.location, *args], capture_output=True,
                              env=env)

    def ok(self, *args):
        p = self.run(*args)
        if p.returncode != 0:
            raise AssertionError(f"kyvo-cli {' '.join(args)} -> {p.returncode}: {p.stderr!r}")
        return p

    def material(self, sd, mean="30", name="CRP-L1", lot="C-01", prefix=None,
                 opened="2026-12-01"):
        args = ["qc", "material", "add", name, "--test", CRP, "--result", "CRP", "--lot", lot,
                "--level", "1", "--mean", mean, "--sd", sd, "--opened", opened]
        if prefix:
            args += ["--patient-id-prefix", prefix]
        self.ok(*args)

    def controls(self, *numbers, material="CRP-L1"):
        for n in numbers:
            self.ok("archive", "role", self.ids[n], "control", material)

    def check(self, *args):
        p = self.run("qc", "check", "--format", "json", *args)
        doc = json.loads(p.stdout)
        return p.returncode, doc


class QcReadBack(unittest.TestCase):
    def archive(self):
        a = Archive()
        self.addCleanup(a.home.cleanup)
        return a

    @classmethod
    def setUpClass(cls):
        with open(os.path.join(SCHEMAS, "kyvo-qc-check.schema.json"), encoding="utf-8") as f:
            cls.schema = json.load(f)
        with open(os.path.join(SCHEMAS, "kyvo-measurements.schema.json"), encoding="utf-8") as f:
            cls.measurements_schema = json.load(f)

    def test_check_exits_1_only_for_a_rejection_and_its_json_fits_the_schema(self):
        # mean 30: SD 10 rejects, SD 14 only warns (62.9 is 2.35 SD), SD 20 is quiet.
        cases = [
            ("10", 1, [
                ("1-2s", "warning", [V725]),
                ("1-3s", "reject", [V629]),
                ("1-2s", "warning", [V556]),
                ("2-2s", "reject", [V629, V556]),
            ]),
            ("14", 0, [("1-2s", "warning", [V629])]),
            ("20", 0, []),
        ]
        for sd, status, expected in cases:
            with self.subTest(sd=sd):
                a = self.archive()
                self.assertEqual(a.check(), (0, []))  # no material yet
                a.material(sd)
                a.controls(V725, FAIL1, V629, V556, V173, V137, V316)
                code, doc = a.check()
                jsonschema.validate(doc, self.schema)
                self.assertEqual(code, status)
                self.assertEqual(
                    [(v["rule"], v["severity"], v["measurements"]) for v in doc],
                    [(r, s, [ident(n) for n in ms]) for r, s, ms in expected])
                self.assertTrue(all(v["material"] == "CRP-L1" for v in doc))
                text = a.run("qc", "check")
                self.assertEqual(text.returncode, status)
                self.assertEqual(len(text.stdout.decode().splitlines()), len(expected))
                self.assertEqual(a.check("--material", "CRP-L1"), (code, doc))

    def test_the_schema_refuses_what_qc_check_must_never_write(self):
        good = {"rule": "2-2s", "severity": "reject", "material": "M", "measurements": ["a", "b"]}
        jsonschema.validate([good], self.schema)
        bad = [
            dict(good, measurements=["a"]),
            dict(good, severity="warning"),
            dict(good, rule="2of3-2s"),
            dict(good, lot="A"),
            {"rule": "1-2s", "severity": "reject", "material": "M", "measurements": ["a"]},
            {"rule": "10x", "severity": "reject", "material": "M", "measurements": ["a"] * 9},
        ]
        for doc in bad:
            with self.subTest(doc=doc):
                with self.assertRaises(jsonschema.ValidationError):
                    jsonschema.validate([doc], self.schema)

    def test_prefix_marks_and_the_qc_failed_flag_reach_listings_and_exports(self):
        a = self.archive()
        a.material("10", prefix="QC-L1")
        # 62.9 a control by its patient id, 7.25 marked; 55.6 a patient's
        # result after the rejected 62.9; 31.6 has the prefix but is marked
        # as a patient's.
        a.ok("archive", "patient", a.ids[V629], "QC-L1")
        a.ok("archive", "patient", a.ids[V316], "QC-L1")
        a.controls(V725)
        a.ok("archive", "role", a.ids[V316], "patient")
        code, doc = a.check()
        self.assertEqual(code, 1)
        self.assertEqual([v["rule"] for v in doc], ["1-2s", "1-3s"])

        controls = a.ok("archive", "list", "--role", "control").stdout.decode().splitlines()
        self.assertEqual([l.split("\t")[2] for l in controls], [ident(V725), ident(V629)])
        self.assertTrue(all(l.endswith("\tcontrol CRP-L1") for l in controls))
        patients = a.ok("archive", "list", "--role", "patient", "--test", CRP).stdout.decode()
        flagged = [l.split("\t")[2] for l in patients.splitlines() if l.endswith("\tQC failed")]
        self.assertEqual(flagged, [ident(n) for n in (V556, V173, V137, V316)])

        rows = list(csv.DictReader(io.StringIO(
            a.ok("archive", "list", "--test", CRP, "--format", "csv").stdout.decode("utf-8-sig"))))
        by_id = {r["test_id"]: r for r in rows}
        self.assertEqual(by_id[ident(V629)]["role"], "control")
        self.assertEqual(by_id[ident(V629)]["control_material"], "CRP-L1")
        self.assertEqual(by_id[ident(V629)]["qc_failed"], "false")
        self.assertEqual(by_id[ident(V316)]["role"], "patient")
        self.assertEqual(by_id[ident(V316)]["qc_failed"], "true")
        self.assertEqual(by_id[ident(FAIL1)]["qc_failed"], "false")  # before the rejection

        doc = json.loads(a.ok("archive", "list", "--test", CRP, "--format", "json").stdout)
        jsonschema.validate(doc, self.measurements_schema)
        self.assertEqual({m["testId"]: m["qcFailed"] for m in doc["measurements"]}[ident(V556)],
                         True)

        # A control that passes lifts the flag for what follows it.
        a.controls(V173)
        patients = a.ok("archive", "list", "--role", "patient", "--test", CRP).stdout.decode()
        self.assertEqual([l.split("\t")[2] for l in patients.splitlines()
                          if l.endswith("\tQC failed")], [ident(V556)])
        history = a.ok("archive", "history", a.ids[V316]).stdout.decode()
        self.assertIn("\trole\t\"\" \u2192 \"patient\"", history)

    def test_materials_are_listed_retired_and_their_mistakes_refused(self):
        a = self.archive()
        a.material("0.5", mean="7.5", prefix="QC-L1")
        a.material("0.6", mean="8.25", lot="C-02", prefix="QC-L1")
        lines = a.ok("qc", "material", "list").stdout.decode().splitlines()
        self.assertEqual([l.split("\t")[:10] for l in lines], [
            ["CRP-L1", "C-01", "1", CRP, "CRP", "7.5", "0.5", "", "2026-12-01", "QC-L1"],
            ["CRP-L1", "C-02", "1", CRP, "CRP", "8.25", "0.6", "", "2026-12-01", "QC-L1"]])
        self.assertTrue(all(l.endswith("\tin use") for l in lines))
        a.ok("qc", "material", "retire", "CRP-L1")
        self.assertTrue(all("\tretired " in l for l in
                            a.ok("qc", "material", "list").stdout.decode().splitlines()))

        add = ["qc", "material", "add", "X", "--test", CRP, "--result", "CRP", "--lot", "L",
               "--level", "2", "--mean", "5", "--sd", "1"]
        chart = os.path.join(a.home.name, "x.png")
        cases = [
            (add[:-2], 2),                                   # no --sd
            (add[:-1] + ["0"], 2),                           # SD 0
            (add[:-3] + ["1,5", "--sd", "1"], 2),            # a decimal comma
            (add[:10] + ["4"] + add[11:], 2),                # level 4
            (add + ["--expires", "2027-02-30"], 2),          # no such day
            (add + ["--material", "X"], 2),                  # another form's option
            (add[:3] + ["CRP-L1"] + add[4:6] + ["HbA1c"] + add[7:], 2),  # another test
            (["qc", "check", "--format", "xml"], 2),
            (["qc", "check", "--material", "nothing"], 7),
            (["qc", "chart", "CRP-L1", "--out", "chart.svg"], 2),
            (["qc", "chart", "nothing", "--out", chart], 7),
            (["qc", "material", "retire", "nothing"], 7),
            (["qc", "frobnicate"], 2),
            (["archive", "role", a.ids[V725], "control"], 2),
            (["archive", "role", a.ids[V725], "control", "nothing"], 7),
            (["archive", "role", a.ids[V725], "control", "CRP-L1"], 2),  # retired
            (["archive", "role", "999", "patient"], 7),
            (["archive", "list", "--role", "calibrator"], 2),
        ]
        for args, status in cases:
            with self.subTest(args=args):
                p = a.run(*args)
                self.assertEqual(p.returncode, status, p.stderr)
                self.assertTrue(p.stderr.startswith(b"kyvo-cli: "), p.stderr)
        self.assertFalse(os.path.exists(chart))
        a.ok(*add)
        p = a.run(*add)  # the same name and lot again
        self.assertEqual(p.returncode, 2, p.stderr)

    def test_chart_as_pdf_and_png(self):
        a = self.archive()
        a.material("10")
        # The new lot from 12-07 on: 55.6 starts its series (no 2-2s with 62.9).
        a.material("5", mean="20", lot="C-02", opened="2026-12-07")
        a.controls(V725, FAIL1, V629, V556)
        self.assertEqual([(v["rule"], v["measurements"]) for v in a.check()[1]],
                         [("1-2s", [ident(V725)]), ("1-3s", [ident(V629)]),
                          ("1-3s", [ident(V556)])])
        pdf = os.path.join(a.home.name, "lj.pdf")
        png = os.path.join(a.home.name, "lj.PNG")
        self.assertIn(b"2 lots", a.ok("qc", "chart", "CRP-L1", "--out", pdf).stdout)
        a.ok("qc", "chart", "CRP-L1", "--out", png)
        with open(png, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True,
                              check=True).stdout
        pages = text.split("\f")
        self.assertIn("CRP-L1 lot C-01 (level 1): CRP of CRP quantitative", pages[0])
        for word in ("1-2s", "1-3s", "Mean 30", "+3 SD 60", "FAIL"):
            self.assertIn(word, pages[0])
        for word in ("CRP-L1 lot C-02", "Mean 20", "1-3s"):
            self.assertIn(word, pages[1])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
