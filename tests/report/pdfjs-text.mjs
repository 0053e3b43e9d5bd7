// Prints the text of a PDF file's pages as pdf.js gives it to its viewer:
// the text-content items of each page joined in their order, a line break
// after every item that ends a line (hasEOL), as the viewer's find bar and
// text layer join them. pdf.js itself neither reorders nor spaces the items
// by their positions, so neither does this.
//
//   node pdfjs-text.mjs FILE [FIRST [LAST]]
//
// pdf.js is Debian's (libjs-pdf); PDFJS names another build to run instead.
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const debian = "/usr/share/javascript/pdf";
const library = process.env.PDFJS || `${debian}/build/pdf.js`;
const pdfjs = await import(pathToFileURL(library).href);
const lib = pdfjs.getDocument ? pdfjs : pdfjs.default;

const [file, first, last] = process.argv.slice(2);
if (!file) {
  console.error("usage: node pdfjs-text.mjs FILE [FIRST [LAST]]");
  process.exit(2);
}
const doc = await lib.getDocument({
  data: new Uint8Array(readFileSync(file)),
  standardFontDataUrl: `${debian}/web/standard_fonts/`,
  verbosity: 0,
}).promise;
const from = Number(first || 1);
const to = Number(last || first || doc.numPages);
const pages = [];
for (let p = from; p <= to; ++p) {
  const page = await doc.getPage(p);
  const content = await page.getTextContent();
  pages.push(content.items.map((item) => item.str + (item.hasEOL ? "\n" : "")).join(""));
}
process.stdout.write(pages.join("\f") + "\n");
await doc.destroy();
