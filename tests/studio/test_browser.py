"""The page in a headless Chromium: edit, see a value refused, save, and check the tool's own
report of what was written; for a DDR binary and for a loader container packed by imgwelder. Every
state of the page passes axe-core, and a person with a keyboard alone opens, edits and saves."""

import pytest

from conftest import CHIP_NAME_RULES, REPO, VALUE_RULES
from studio_driver import AXE, axe_violations, chromium, type_into, wait_js
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


OVERLAP = "the block's DDR2 and LPDDR2 sections overlap: vexdram does not write it"


@pytest.mark.parametrize("file,key,value,own,why,note", [
    # a parameter the binary does not store takes only its own value, and says so in its row
    ("tq6583_ddr_v2.bin", "ddr3_dq_vref_when_odten", "5", "0",
     "not stored in this binary: block version 2 has no place for it", True),
    # a skew lane that holds a value takes any other but 0
    ("tq6951_ddr_v5.bin", "ddr3_ca0_skew", "0x0", "0x69",
     "0 keeps a skew lane as it is (0x69 here); it cannot be set to 0", False),
    # a block whose sections overlap takes no edit: every line of the file is not used
    ("tq6951_overlap_v5.bin", "lp2_f1_freq_mhz", "800", "3302", OVERLAP, False),
])
def test_an_edit_vexdram_refuses_is_refused_on_the_page(browser, studio, workspace, file, key, value, own, why,
                                                         note):
    (workspace / "refused.txt").write_text(f"ddr3_freq=803\n{key}={value}\n")
    open_page(browser, studio, file)
    assert browser.find_element("id", "unwritable").text == (f"No value can be changed: {why}." if why == OVERLAP else "")
    browser.execute_script("document.getElementById('import-file').value = 'refused.txt'")
    browser.find_element("id", "import").click()
    wait_js(browser, "document.querySelector('#comparison h3')")
    assert browser.find_element("id", "import-refused").text.splitlines()[1:] == (
        [f"1 ddr3_freq=803 {why}"] if why == OVERLAP else []) + [f"2 {key}={value} {why}"]
    assert browser.find_element("id", "pending").text.count("ddr3_freq") == (why != OVERLAP)
    field = type_into(browser, key, value)
    assert field.get_attribute("aria-invalid") == "true" and why in browser.find_element("id", "pending").text
    assert not browser.find_element("id", "save").is_enabled()
    type_into(browser, key, own)  # its own value: no change, no refusal
    assert field.get_attribute("aria-invalid") is None
    assert browser.find_element("css selector", f"tr[data-key='{key}'] .note").text == (why if note else "")


def test_edit_and_save_a_loader_container(browser, studio, workspace, tmp_path):
    open_page(browser, studio, "tq6951_loader.bin")
    assert "DDR image ddr.bin" in browser.find_element("id", "loader-header").text
    type_into(browser, "ddr3_freq", "0x320")
    result = save_and_wait(browser)
    assert "Saved tq6951_loader_new.bin" in result
    assert "Every parameter reads back from the new container as expected" in result
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


def test_page_guesses_the_chip_by_the_chip_name_rules(browser, studio):
    browser.get(studio.page())
    wait_js(browser, "document.body.dataset.ready")
    got = browser.execute_async_script("""
        const [names, done] = arguments;
        Promise.all([import("/static/rules.js"), fetch("/api/info", {headers: {"X-Studio-Token":
            document.querySelector('meta[name="studio-token"]').content}}).then(r => r.json())])
          .then(([r, info]) => done(names.map(n => r.chipOfName(n, info.chips.map(c => c.chip)))));""",
        [c["name"] for c in CHIP_NAME_RULES])
    assert [g and g.lower() for g in got] == [c["chip"] for c in CHIP_NAME_RULES]


@pytest.fixture(scope="module")
def axe(browser):
    if not (REPO / AXE).is_file():
        pytest.fail(f"{AXE} is missing: scripts/setup.sh installs it")
    return lambda: axe_violations(browser, REPO)


def test_every_state_of_the_page_passes_axe(browser, studio, workspace, axe):
    (workspace / "a11y.txt").write_text("ddr3_freq=802\nbogus=1\nend\n")
    browser.get(studio.page())
    wait_js(browser, "document.body.dataset.ready")
    found = {"start": axe()}
    open_page(browser, studio, "tq6951_loader.bin")
    found["container"] = axe()
    open_page(browser, studio, "tq6951_overlap_v5.bin")
    found["unwritable"] = axe()
    open_page(browser, studio, "tq6583_ddr_v2.bin")
    found["binary"] = axe()
    type_into(browser, "ddr3_freq", "801")
    save_and_wait(browser)
    found["saved"] = axe()
    for state, action, file, shown in (("compared", "compare", "tq6951_ddr_v5.bin", "#comparison h3"),
                                       ("imported", "import", "a11y.txt", "#import-refused")):
        browser.execute_script(f"document.getElementById('{action}-file').value = '{file}'")
        browser.find_element("id", action).click()
        wait_js(browser, f"document.querySelector('{shown}')")
        found[state] = axe()
    assert found == {state: [] for state in found}


def test_open_edit_and_save_with_the_keyboard_alone(browser, studio, workspace, tmp_path):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys

    def press(*keys, held=None):
        chain = ActionChains(browser)
        (chain.key_down(held).send_keys(*keys).key_up(held) if held else chain.send_keys(*keys)).perform()

    def focused():  # what has the focus, and whether it is outlined
        return browser.execute_script("""const a = document.activeElement, s = getComputedStyle(a);
            return [a.dataset.file || a.name || a.id, s.outlineStyle !== "none" && parseFloat(s.outlineWidth) > 0];""")

    def tab_to(target):
        for _ in range(40):
            press(Keys.TAB)
            name, outlined = focused()
            assert outlined, name
            if name == target:
                return
        raise AssertionError(f"Tab never reaches {target}")

    def saved(n):
        wait_js(browser, f"document.body.dataset.saved === '{n}'")
        return report(workspace / "tq6583_ddr_v2_new.bin", "tq6583", tmp_path)["ddr3_freq"]

    browser.get(studio.page())
    wait_js(browser, "document.body.dataset.ready")
    tab_to("tq6583_ddr_v2.bin")
    press(Keys.ENTER)
    wait_js(browser, "document.body.dataset.opened === '1'")
    tab_to("filter")
    press("ddr3_freq", Keys.ENTER)
    assert focused() == ["ddr3_freq", True]
    press("777", Keys.ENTER)
    assert focused() == ["save", True]
    press(Keys.ENTER)
    assert saved(1) == "777"
    press(Keys.TAB, held=Keys.SHIFT)  # back to the filter, and on to the field
    press(Keys.ENTER, "4096")
    press("s", held=Keys.CONTROL)  # Save is not enabled: nothing is saved, the notice says why
    assert "Fix the values marked invalid first" in browser.find_element("id", "notice").text
    press(*[Keys.BACKSPACE] * 4, "778")
    press("s", held=Keys.CONTROL)
    assert saved(2) == "778"
