"""get_cfg_file: GBK tables through pandas."""
import logging

import pandas as pd
import pytest

if getattr(pd, "STAND_IN", False):
    pytest.skip("get_cfg_file needs pandas, and this interpreter has only the stand-in",
                allow_module_level=True)

TABLE = "芯片,频率,备注\ntq6951,1056,默认配置\n样品,800,低功耗\n"


def test_gbk_table_with_chinese_headers_and_cells(df, tmp_path):
    path = tmp_path / "配置.csv"
    path.write_bytes(TABLE.encode("gbk"))
    got = df.get_cfg_file(csv_file_path=str(path))
    assert list(got.columns) == ["芯片", "频率", "备注"]
    assert got.values.tolist() == [["tq6951", 1056, "默认配置"], ["样品", 800, "低功耗"]]


def test_missing_path_logs_once_and_returns_none(df, tmp_path, caplog):
    assert df.get_cfg_file(str(tmp_path / "absent.csv")) is None
    assert [(r.levelno, r.getMessage()) for r in caplog.records] == [
        (logging.ERROR, "get_cfg_file error, file_path not exist\n")]


@pytest.mark.parametrize("data, error", [
    ("芯片\n值\n".encode("utf-8"), UnicodeDecodeError),
    (b"a,b\n\x81\x20,1\n", UnicodeDecodeError),
    (b"", pd.errors.EmptyDataError),
])
def test_read_csv_errors_reach_the_caller(df, tmp_path, data, error):
    (tmp_path / "t.csv").write_bytes(data)
    with pytest.raises(error):
        df.get_cfg_file(str(tmp_path / "t.csv"))


def test_read_csv_called_through_the_namespace_with_gbk(df, dramforge_module, tmp_path, monkeypatch):
    seen = []
    fake_pd = type("pd", (), {"read_csv": staticmethod(lambda *a, **k: seen.append((a, k)) or "df")})
    monkeypatch.setitem(vars(dramforge_module), "pd", fake_pd)
    assert df.get_cfg_file(str(tmp_path)) == "df"
    assert seen == [((str(tmp_path),), {"encoding": "gbk"})]
