// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a TF.js graph model with the pure-JavaScript @tensorflow/tfjs (CPU, no native code): the
// reference the ONNX conversion is checked against, and the face measurements' runtime.
//
//   node tfjs_graph.mjs TFJS_CACHE MODEL_JSON INPUT_F32 SIDE OUTPUT_DIR [--unfold-prelu]
//                       [--output NAME=A,B ...]
//
// INPUT_F32 holds float32 pixels [N, SIDE, SIDE, 3]; each named output is written to
// OUTPUT_DIR/NAME.f32, the TF.js outputs A, B, ... joined along axis 1 (as the converter does).
import { createRequire } from "node:module";
import fs from "node:fs";
import path from "node:path";

// The graph and its weights as tfjs loads them; unfoldPrelu drops the ReLU folded into a
// convolution that also feeds the PReLU's |x| (as the converter's --unfold-prelu does).
export function loadGraph(tf, modelJson, unfoldPrelu) {
  const model = JSON.parse(fs.readFileSync(modelJson, "utf8"));
  if (unfoldPrelu) {
    const feedsAbs = new Set();
    for (const node of model.modelTopology.node)
      if (node.op === "Abs") feedsAbs.add(node.input[0].split(":")[0]);
    const biasOnly = Buffer.from("BiasAdd").toString("base64");
    for (const node of model.modelTopology.node) {
      const fused = node.attr?.fused_ops?.list?.s;
      if (feedsAbs.has(node.name) && fused?.length === 2) node.attr.fused_ops.list.s = [biasOnly];
    }
  }
  const folder = path.dirname(modelJson);
  const entries = [], buffers = [];
  for (const group of model.weightsManifest) {
    entries.push(...group.weights);
    for (const file of group.paths) buffers.push(fs.readFileSync(path.join(folder, file)));
  }
  const bytes = Buffer.concat(buffers);
  const weightData = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length);
  return tf.loadGraphModel(
    tf.io.fromMemory({ modelTopology: model.modelTopology, weightSpecs: entries, weightData,
                       format: model.format, userDefinedMetadata: model.userDefinedMetadata }));
}

export function loadTf(cache) {
  const require = createRequire(path.join(cache, "node_modules") + "/");
  const tf = require("@tensorflow/tfjs");
  return tf.setBackend("cpu").then(() => tf);
}

// The named outputs of a batch: {NAME: Float32Array}, parts joined along axis 1. Items run one
// at a time: some graphs are fixed to a batch of one.
export function run(tf, graph, pixels, outputs) {
  const names = outputs.flatMap(([, parts]) => parts);
  const items = tf.split(pixels, pixels.shape[0]).map(item => {
    const results = [graph.execute(item, names)].flat();
    return Object.fromEntries(names.map((n, i) => [n, results[i]]));
  });
  const joined = {};
  for (const [name, parts] of outputs) {
    const perItem = items.map(byName => tf.concat(parts.map(p => byName[p]), 1));
    joined[name] = tf.concat(perItem, 0).dataSync();
  }
  return joined;
}

async function main(argv) {
  const [cache, modelJson, inputFile, sideText, outputDir] = argv;
  const side = Number(sideText);
  const outputs = [];
  for (let i = 5; i < argv.length; ++i)
    if (argv[i] === "--output") {
      const [name, parts] = argv[++i].split("=");
      outputs.push([name, parts.split(",")]);
    }
  const tf = await loadTf(cache);
  const graph = await loadGraph(tf, modelJson, argv.includes("--unfold-prelu"));
  const bytes = fs.readFileSync(inputFile);
  const values = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
  const count = values.length / (side * side * 3);
  const results = run(tf, graph, tf.tensor4d(values, [count, side, side, 3]), outputs);
  for (const [name, data] of Object.entries(results))
    fs.writeFileSync(path.join(outputDir, name + ".f32"), Buffer.from(data.buffer));
}

if (import.meta.url === `file://${process.argv[1]}`) {
  main(process.argv.slice(2)).catch(error => {
    console.error("tfjs_graph: " + error.message);
    process.exit(1);
  });
}
