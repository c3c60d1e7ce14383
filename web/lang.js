"use strict";
// The token files of the program (.lng language files, .dsc patch descriptions) read as the
// desktop program reads them: decoded by their byte order mark, UTF-8 or the Windows code
// page, lines joined with CR LF, then split into tokens at spaces and the separator, a quoted
// token running to its closing quote ("" stands for one quote).

const QvtTokens = (() => {
  function decode(bytes, russian) {
    const b = new Uint8Array(bytes);
    if (b[0] === 0xFF && b[1] === 0xFE) return new TextDecoder("utf-16le").decode(b.subarray(2));
    if (b[0] === 0xFE && b[1] === 0xFF) return new TextDecoder("utf-16be").decode(b.subarray(2));
    if (b[0] === 0xEF && b[1] === 0xBB && b[2] === 0xBF)
      return new TextDecoder("utf-8").decode(b.subarray(3));
    try {
      return new TextDecoder("utf-8", { fatal: true }).decode(b);
    } catch (e) {
      return new TextDecoder(russian ? "windows-1251" : "windows-1252").decode(b);
    }
  }

  function normaliseLineEnds(text) {
    const nul = text.indexOf("\0");
    const body = nul >= 0 ? text.slice(0, nul) : text;
    const lines = body.split(/\r\n|\r|\n|\u2028/);
    if (lines[lines.length - 1] === "") lines.pop();
    return lines.map((line) => line + "\r\n").join("");
  }

  const isSpace = (c) => c >= 1 && c <= 32;

  function tokenize(text, separator) {
    const tokens = [];
    const nul = text.indexOf("\0");
    const n = nul >= 0 ? nul : text.length;
    const sep = separator.charCodeAt(0);
    let p = 0;
    while (p < n && isSpace(text.charCodeAt(p))) ++p;
    while (p < n) {
      let token = "";
      if (text[p] === '"') {
        ++p;
        let closed = false;
        while (p < n) {
          if (text[p] === '"') {
            if (p + 1 < n && text[p + 1] === '"') {
              token += '"';
              p += 2;
              continue;
            }
            ++p;
            closed = true;
            break;
          }
          token += text[p++];
        }
        if (!closed) token = token.slice(0, -1); // an unclosed quote loses the final character
      } else {
        const start = p;
        while (p < n && !isSpace(text.charCodeAt(p)) && text.charCodeAt(p) !== sep) ++p;
        token = text.slice(start, p);
      }
      tokens.push(token);
      while (p < n && isSpace(text.charCodeAt(p))) ++p;
      if (p < n && text.charCodeAt(p) === sep) {
        if (p + 1 >= n) tokens.push("");
        ++p;
        while (p < n && isSpace(text.charCodeAt(p))) ++p;
      }
    }
    return tokens;
  }

  function read(bytes, separator, russian) {
    return tokenize(normaliseLineEnds(decode(bytes, russian)), separator);
  }

  // The value after the first token equal to the key, letter case ignored.
  function valueOf(tokens, key) {
    const wanted = key.toLowerCase();
    for (let i = 0; i < tokens.length; ++i)
      if (tokens[i].toLowerCase() === wanted) return i + 1 < tokens.length ? tokens[i + 1] : "";
    return null;
  }

  // A language table: Lookup as the program's, with the first token for an unknown key.
  function table(tokens) {
    return {
      lookup(key) {
        const value = valueOf(tokens, key);
        return value !== null ? value : tokens.length ? tokens[0] : "";
      },
      has(key) {
        return valueOf(tokens, key) !== null;
      },
    };
  }

  return { decode, tokenize, read, valueOf, table };
})();
