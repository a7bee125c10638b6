"""The module frame: namespace, class, the eight functions' names, signatures, docstrings and
argument checking."""
import inspect
import shutil
import subprocess
import sys
from importlib.machinery import EXTENSION_SUFFIXES

import pytest

from conftest import DIST

OPERATIONS = [
    ("check_if_loadr_file", ["loader_file_path"], {}),
    ("get_loader_param", ["loader_file_path"], {}),
    ("get_cfg_file", ["csv_file_path"], {}),
    ("loader_unpack", ["loader_file_path", "chip_name"], {"chip_name": "NULL"}),
    ("loader_pack", ["loader_params_dict", "loader_file_rename"], {"loader_file_rename": True}),
    ("get_ddr_params", ["ddr_bin_file_path", "chip_name", "chip_other"],
     {"chip_name": "NULL", "chip_other": "NULL"}),
    ("update_ddr_bin", ["res_dict", "ddr_bin_path", "chip_name", "chip_other", "ddr_bin_path_rename"],
     {"chip_name": "NULL", "chip_other": "NULL", "ddr_bin_path_rename": True}),
    ("cpmpare_ddr_param", [], {}),
]
NAMES = [name for name, _, _ in OPERATIONS]

I8 = " " * 8
DOCS = {
    "get_cfg_file": (
        "\n" + I8 + "读取config文件(.csv)\n"
        + I8 + ":Param Str file_path: config文件(.csv)路径\n"
        + I8 + ":Return Dataframe data_df: 文件数据\n" + I8
    ),
    "loader_unpack": (
        "\n" + I8 + "使用imgwelder工具对loader文件进行解包\n"
        + I8 + ":Param Str file_path: loader.bin文件路径\n"
        + I8 + ":Return Dict loader_params_dict: 解包后获取的loader参数\n" + I8
    ),
    "get_ddr_params": (
        "\n" + I8 + "从ddr bin中获取DDR配置参数ddr params\n"
        + I8 + ":Param Str ddr_bin_file_path: ddr bin的文件路径\n"
        + I8 + ":Param Str chip_name:\n"
        + I8 + ":Param Str chip_chip_othername:\n"
        + I8 + ":Return Dict res_dict: ddr配置参数\n"
        + I8 + ":Return Int ret_int:\n"
        + " " * 13 + "0 : Pass\n"
        + " " * 12 + "-1 : The vexdram file does not match the chip_name\n"
        + " " * 12 + "-2 : vexdram_tool chip name error\n"
        + " " * 12 + "-3 : vexdram_tool does not exist\n" + I8
    ),
    "update_ddr_bin": (
        "\n" + I8 + "DDR配置参数ddr params重新生成ddr bin\n"
        + I8 + ":Param Dict res_dict: ddr配置参数\n" + I8
    ),
}


def test_namespace_order_and_values(dramforge_module):
    import logging, os, pandas, platform, shutil, struct  # noqa: E401
    ns = vars(dramforge_module)
    assert [k for k in ns if not k.startswith("__")] == [
        "sys", "os", "platform", "shutil", "struct", "pd", "logging",
        "imgweld_tool_win_path", "ddr_bin_tool_win_path",
        "imgweld_tool_linux_path", "ddr_bin_tool_linux_path", "logger", "dramforge",
    ]
    for name, module in [("sys", sys), ("os", os), ("platform", platform), ("shutil", shutil),
                         ("struct", struct), ("pd", pandas), ("logging", logging)]:
        assert ns[name] is module
    assert ns["imgweld_tool_win_path"] == "resource\\tools\\imgwelder.exe"
    assert ns["ddr_bin_tool_win_path"] == "resource\\tools\\vexdram_tool.exe"
    assert ns["imgweld_tool_linux_path"] == "resource/tools/imgwelder"
    assert ns["ddr_bin_tool_linux_path"] == "resource/tools/vexdram_tool"
    assert ns["logger"] is logging.getLogger()
    assert dramforge_module.__doc__ is None


def test_class_is_plain(dramforge_module, df):
    assert type(df) is type
    assert df.__bases__ == (object,)
    assert df.__name__ == df.__qualname__ == df.__module__ == "dramforge"
    assert df.__doc__ is None
    assert [k for k in vars(df) if not k.startswith("__")] == NAMES
    assert not hasattr(dramforge_module, "subprocess")


@pytest.mark.parametrize("name,params,defaults", OPERATIONS, ids=NAMES)
def test_function_identity_and_signature(df, name, params, defaults):
    fn = getattr(df, name)
    assert fn.__name__ == name
    assert fn.__qualname__ == "dramforge." + name
    assert fn.__module__ == "dramforge"
    assert fn.__doc__ == DOCS.get(name)
    sig = inspect.signature(fn)
    assert list(sig.parameters) == params
    assert {p.name: p.default for p in sig.parameters.values()
            if p.default is not inspect.Parameter.empty} == defaults
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in sig.parameters.values())


def _bad_calls(params):
    n = len(params)
    calls = [("surplus", ("x",) * (n + 1), {}), ("unknown", ("x",) * n, {"bogus": 1})]
    if params:
        calls.append(("missing", (), {}))
        calls.append(("duplicated", ("x",), {params[0]: "x"}))
    return calls


@pytest.mark.parametrize(
    "name,kind,args,kwargs",
    [(name, kind, a, k) for name, params, _ in OPERATIONS for kind, a, k in _bad_calls(params)],
)
def test_argument_errors(df, name, kind, args, kwargs):
    with pytest.raises(TypeError):
        getattr(df, name)(*args, **kwargs)


def test_import_is_once(dramforge_module):
    import importlib
    assert importlib.import_module("dramforge") is dramforge_module
    assert sys.modules["dramforge"] is dramforge_module


def test_missing_pandas_fails_the_import():
    code = (
        "import sys\n"
        f"sys.path.insert(0, {str(DIST)!r})\n"
        "sys.modules['pandas'] = None\n"
        "try:\n"
        "    import dramforge\n"
        "except ImportError as e:\n"
        "    print(type(e).__name__, e.name, 'dramforge' in sys.modules)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["ModuleNotFoundError", "pandas", "False"]


def test_class_keeps_its_name_and_its_own_namespace(tmp_path):
    """Inside a package the class is still named dramforge; a second module object made from the
    same library leaves the first module's class on the first module's namespace."""
    (tmp_path / "pkg").mkdir()
    (tmp_path / "pkg" / "__init__.py").write_text("")
    lib = next(p for p in DIST.glob("dramforge*") if p.name.endswith(tuple(EXTENSION_SUFFIXES)))
    shutil.copy(lib, tmp_path / "pkg" / lib.name)
    code = (
        "import sys\n"
        f"sys.path[:0] = [{str(DIST)!r}, {str(tmp_path)!r}]\n"
        "from pkg import dramforge as p\n"
        "c = p.dramforge\n"
        "print(c.__name__, c.__qualname__, c.__module__, c.get_ddr_params.__qualname__)\n"
        "import dramforge as a\n"
        "del sys.modules['dramforge']\n"
        "import dramforge as b\n"
        "a.os = None\n"
        "try:\n"
        "    a.dramforge.get_cfg_file('x.csv')\n"
        "except AttributeError:\n"
        "    print('own')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         cwd=tmp_path)
    assert out.stdout.split() == ["dramforge", "dramforge", "pkg.dramforge",
                                  "dramforge.get_ddr_params", "own"]
