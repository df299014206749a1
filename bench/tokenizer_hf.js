// SPDX-License-Identifier: GPL-3.0-or-later
// The anchor of bench/tokenizer.sh: Hugging Face `tokenizers` loading tokenizer.json and
// encoding the same queries (lower-cased first, no special tokens, as the engine does).
//   node tokenizer_hf.js TOKENIZER.JSON QUERIES.TXT ROUNDS
const fs = require("fs");
const { Tokenizer } = require(process.env.HF_TOKENIZERS || "tokenizers");

async function main() {
  const [file, queriesFile, roundsText] = process.argv.slice(2);
  const queries = fs.readFileSync(queriesFile, "utf8").split("\n");
  if (queries[queries.length - 1] === "") queries.pop();
  const rounds = Number(roundsText || 7);
  const loads = [];
  let tokenizer;
  for (let round = 0; round < rounds; ++round) {
    const start = process.hrtime.bigint();
    tokenizer = Tokenizer.fromFile(file);
    await tokenizer.encode(queries[0].toLowerCase(), null, { addSpecialTokens: false });
    loads.push(Number(process.hrtime.bigint() - start) / 1e6);
  }
  loads.sort((a, b) => a - b);
  const lines = [];
  const start = process.hrtime.bigint();
  for (const query of queries) {
    const encoding = await tokenizer.encode(query.toLowerCase(), null, { addSpecialTokens: false });
    lines.push(encoding.getIds().join(" ") + (encoding.getIds().length ? " " : ""));
  }
  const encodeMS = Number(process.hrtime.bigint() - start) / 1e6;
  fs.writeFileSync(queriesFile + ".hf.ids", lines.join("\n") + "\n");
  console.log(`hf: load+first encode ${loads[Math.floor(rounds / 2)].toFixed(1)} ms (median of ${rounds}), ${queries.length} queries ${encodeMS.toFixed(1)} ms`);
}
main();
