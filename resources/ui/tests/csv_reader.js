'use strict';
// The reader the report tests parse the saved CSV with; shared by the unit
// and the page tests so both hold the report to the same rules.

const assert = require('node:assert/strict');

// Strict RFC 4180: every row ends in CRLF, quotes only around a whole field.
function parseCsv(text) {
  const rows = [];
  let row = [];
  let i = 0;
  while (i < text.length) {
    let value = '';
    if (text[i] === '"') {
      i += 1;
      for (;;) {
        const quote = text.indexOf('"', i);
        assert.ok(quote >= 0, 'unterminated quoted field');
        value += text.slice(i, quote);
        i = quote + 1;
        if (text[i] !== '"') break;
        value += '"';
        i += 1;
      }
    } else {
      const end = text.slice(i).search(/[,\r]/);
      value = end < 0 ? text.slice(i) : text.slice(i, i + end);
      assert.ok(!/["\n]/.test(value), 'a bare field holds a quote or line feed: ' + JSON.stringify(value));
      i += value.length;
    }
    row.push(value);
    if (text[i] === ',') { i += 1; continue; }
    assert.equal(text.slice(i, i + 2), '\r\n', 'a row ends in CRLF');
    i += 2;
    rows.push(row);
    row = [];
  }
  return rows;
}

module.exports = { parseCsv };
