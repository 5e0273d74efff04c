// The figures are written as printf writes them: a value exactly halfway goes to the even digit,
// where JavaScript's toFixed goes up.

import assert from "node:assert/strict";
import { test } from "node:test";
import { asciiEscaped, fixed, general, shown } from "../src/core/text";

test("numbers are written as printf writes them", () => {
  const cases: [string, string, string][] = [
    ["halfway, down to the even digit", fixed(99.25, 1), "99.2"],
    ["halfway, up to the even digit", fixed(0.375, 2), "0.38"],
    ["halfway and negative", fixed(-2.5, 0), "-2"],
    ["below halfway in binary", fixed(1.005, 2), "1.00"],
    ["not a number", fixed(NaN, 1), "nan"],
    ["%g of a whole number of lines", general(200), "200"],
    ["%g of a part line", general(19990 / 5000), "3.998"],
    ["%g of a large count", general(1234567), "1.23457e+06"],
    ["a field with a tab and a quote, quoted", shown("1\t'x"), "\"1\\t'x\""],
    ["a file name outside ASCII in the PLY header", asciiEscaped("räum €.txt"), "r\\xe4um \\u20ac.txt"],
  ];
  for (const [legend, actual, expected] of cases) assert.equal(actual, expected, legend);
});
