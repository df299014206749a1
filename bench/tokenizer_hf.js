// SPDX-License-Identifier: GPL-3.0-or-later
// The anchor of bench/tokenizer.sh: Hugging Face `tokenizers` loading tokenizer.json and
// encoding the same queries (no special tokens, as the engine's tokens() gives them): a .txt
// file's lines lower-cased first, a .jsonl file's JSON strings as they stand.
//   node tokenizer_hf.js TOKENIZER.JSON QUERIES.TXT|QUERIES.JSONL ROUNDS
const fs = require("fs");
const { Tokenizer } = require(process.env.HF_TOKENIZERS || "tokenizers");

async function main() {
  const [file, queriesFile, roundsText] = process.argv.slice(2);
  const jsonLines = queriesFile.endsWith(".jsonl");
  const lines = fs.readFileSync(queriesFile, "utf8").split("\n");
  if (lines[lines.length - 1] === "") lines.pop();
  const queries = jsonLines ? lines.map((line) => JSON.parse(line)) : lines;
  const prepared = (query) => (jsonLines ? query : query.toLowerCase());
  const rounds = Number(roundsText || 7);
  const loads = [];
  let tokenizer;
  for (let round = 0; round < rounds; ++round) {
    const start = process.hrtime.bigint();
    tokenizer = Tokenizer.fromFile(file);
    await tokenizer.encode(prepared(queries[0]), null, { addSpecialTokens: false });
    loads.push(Number(process.hrtime.bigint() - start) / 1e6);
  }
  loads.sort((a, b) => a - b);
  const out = [];
  const start = process.hrtime.bigint();
  for (const query of queries) {
    const encoding = await tokenizer.encode(prepared(query), null, { addSpecialTokens: false });
    out.push(encoding.getIds().join(" ") + (encoding.getIds().length ? " " : ""));
  }
  const encodeMS = Number(process.hrtime.bigint() - start) / 1e6;
  fs.writeFileSync(queriesFile + ".hf.ids", out.join("\n") + "\n");
  console.log(`hf: load+first encode ${loads[Math.floor(rounds / 2)].toFixed(1)} ms (median of ${rounds}), ${queries.length} queries ${encodeMS.toFixed(1)} ms`);
}
main();
