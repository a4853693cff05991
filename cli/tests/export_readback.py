#!/usr/bin/env python3
"""Write -> read back for kyvo-cli export and report.

The result files are read here by a reader of their own (UTF-16 with tabs),
independent of the program's, and every exported row is compared with it:
the CSV through the csv module and pandas, the JSON against its schema, the
PDF through pdftotext and pdfinfo.

usage: export_readback.py KYVO_CLI DATA_DIR SCHEMA
"""
import csv
import io
import json
import math
import os
import re
import subprocess
import sys
import tempfile
import unittest

import jsonschema
import pandas

CLI, DATA, SCHEMA = (os.path.abspath(a) for a in sys.argv[1:4])
FIXTURES = ["demo-results.tsv", "faulty-results.tsv"]
LAYOUTS = {139: ("long", 8, 4), 46: ("short", 6, 4), 36: ("tobrel", 6, 3)}


def read_result_file(path):
    """The measurements of a result file, as an independent reader sees them."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    lines = [l for l in re.split(r"\r\n|\n|\r", text) if l]
    _, start, per = LAYOUTS[lines[0].count("\t")]
    out = []
    for line in lines[1:]:
        f = line.split("\t")
        results = []
        for i in range(10):
            g = f[start + i * per:start + (i + 1) * per]
            if len(g) < per:
                break
            if per == 3:
                g = [g[0], g[1], "", g[2]]
            validity, name = g[0].split(" - ", 1) if " - " in g[0] else ("", g[0])
            if any([name, g[1], g[2], g[3]]):
                results.append(dict(validity=validity, name=name, valueText=g[1], unit=g[2],
                                    cls=g[3]))
        out.append(dict(testId=f[0], testName=f[1], lot=f[2], distr=f[3], dateText=f[4],
                        comment=f[5], results=results))
    return out


def plain_number(text):
    return float(text) if re.fullmatch(r"-?(\d+(\.\d+)?|\.\d+)", text) else None


class Run:
    def __init__(self):
        self.home = tempfile.TemporaryDirectory()

    def __call__(self, *args, env=None, check=True):
        e = dict(os.environ, XDG_CONFIG_HOME=self.home.name)
        e.pop("DISPLAY", None)
        e.pop("WAYLAND_DISPLAY", None)
        if env:
            e.update(env)
        p = subprocess.run([CLI, *args], capture_output=True, env=e)
        if check and p.returncode != 0:
            raise AssertionError(f"kyvo-cli {' '.join(args)} -> {p.returncode}: {p.stderr!r}")
        return p


class ExportReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cli = Run()
        cls.tmp = tempfile.TemporaryDirectory()
        with open(SCHEMA, encoding="utf-8") as f:
            cls.schema = json.load(f)

    def fixture(self, name):
        return os.path.join(DATA, name)

    def test_csv_result_rows_read_back_through_csv_and_pandas(self):
        for name in FIXTURES:
            with self.subTest(name):
                expected = read_result_file(self.fixture(name))
                out = os.path.join(self.tmp.name, name + ".csv")
                self.cli("export", self.fixture(name), "--to", "csv", "--out", out)
                with open(out, "rb") as f:
                    raw = f.read()
                self.assertTrue(raw.startswith(b"\xef\xbb\xbf"))
                rows = list(csv.DictReader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
                want = [(m, r) for m in expected for r in m["results"]]
                self.assertEqual(len(want), len(rows))
                for (m, r), row in zip(want, rows):
                    self.assertEqual(m["testId"], row["test_id"])
                    self.assertEqual(m["distr"], row["distributor_manufacturer"])
                    self.assertEqual(m["comment"], row["user_comment"])
                    self.assertEqual(m["dateText"], row["date_text"])
                    self.assertEqual(r["name"], row["result_name"])
                    self.assertEqual(r["valueText"], row["value_text"])
                    self.assertEqual(r["unit"], row["unit"])
                    self.assertEqual(r["cls"], row["class"])
                    self.assertEqual(r["validity"], row["validity"])
                    number = plain_number(r["valueText"])
                    self.assertEqual("" if number is None else number,
                                     float(row["value"]) if row["value"] else "")
                frame = pandas.read_csv(out)
                self.assertEqual(len(want), len(frame))
                self.assertEqual("test_id", frame.columns[0])
                self.assertTrue(pandas.api.types.is_float_dtype(frame["value"]))
                self.assertEqual([r["unit"] for _, r in want],
                                 ["" if isinstance(u, float) else u for u in frame["unit"]])

    def test_csv_line_rows_hold_one_row_per_line_result(self):
        out = os.path.join(self.tmp.name, "lines.csv")
        self.cli("export", self.fixture("faulty-results.tsv"), "--to", "csv", "--lines",
                 "--out", out)
        frame = pandas.read_csv(out)
        self.assertEqual(["12 3 1 7 1807 0042 90000001"] * 2 + ["12 3 2 1 1807 0042 90000002"] * 3
                         + ["12 3 5 2 1807 0042 90000003"] * 6, list(frame["test_id"]))
        # The line values NAN and INF of the third measurement are no numbers.
        third = frame[frame["test_id"] == "12 3 5 2 1807 0042 90000003"].iloc[0]
        self.assertTrue(math.isnan(third["mean_value"]) and math.isnan(third["min_value"]))
        self.assertEqual(2371.0, third["max_value"])

    def test_json_validates_against_its_schema_and_matches_the_file(self):
        for name in FIXTURES:
            with self.subTest(name):
                expected = read_result_file(self.fixture(name))
                p = self.cli("export", self.fixture(name), "--to", "json")
                doc = json.loads(p.stdout.decode("utf-8"))
                jsonschema.validate(doc, self.schema)
                self.assertEqual(len(expected), len(doc["measurements"]))
                for m, got in zip(expected, doc["measurements"]):
                    self.assertEqual(m["testId"], got["testId"])
                    self.assertEqual(m["distr"], got["distributorManufacturer"])
                    self.assertEqual(m["dateText"], got["dateText"])
                    self.assertEqual(len(m["results"]), len(got["results"]))
                    for r, g in zip(m["results"], got["results"]):
                        self.assertEqual(r["valueText"], g["valueText"])
                        self.assertEqual(r["unit"], g["unit"])
                        self.assertEqual(plain_number(r["valueText"]), g["value"])

    def test_json_of_the_faulty_file_keeps_its_odd_values(self):
        p = self.cli("export", self.fixture("faulty-results.tsv"), "--to", "json")
        m = json.loads(p.stdout.decode("utf-8"))["measurements"]
        self.assertEqual(136, len(m[0]["distributorManufacturer"]))
        self.assertEqual("µg/l", m[0]["results"][0]["unit"])
        self.assertEqual("°C·s", m[2]["results"][0]["unit"])
        self.assertIsNone(m[2]["results"][0]["value"])
        self.assertIsNone(m[2]["dateTime"])
        self.assertEqual("33752069", m[2]["dateText"])
        self.assertIsNone(m[2]["lines"][0]["meanValue"])
        self.assertEqual(["Invalid", "Invalid"], [r["validity"] for r in m[1]["results"]])

    def test_output_does_not_depend_on_the_locale(self):
        env = {"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"}
        for form in (["--to", "csv"], ["--to", "csv", "--lines"], ["--to", "json"]):
            with self.subTest(form):
                plain = self.cli("export", self.fixture("demo-results.tsv"), *form,
                                 env={"LANG": "C", "LC_ALL": "C"}).stdout
                german = self.cli("export", self.fixture("demo-results.tsv"), *form, env=env).stdout
                self.assertEqual(plain, german)

    def test_pdf_report_has_a_page_per_measurement_and_every_result_row(self):
        for name in FIXTURES:
            with self.subTest(name):
                expected = read_result_file(self.fixture(name))
                pdf = os.path.join(self.tmp.name, name + ".pdf")
                self.cli("report", self.fixture(name), "--out", pdf)
                info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True,
                                      check=True).stdout
                self.assertEqual(len(expected), int(re.search(r"Pages:\s+(\d+)", info).group(1)))
                # In content order, so that a text wrapped inside its table cell
                # stays in one piece.
                pages = subprocess.run(["pdftotext", "-raw", pdf, "-"], capture_output=True,
                                       text=True, check=True).stdout.split("\f")
                for m, page in zip(expected, pages):
                    # Long texts wrap inside their cells; compare without blanks.
                    flat = re.sub(r"\s+", "", page)
                    for needle in [m["testId"], m["distr"], m["comment"], m["dateText"]]:
                        self.assertIn(re.sub(r"\s+", "", needle), flat)
                    for r in m["results"]:
                        for needle in [r["validity"], r["name"], r["valueText"], r["unit"],
                                       r["cls"]]:
                            self.assertIn(re.sub(r"\s+", "", needle), flat)
                    self.assertIn(f"Page {expected.index(m) + 1} of {len(expected)}", page)

    def test_report_and_json_name_the_version_that_version_names(self):
        version = self.cli("--version").stdout.decode().split()[-1]
        pdf = os.path.join(self.tmp.name, "version.pdf")
        self.cli("report", self.fixture("demo-results.tsv"), "--out", pdf)
        head = subprocess.run(["pdftotext", "-l", "1", pdf, "-"], capture_output=True,
                              text=True, check=True).stdout
        self.assertIn("Kyvo Data Reader " + version + "\n", head)
        self.assertNotRegex(head, r"V\d+\.\d+\.\d{3}")
        out = json.loads(self.cli("export", self.fixture("demo-results.tsv"), "--to",
                                  "json").stdout.decode("utf-8"))
        self.assertEqual(version, out["program"]["version"])

    def test_archive_summary_report_has_every_measurement_and_a_chart_per_result(self):
        archive = "sqlite:" + os.path.join(self.tmp.name, "summary.sqlite")
        self.cli("--archive", archive, "archive", "import", self.fixture("demo-results.tsv"),
                 self.fixture("faulty-results.tsv"))
        listed = self.cli("--archive", archive, "archive", "list", "--test",
                          "CRP quantitative").stdout.decode("utf-8").splitlines()
        self.assertGreater(len(listed), 2)
        pdf = os.path.join(self.tmp.name, "summary.pdf")
        self.cli("--archive", archive, "archive", "report", "--summary", "--test",
                 "CRP quantitative", "--out", pdf)
        pages = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True,
                               check=True).stdout.split("\f")[:-1]
        self.assertIn("Filter: Test CRP quantitative", pages[0])
        table = re.sub(r"\s+", "", "".join(p for p in pages if "Validity" in p))
        for line in listed:
            date = line.split("\t")[1].replace("T", "")
            self.assertIn(date, table)
        # One line each, besides the filter's own words at the top.
        self.assertEqual(len(listed) + 1, table.count("CRPquantitative"))
        charts = [p for p in pages if "Validity" not in p]
        self.assertEqual(1, len(charts))
        self.assertIn("CRP quantitative - CRP", charts[0])
        for n, page in enumerate(pages):
            self.assertIn(f"Page {n + 1} of {len(pages)}", page)
        wrong = self.cli("--archive", archive, "archive", "list", "--summary", check=False)
        self.assertEqual(2, wrong.returncode)

    def test_report_of_selected_measurements_only(self):
        pdf = os.path.join(self.tmp.name, "selected.pdf")
        self.cli("report", self.fixture("demo-results.tsv"), "--out", pdf, "--select",
                 "12 3 5 2 1807 0042 68100097", "12 3 1 7 1807 0042 34082560")
        text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True,
                              check=True).stdout
        self.assertIn("Page 2 of 2", text)
        first, second = text.split("\f")[:2]
        self.assertIn("68100097", first)
        self.assertIn("34082560", second)

    def test_a_damaged_line_keeps_the_measurements_before_it_and_fails(self):
        with open(self.fixture("demo-results.tsv"), "rb") as f:
            lines = f.read().decode("utf-16").split("\r\n")
        fields = lines[3].split("\t")
        fields[4] = "not a date"
        lines[3] = "\t".join(fields)
        damaged = os.path.join(self.tmp.name, "damaged.tsv")
        with open(damaged, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        out = os.path.join(self.tmp.name, "damaged.csv")
        p = self.cli("export", damaged, "--to", "csv", "--out", out, check=False)
        self.assertEqual(6, p.returncode)
        self.assertIn(b"line 4 is damaged", p.stderr)
        expected = read_result_file(self.fixture("demo-results.tsv"))[:2]
        self.assertEqual([m["testId"] for m in expected for _ in m["results"]],
                         list(pandas.read_csv(out)["test_id"]))

    def test_paper_follows_the_locale(self):
        for lang, size in [("en_US.UTF-8", "letter"), ("de_DE.UTF-8", "A4"), ("C", "A4")]:
            with self.subTest(lang):
                pdf = os.path.join(self.tmp.name, f"paper-{lang}.pdf")
                self.cli("report", self.fixture("faulty-results.tsv"), "--out", pdf,
                         env={"LANG": lang, "LC_ALL": lang})
                info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True,
                                      check=True).stdout
                self.assertIn(f"({size})", info)

    def test_errors_have_their_exit_status_and_leave_no_file(self):
        bad = os.path.join(self.tmp.name, "not-a-result-file.tsv")
        with open(bad, "wb") as f:
            f.write("\ufeffhello\tworld\r\n".encode("utf-16-le"))
        out = os.path.join(self.tmp.name, "never.csv")
        cases = [
            (["export", self.fixture("demo-results.tsv")], 2),
            (["export", self.fixture("demo-results.tsv"), "--to", "xml"], 2),
            (["export", self.fixture("demo-results.tsv"), "--to", "json", "--lines"], 2),
            (["report", self.fixture("demo-results.tsv")], 2),
            (["export", os.path.join(self.tmp.name, "missing.tsv"), "--to", "csv", "--out", out], 6),
            (["export", bad, "--to", "csv", "--out", out], 6),
            (["export", self.fixture("demo-results.tsv"), "--to", "csv", "--out", out,
              "--select", "no such id"], 6),
            (["export", self.fixture("demo-results.tsv"), "--to", "csv", "--out",
              os.path.join(self.tmp.name, "no-folder", "x.csv")], 6),
        ]
        for args, status in cases:
            with self.subTest(args):
                p = self.cli(*args, check=False)
                self.assertEqual(status, p.returncode, p.stderr)
                self.assertTrue(p.stderr.startswith(b"kyvo-cli: "), p.stderr)
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
