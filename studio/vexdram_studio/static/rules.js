// What a value may be, and how wide each parameter's field is in the binary at hand.
// The tool reads values with strtoul (base 0): a leading 0 is octal, conversion stops at the first
// character that does not fit. The page takes only decimal digits without a leading 0, 0x and
// hexadecimal digits, or a negative decimal as the report writes a 32-bit value (-1 is
// 0xffffffff), and a value must fit the field the catalogue gives for the binary's version. The
// server's rules.py follows the same rule; both are tested against tests/value_rules.json.

export const MAX_U32 = 0xFFFFFFFF;
const BLANKS = /^[ \t]+|[ \t]+$/g;  // the only blanks around a value that are ignored
const NOT_A_NUMBER = "not a whole number: decimal digits, or 0x and hexadecimal digits";
const NEGATIVE_RANGE = "a negative value is taken only from -2147483648 to -1, as the report writes 32-bit values";

export function stripBlanks(text) {
  return text.replace(BLANKS, "");
}

// The value of ASCII digits; null beyond 32 bits (found without converting a long text).
function digits(text, base) {
  const t = text.replace(/^0+/, "");
  if (t.length > (base === 16 ? 8 : 10)) return null;
  const value = t === "" ? 0 : parseInt(t, base);
  return value <= MAX_U32 ? value : null;
}

export function parseNumber(text) {
  const t = stripBlanks(text);
  let value;
  if (t === "") return { value: null, reason: "a value is needed" };
  if (/^0[xX][0-9a-fA-F]+$/.test(t)) {
    value = digits(t.slice(2), 16);
  } else if (/^[0-9]+$/.test(t)) {
    value = digits(t, 10);
    if (t.length > 1 && t[0] === "0" && value !== null)
      return { value: null, reason: `a leading 0 makes the tool read ${t} as octal: write ${value} or 0x${value.toString(16)}` };
  } else if (/^-[0-9]+$/.test(t)) {
    const magnitude = digits(t.slice(1), 10);
    if (t[1] === "0" || magnitude === null || magnitude > 2 ** 31) return { value: null, reason: NEGATIVE_RANGE };
    value = 2 ** 32 - magnitude;
  } else {
    return { value: null, reason: NOT_A_NUMBER };
  }
  if (value === null) return { value: null, reason: "larger than 32 bits" };
  return { value, reason: "" };
}

// A number typed for a field of width bits.
export function parseValue(text, width) {
  const number = parseNumber(text);
  if (number.value !== null && number.value > largest(width))
    return { value: null, reason: `does not fit its ${width}-bit field (largest ${largest(width)})` };
  return number;
}

// A value as the tool's report writes it: 0x hexadecimal or signed 32-bit decimal.
export function reportValue(text) {
  const t = text.trim();
  if (/^0[xX][0-9a-fA-F]+$/.test(t)) return parseInt(t.slice(2), 16) >>> 0;
  if (/^-?[0-9]+$/.test(t)) return Number(BigInt.asUintN(32, BigInt(t)));
  return null;
}

// The places that store the parameter in a binary of this version read for this chip; an unknown
// version takes them all.
export function placesFor(param, version, chip) {
  const c = chip.toLowerCase();
  return param.places.filter(p => (version === null || p.versions.includes(version)) &&
                                  (p.chip === undefined || p.chip === c));
}

// The field's width, or null where the binary does not store the parameter.
export function widthOf(param, version, chip) {
  const places = placesFor(param, version, chip);
  return places.length ? Math.max(...places.map(p => p.width)) : null;
}

export function largest(width) {
  return width >= 32 ? MAX_U32 : 2 ** width - 1;
}

export function format(param, value) {
  if (param.format === "hex") return "0x" + value.toString(16);
  return String(value > 0x7FFFFFFF ? value - 2 ** 32 : value);
}

// {value: the value as the report writes it, reason: ""} or {value: null, reason}.
export function check(param, text, version, chip) {
  if (param.n === 0) return { value: null, reason: "the start tag is fixed" };
  const number = parseValue(text, widthOf(param, version, chip) ?? 32);
  if (number.value === null) return number;
  return { value: format(param, number.value), reason: "" };
}

export function describePlace(p) {
  const bits = p.width === 1 ? `bit ${p.lo}` : `bits ${p.lo}-${p.lo + p.width - 1}`;
  const versions = p.versions.length > 1 ? `versions ${p.versions[0]}-${p.versions.at(-1)}` : `version ${p.versions[0]}`;
  const lane = p.lane === undefined ? "" : `, lane ${p.lane} (0 keeps the lane)`;
  return `${versions}${p.chip ? ", chip " + p.chip : ""}: ${p.section} word ${p.word}, ${bits}${lane}`;
}

// The chip a file's name gives: of names (in the tool's order), the longest that the last part of
// the path contains (after its last "/" or "\", or the drive of "C:name"), in either case; the
// first among equals; null when it contains none. vexdram follows the same rule; both are tested
// against tests/chip_name_rules.json.
export function chipOfName(name, names) {
  const last = name.replace(/^[\s\S]*[/\\]|^[A-Za-z]:/, "").toLowerCase();
  let best = null;
  for (const chip of names)
    if (last.includes(chip.toLowerCase()) && (best === null || chip.length > best.length)) best = chip;
  return best;
}
