# Types of the dramforge extension module, for hosts that type-check their code. The eight
# operations are functions bound to the class (their self is the class, so they type as class
# methods) and are called on the class: dramforge.dramforge.get_ddr_params(...). Values of DDR
# parameters travel as text. What each operation writes, logs and raises: docs/dramforge.md, the
# host developers' reference (DIR/docs/dramforge.md in an install directory).
import logging
from typing import Mapping

# pandas ships no type information of its own; with pandas-stubs installed this is a real type.
from pandas import DataFrame  # type: ignore[import]

imgweld_tool_win_path: str
ddr_bin_tool_win_path: str
imgweld_tool_linux_path: str
ddr_bin_tool_linux_path: str
logger: logging.Logger

class dramforge:
    @classmethod
    def check_if_loadr_file(cls, loader_file_path: str) -> bool: ...
    # The header's 22 values: the nine of the entry tables as integers, the others as text.
    @classmethod
    def get_loader_param(cls, loader_file_path: str) -> dict[str, str | int]: ...
    # None when the file does not exist.
    @classmethod
    def get_cfg_file(cls, csv_file_path: str) -> DataFrame | None: ...
    # None when the packing tool reports an error.
    @classmethod
    def loader_unpack(cls, loader_file_path: str, chip_name: str = "NULL") -> dict[str, str] | None: ...
    # The path of the container written.
    @classmethod
    def loader_pack(cls, loader_params_dict: Mapping[str, str], loader_file_rename: bool = True) -> str: ...
    # (parameters, status): 0 the chip matches the path, -1 it does not, -2 the tool refused the
    # chip name, -3 the tool is missing.
    @classmethod
    def get_ddr_params(
        cls, ddr_bin_file_path: str, chip_name: str = "NULL", chip_other: str = "NULL"
    ) -> tuple[dict[str, str], int]: ...
    # The path of the binary the tool was told to change.
    @classmethod
    def update_ddr_bin(
        cls,
        res_dict: Mapping[str, str],
        ddr_bin_path: str,
        chip_name: str = "NULL",
        chip_other: str = "NULL",
        ddr_bin_path_rename: bool = True,
    ) -> str: ...
    # (changed parameters, the changes as readable text)
    @classmethod
    def cpmpare_ddr_param(cls) -> tuple[dict[str, str], str]: ...
