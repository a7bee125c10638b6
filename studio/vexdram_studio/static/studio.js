// The page: workspace list, one open document (a DDR binary or a loader container), its
// parameters grouped by section, pending edits, and the actions on the server.
import { check, chipOfName, describePlace, largest, reportValue, stripBlanks, widthOf } from "./rules.js";

const token = document.querySelector('meta[name="studio-token"]').content;
const $ = id => document.getElementById(id);

let catalogue = null;   // {chips, groups, start_tag, parameters}
let byKey = new Map();  // key -> parameter
let chips = [];         // rows of the chip table
let files = [];         // workspace listing
let doc = null;         // the open document: {file, kind, chip, version, params, status, ...}
const edits = new Map();    // key -> value as the report writes it
const invalid = new Map();  // key -> {reason, text as typed}

const KIND = { loader: "loader container", ddr: "DDR binary", text: "text", other: "other" };
const STORED = "stored";

function escapeHtml(s) {
  return String(s).replace(/[&<>"']/g, c => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" })[c]);
}

class ActionError extends Error {
  constructor(status, body) {
    super(body.error || `HTTP ${status}`);
    this.status = status;
    this.body = body;
  }
}

async function api(path, body) {
  const init = { headers: { "X-Studio-Token": token } };
  if (body !== undefined) {
    init.method = "POST";
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  const response = await fetch(path, init);
  const data = await response.json();
  if (!response.ok) throw new ActionError(response.status, data);
  return data;
}

// A POST that may ask before overwriting a file.
async function apiConfirm(path, body) {
  try {
    return await api(path, body);
  } catch (e) {
    if (e.status === 409 && confirm(e.message)) return api(path, { ...body, overwrite: true });
    throw e;
  }
}

function notice(text, kind = "") {
  const n = $("notice");
  n.textContent = text;
  n.className = kind;
}

// -- workspace -----------------------------------------------------------------------------

async function loadFiles() {
  files = (await api("/api/files")).files;
  const list = $("file-list");
  list.replaceChildren(...files.map(f => {
    const li = document.createElement("li");
    const button = document.createElement("button");
    button.type = "button";
    button.dataset.file = f.name;
    button.textContent = f.name;
    button.disabled = f.kind === "text";
    const badge = document.createElement("span");
    badge.className = `badge ${f.kind}`;
    badge.textContent = KIND[f.kind];
    li.append(button, badge);
    if (doc && f.name === doc.file) li.className = "current";
    return li;
  }));
  const options = (select, kinds) => {
    const keep = select.value;
    const names = files.filter(f => kinds.includes(f.kind)).map(f => new Option(f.name, f.name));
    select.replaceChildren(...(names.length ? names : [new Option("(no such file)", "")]));
    if ([...select.options].some(o => o.value === keep)) select.value = keep;
  };
  options($("import-file"), ["text"]);
  options($("compare-file"), ["ddr", "loader", "other"]);
}

function guessChip(name) {
  return chipOfName(name, chips.map(c => c.chip)) ?? chips[0].chip;
}

// -- opening -------------------------------------------------------------------------------

async function openFile(name, chip) {
  notice(`Opening ${name}…`, "busy");
  document.body.dataset.busy = "1";
  try {
    const opened = await api("/api/open", { file: name, chip: chip || guessChip(name) });
    if (!doc || doc.file !== opened.file) {
      edits.clear();
      invalid.clear();
      $("result").hidden = true;
      $("comparison").hidden = true;
    }
    doc = opened;
    showDocument();
    notice("");
  } catch (e) {
    showError(e, `${name} could not be opened`);
  } finally {
    delete document.body.dataset.busy;
  }
}

function showDocument() {
  $("document").hidden = false;
  $("doc-name").textContent = doc.file;
  $("doc-kind").textContent = KIND[doc.kind];
  $("chip").value = doc.chip;
  const row = chips.find(c => c.chip === doc.chip) || {};
  $("chip-info").textContent = [row.description_en, row.description_zh].filter(Boolean).join(" · ");
  $("chip-status").textContent = doc.status_text;
  $("chip-status").className = doc.status === 0 ? "ok" : "warn";
  $("doc-version").textContent = `block version ${doc.version}`;
  // A block vexdram does not write takes no edit at all: said once, before any is typed.
  $("unwritable").hidden = !doc.unwritable;
  $("unwritable").textContent = doc.unwritable ? `No value can be changed: ${doc.unwritable}.` : "";
  $("loader-header").hidden = doc.kind !== "loader";
  if (doc.kind === "loader") {
    $("ddr-image").textContent = `(DDR image ${doc.ddr_image})`;
    $("header-table").innerHTML = Object.entries(doc.header)
      .map(([k, v]) => `<tr><th>${escapeHtml(k)}</th><td>${escapeHtml(v)}</td></tr>`).join("");
  }
  $("export-name").value = doc.file.replace(/\.[^./]*$/, "") + "_params.txt";
  for (const li of $("file-list").children) li.className = li.firstChild.dataset.file === doc.file ? "current" : "";
  fillParams();
  document.body.dataset.opened = String(Number(document.body.dataset.opened || 0) + 1);
}

// The rows are built once from the catalogue; opening a file fills in its values and widths.
const rows = new Map();  // key -> {row, input, width, max, note}

function buildParams() {
  const groups = new Map(catalogue.groups.map(g => [g, []]));
  for (const p of catalogue.parameters) groups.get(p.group).push(p);
  let html = "";
  for (const [group, params] of groups) {
    if (!params.length) continue;
    html += `<section class="group" data-group="${escapeHtml(group)}" data-rows="${params.length}">` +
      `<h3>${escapeHtml(group)}</h3>` +
      `<table><thead><tr><th>Parameter</th><th>Value</th><th>Format</th><th>Width</th><th>Largest</th><th>Note</th></tr></thead><tbody>`;
    for (const p of params) {
      const where = p.places.map(describePlace).join("\n") || "not stored in any block form the tool reads or writes";
      html += `<tr data-key="${escapeHtml(p.key)}">` +
        `<th title="${escapeHtml(where)}"><label for="p${p.n}">${escapeHtml(p.key)}</label></th>` +
        `<td><input id="p${p.n}" name="${escapeHtml(p.key)}" autocomplete="off" spellcheck="false"${p.n === 0 ? " readonly" : ""}></td>` +
        `<td>${p.format}</td><td></td><td></td><td class="note"></td></tr>`;
    }
    html += "</tbody></table></section>";
  }
  $("params").innerHTML = html;
  // The height a section takes while it is out of sight and not laid out (CSSOM: the page's
  // policy allows no style attributes).
  for (const section of $("params").children)
    section.style.containIntrinsicSize = `auto ${60 + 26 * Number(section.dataset.rows)}px`;
  for (const row of $("params").querySelectorAll("tbody tr")) {
    const cells = row.children;
    rows.set(row.dataset.key, { row, input: cells[1].firstChild, width: cells[3], max: cells[4], note: cells[5] });
  }
}

function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

function fillParams() {
  for (const p of catalogue.parameters) {
    const r = rows.get(p.key);
    const width = widthOf(p, doc.version, doc.chip);
    // Where the binary stores it, as vexdram says: "stored", or vexdram's reason why not.
    const absent = p.n !== 0 && doc.storage[p.key] !== STORED;
    r.input.value = doc.params[p.key] ?? "";
    r.input.removeAttribute("aria-invalid");
    r.row.className = absent ? "absent" : "";
    setText(r.width, width === null ? "—" : String(width));
    setText(r.max, width === null ? "" : (p.format === "hex" ? "0x" + largest(width).toString(16) : String(largest(width))));
    setText(r.note, absent ? doc.storage[p.key] : "");
  }
  for (const key of new Set([...edits.keys(), ...invalid.keys()])) {
    const input = inputFor(key);
    input.value = invalid.has(key) ? invalid.get(key).text : edits.get(key);
    validate(input);
  }
  showPending();
}

function inputFor(key) {
  return rows.get(key).input;
}

// -- editing -------------------------------------------------------------------------------

// Why vexdram refuses the value for this binary, in its words, or "": any change of a block whose
// sections overlap, of a parameter the binary does not store, and a 0 for a skew lane that holds
// another value. The binary's own value is no change, wherever the parameter lives.
function refusal(param, value) {
  const own = doc.params[param.key] ?? "";
  if (param.n === 0 || reportValue(value) === reportValue(own)) return "";
  if (doc.unwritable) return doc.unwritable;
  if (doc.storage[param.key] !== STORED) return doc.storage[param.key];
  return reportValue(value) === 0 ? doc.zero_refused[param.key] ?? "" : "";
}

function validate(input) {
  const key = input.name;
  const param = byKey.get(key);
  const row = input.closest("tr");
  const original = doc.params[key] ?? "";
  const text = input.value;
  let result = stripBlanks(text) === original ? { value: original, reason: "" } : check(param, text, doc.version, doc.chip);
  if (!result.reason && refusal(param, result.value)) result = { value: null, reason: refusal(param, result.value) };
  const note = rows.get(key).note;
  if (result.reason) {
    invalid.set(key, { reason: result.reason, text });
    input.setAttribute("aria-invalid", "true");
    note.textContent = result.reason;
    edits.delete(key);
  } else {
    invalid.delete(key);
    input.removeAttribute("aria-invalid");
    note.textContent = row.classList.contains("absent") ? doc.storage[key] : "";
    if (reportValue(result.value) !== reportValue(original)) edits.set(key, result.value);
    else edits.delete(key);
  }
  row.classList.toggle("invalid", !!result.reason);
  row.classList.toggle("changed", edits.has(key));
}

function showPending() {
  const rows = [...edits].map(([key, value]) =>
    `<tr><td>${escapeHtml(key)}</td><td>${escapeHtml(doc.params[key] ?? "")}</td><td>${escapeHtml(value)}</td>` +
    `<td><button type="button" data-undo="${escapeHtml(key)}">Undo</button></td></tr>`);
  for (const [key, { reason }] of invalid)
    rows.push(`<tr class="invalid"><td>${escapeHtml(key)}</td><td>${escapeHtml(doc.params[key] ?? "")}</td>` +
      `<td>${escapeHtml(reason)}</td><td><button type="button" data-undo="${escapeHtml(key)}">Undo</button></td></tr>`);
  $("pending-list").innerHTML = rows.join("");
  $("pending").hidden = rows.length === 0;
  $("save").disabled = edits.size === 0 || invalid.size > 0;
  $("save").title = invalid.size ? "Fix the values marked invalid first" : "";
  $("revert-all").disabled = rows.length === 0;
}

function undo(key) {
  const input = inputFor(key);
  input.value = doc.params[key] ?? "";
  validate(input);
  showPending();
}

function applyFilter() {
  const words = $("filter").value.trim().toLowerCase();
  for (const section of $("params").children) {
    let shown = 0;
    for (const row of section.querySelectorAll("tbody tr")) {
      const hide = words !== "" && !row.dataset.key.toLowerCase().includes(words);
      row.hidden = hide;
      if (!hide) shown++;
    }
    section.hidden = shown === 0;
  }
}

function currentValues() {
  const values = {};
  for (const p of catalogue.parameters.slice(1)) values[p.key] = edits.get(p.key) ?? doc.params[p.key] ?? "0";
  return values;
}

// -- actions -------------------------------------------------------------------------------

function logBlock(log) {
  if (!log || !log.length) return "";
  const lines = log.map(r => `[${r.step} ${r.level}] ${r.text}`).join("\n");
  return `<details><summary>Module log (${log.length} records)</summary><pre>${escapeHtml(lines)}</pre></details>`;
}

function showError(e, what) {
  notice(`${what}: ${e.message}`, "error");
  const result = $("result");
  if (e.body && e.body.log) {
    result.hidden = false;
    result.className = "error";
    result.innerHTML = `<h3>${escapeHtml(what)}</h3><p>${escapeHtml(e.message)}</p>` + logBlock(e.body.log);
  }
}

async function save() {
  if (!doc || edits.size === 0 || invalid.size) return;
  const focused = document.activeElement;
  $("save").disabled = true;
  notice("Saving…", "busy");
  document.body.dataset.busy = "1";
  try {
    const r = await apiConfirm("/api/save", { file: doc.file, chip: doc.chip, edits: Object.fromEntries(edits) });
    showSaved(r);
    notice(`Saved ${r.saved}`, "ok");
    loadFiles();
  } catch (e) {
    showError(e, "Save failed");
  } finally {
    delete document.body.dataset.busy;
    showPending();
    // Disabling Save while it ran took the keyboard's focus away from it.
    if (document.activeElement === document.body && focused) focused.focus();
  }
}

function showSaved(r) {
  const changes = Object.entries(r.changes).map(([k, v]) =>
    `<tr><td>${escapeHtml(k)}</td><td>${escapeHtml(doc.params[k] ?? "")}</td><td>${escapeHtml(v)}</td></tr>`).join("");
  // The server removes a new file that does not read back so: a save shown here did.
  const from = doc.kind === "loader" ? "the new container" : "the new binary";
  const back = `<p class="ok" id="read-back">Every parameter reads back from ${from} as expected: ` +
    "the edited values as saved, every other as it was.</p>";
  const warnings = r.tool_output.split("\n").filter(l => l.startsWith("warning: "));
  const result = $("result");
  result.hidden = false;
  result.className = "";
  result.innerHTML = `<h3>Saved <span id="saved-name">${escapeHtml(r.saved)}</span></h3>` + back +
    (warnings.length ? `<ul class="warn">${warnings.map(w => `<li>${escapeHtml(w)}</li>`).join("")}</ul>` : "") +
    `<table id="changes"><thead><tr><th>Changed parameter</th><th>Old</th><th>New</th></tr></thead><tbody>${changes}</tbody></table>` +
    `<details><summary>Comparison text</summary><pre>${escapeHtml(r.change_text)}</pre></details>` +
    `<details><summary>The tool's messages</summary><pre>${escapeHtml(r.tool_output)}</pre></details>` + logBlock(r.log);
  document.body.dataset.saved = String(Number(document.body.dataset.saved || 0) + 1);
}

async function compare() {
  const other = $("compare-file").value;
  if (!doc || !other) return;
  notice(`Reading ${other}…`, "busy");
  try {
    const r = await api("/api/open", { file: other, chip: doc.chip });
    const mine = currentValues();
    const rows = catalogue.parameters.slice(1)
      .filter(p => reportValue(mine[p.key]) !== reportValue(r.params[p.key] ?? "0"))
      .map(p => `<tr><td>${escapeHtml(p.key)}</td><td>${escapeHtml(mine[p.key])}</td><td>${escapeHtml(r.params[p.key] ?? "")}</td></tr>`);
    const section = $("comparison");
    section.hidden = false;
    section.innerHTML = `<h3>${rows.length} parameters differ between ${escapeHtml(doc.file)} (edits included) and ${escapeHtml(other)}</h3>` +
      (rows.length ? `<table><thead><tr><th>Parameter</th><th>${escapeHtml(doc.file)}</th><th>${escapeHtml(other)}</th></tr></thead><tbody>${rows.join("")}</tbody></table>` : "");
    notice("");
  } catch (e) {
    showError(e, `${other} could not be read`);
  }
}

async function exportParams() {
  try {
    const r = await apiConfirm("/api/export", { file: $("export-name").value, values: currentValues() });
    notice(`Exported ${r.count} parameters to ${r.saved}`, "ok");
    loadFiles();
  } catch (e) {
    showError(e, "Export failed");
  }
}

async function importParams() {
  const name = $("import-file").value;
  if (!doc || !name) return;
  try {
    const r = await api("/api/import", { file: name });
    const refused = [...r.refused];
    let taken = 0;
    for (const v of r.values) {
      const param = byKey.get(v.key);
      const checked = check(param, v.value, doc.version, doc.chip);
      const reason = checked.reason || refusal(param, checked.value);
      if (reason) {
        refused.push({ line: v.line, text: `${v.key}=${v.value}`, reason });
        continue;
      }
      const input = inputFor(v.key);
      input.value = checked.value;
      validate(input);
      taken++;
    }
    showPending();
    refused.sort((a, b) => a.line - b.line);
    const section = $("comparison");
    section.hidden = false;
    section.innerHTML = `<h3>Imported ${escapeHtml(r.file)}: ${taken} values taken, ${refused.length} lines not used</h3>` +
      (refused.length ? `<table id="import-refused"><thead><tr><th>Line</th><th>Text</th><th>Why</th></tr></thead><tbody>` +
        refused.map(x => `<tr><td>${x.line}</td><td>${escapeHtml(x.text)}</td><td>${escapeHtml(x.reason)}</td></tr>`).join("") +
        "</tbody></table>" : "");
    notice("");
  } catch (e) {
    showError(e, `${name} could not be imported`);
  }
}

// -- start ---------------------------------------------------------------------------------

async function start() {
  const [info, cat] = await Promise.all([api("/api/info"), api("/api/catalogue")]);
  catalogue = cat;
  byKey = new Map(cat.parameters.map(p => [p.key, p]));
  buildParams();
  chips = info.chips;
  $("version").textContent = `version ${info.version}`;
  $("workspace").textContent = info.workspace;
  $("chip").replaceChildren(...chips.map(c => new Option(c.description_en ? `${c.chip} — ${c.dram_types}` : c.chip, c.chip)));

  $("file-list").addEventListener("click", e => {
    const button = e.target.closest("button[data-file]");
    if (button) openFile(button.dataset.file);
  });
  $("params").addEventListener("input", e => {
    if (e.target.name) {
      validate(e.target);
      showPending();
    }
  });
  $("pending-list").addEventListener("click", e => {
    if (e.target.dataset.undo) undo(e.target.dataset.undo);
  });
  $("revert-all").addEventListener("click", () => {
    for (const key of [...edits.keys(), ...invalid.keys()]) undo(key);
  });
  $("chip").addEventListener("change", () => doc && openFile(doc.file, $("chip").value));
  $("filter").addEventListener("input", applyFilter);
  $("save").addEventListener("click", save);
  // The keyboard: Enter in the filter goes to the first parameter shown, Enter in a parameter to
  // Save (when there is something to save), Ctrl+S saves.
  $("filter").addEventListener("keydown", e => {
    const first = $("params").querySelector("section:not([hidden]) tr:not([hidden]) input:not([readonly])");
    if (e.key === "Enter" && first) {
      e.preventDefault();  // the key would act again where the focus lands
      first.focus();
      first.select();
    }
  });
  $("params").addEventListener("keydown", e => {
    if (e.key === "Enter" && e.target.name && !$("save").disabled) {
      e.preventDefault();
      $("save").focus();
    }
  });
  $("export-name").addEventListener("keydown", e => e.key === "Enter" && exportParams());
  document.addEventListener("keydown", e => {
    if (!(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== "s") return;
    e.preventDefault();
    if (!$("save").disabled) save();
    else if (doc) notice($("save").title || "Nothing to save: no value was changed");
  });
  $("refresh").addEventListener("click", loadFiles);
  $("compare").addEventListener("click", compare);
  $("export").addEventListener("click", exportParams);
  $("import").addEventListener("click", importParams);

  await loadFiles();
  const wanted = new URLSearchParams(location.search).get("file");
  if (wanted) await openFile(wanted);
  document.body.dataset.ready = "1";
}

start().catch(e => notice(`The studio could not start: ${e.message}`, "error"));
