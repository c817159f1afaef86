"""The driver reads SQL text as the server does: the table of cases the C++ tests check the
server's splitter and velmora-cli against (tests/cases/sql_split_cases.json) gives, for each text,
whether each statement returns rows and how many ? markers the text holds."""

import json
import pathlib

import pytest

from velmora.exceptions import ProgrammingError
from velmora.sqltext import Literals, returns_rows

CASES = json.loads((pathlib.Path(__file__).resolve().parents[3] / "tests" / "cases"
                    / "sql_split_cases.json").read_text(encoding="utf-8"))["cases"]


@pytest.mark.parametrize("case", CASES, ids=[c["sql"] for c in CASES])
def test_row_rule_and_markers_agree_with_the_server(case):
    assert [returns_rows(s) for s in case["statements"]] == case["rows"]
    markers = case["markers"]
    rendered = Literals().substitute(case["sql"], [7] * markers)
    assert rendered.count("7") - case["sql"].count("7") == markers
    with pytest.raises(ProgrammingError):
        Literals().substitute(case["sql"], [7] * (markers + 1))
