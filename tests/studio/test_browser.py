"""The page in a headless Chromium: edit, see a value refused, save, and check the tool's own
report of what was written; for a DDR binary and for a loader container packed by imgwelder."""

import pytest

from conftest import REPO, VALUE_RULES
from studio_driver import chromium, type_into, wait_js
from test_http import report, unpacked

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    try:
        driver = chromium(tmp_path_factory.mktemp("profile"))
    except Exception as e:  # no Chromium, no driver, or it cannot start here
        pytest.skip(f"Chromium cannot start: {type(e).__name__}: {str(e).splitlines()[0] if str(e) else ''}")
    yield driver
    driver.quit()


def open_page(browser, studio, file):
    browser.get(studio.page(file))
    assert wait_js(browser, "document.body.dataset.ready && document.querySelectorAll('#params input[name]').length") == 484


def save_and_wait(browser):
    save = next(b for b in browser.find_elements("tag name", "button") if b.text == "Save")
    assert save.is_enabled()
    save.click()
    wait_js(browser, "document.body.dataset.saved === '1' || document.querySelector('#result.error')")
    return browser.find_element("id", "result").text


def test_edit_refuse_and_save_a_ddr_binary(browser, studio, workspace, tmp_path):
    open_page(browser, studio, "tq6951_ddr_v5.bin")
    assert "chip matches the file name" in browser.find_element("id", "chip-status").text
    freq = type_into(browser, "ddr3_freq", "4096")  # the field is 12 bits wide
    assert freq.get_attribute("aria-invalid") == "true"
    assert not browser.find_element("id", "save").is_enabled()
    assert "12-bit field" in browser.find_element("id", "pending").text
    type_into(browser, "ddr3_freq", "933")
    skew = type_into(browser, "ddr3_ca0_skew", "0x21")
    assert freq.get_attribute("aria-invalid") is None and skew.get_attribute("aria-invalid") is None
    assert "ddr3_ca0_skew 0x69 0x21" in browser.find_element("id", "pending").text

    result = save_and_wait(browser)
    assert "Saved tq6951_ddr_v5_new.bin" in result and "reads back" in result
    new = report(workspace / "tq6951_ddr_v5_new.bin", "tq6951", tmp_path)
    assert (new["ddr3_freq"], new["ddr3_ca0_skew"]) == ("933", "0x21")


def test_edit_and_save_a_loader_container(browser, studio, workspace, tmp_path):
    open_page(browser, studio, "tq6951_loader.bin")
    assert "DDR image ddr.bin" in browser.find_element("id", "loader-header").text
    type_into(browser, "ddr3_freq", "0x320")
    result = save_and_wait(browser)
    assert "Saved tq6951_loader_new.bin" in result
    assert "Every edited value reads back from the new container, unpacked again, as saved" in result
    out = unpacked(workspace / "tq6951_loader_new.bin", tmp_path)
    assert report(out / "ddr.bin", "tq6951", tmp_path)["ddr3_freq"] == "800"
    assert (REPO / "examples/tq6951_loader.bin").read_bytes() == (workspace / "tq6951_loader.bin").read_bytes()


def test_page_follows_the_value_rules(browser, studio):
    browser.get(studio.page())
    wait_js(browser, "document.body.dataset.ready")
    got = browser.execute_async_script("""
        const [cases, done] = arguments;
        import("/static/rules.js").then(r => done(cases.map(({text, width}) => {
          const param = {n: 1, format: "hex", places: [{versions: [5], width}]};
          const c = r.check(param, text, 5, "tq6951");
          return c.reason ? c.reason : parseInt(c.value, 16);
        })));""", VALUE_RULES)
    assert got == [c.get("value", c.get("reason")) for c in VALUE_RULES]
