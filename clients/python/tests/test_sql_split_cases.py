"""The driver reads SQL text as the server does: the table of cases the C++ tests check the
server's splitter and velmora-cli against (tests/cases/sql_split_cases.json) gives, for each text,
whether each statement returns rows. The driver writes no value into the text, so its ? markers
are the server's to find; the C++ test checks the server's count of them on the same cases."""

import json
import pathlib

import pytest

from velmora.sqltext import returns_rows

CASES = json.loads((pathlib.Path(__file__).resolve().parents[3] / "tests" / "cases"
                    / "sql_split_cases.json").read_text(encoding="utf-8"))["cases"]


@pytest.mark.parametrize("case", CASES, ids=[c["sql"] for c in CASES])
def test_row_rule_agrees_with_the_server(case):
    assert [returns_rows(s) for s in case["statements"]] == case["rows"]
