// SPDX-License-Identifier: GPL-3.0-or-later
// Runs @vladmandic/face-api's own face recogniser (its FaceRecognitionNet, the dlib ResNet) on
// the pure-JavaScript @tensorflow/tfjs with the CPU backend: the reference the ONNX rebuild of
// tools/convert_faceapi_resnet.py is checked against.
//
//   node faceapi_resnet.mjs TFJS_CACHE MANIFEST_JSON INPUT_F32 OUTPUT_F32
//
// TFJS_CACHE holds node_modules/@tensorflow/tfjs and node_modules/@vladmandic/face-api;
// INPUT_F32 holds float32 pixels [N, 150, 150, 3], RGB 0..255; OUTPUT_F32 gets [N, 128].
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";

import { loadTf } from "./tfjs_graph.mjs";

const SIDE = 150;

// face-api's ES module build without its bundled TF.js imports the tfjs packages by name; this
// hands it the cache's tfjs and no WebGL or WebAssembly backend (the CPU one is used).
export async function loadFaceApi(cache, tf) {
  const file = path.join(cache, "node_modules/@vladmandic/face-api/dist/face-api.esm-nobundle.js");
  let source = fs.readFileSync(file, "utf8");
  let imports = "";
  source = source.replace(/import\*as (\w+) from"@tensorflow\/([\w-]+)\/dist\/index\.js";/g,
                          (_, name, pkg) => {
                            imports += pkg === "tfjs" ? `const ${name}=globalThis.__tf;`
                                                      : `const ${name}={};`;
                            return "";
                          });
  // Imports bind before the module's code runs: the stand-ins go first.
  source = imports + source;
  globalThis.__tf = tf;
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "faceapi-"));
  const module = path.join(folder, "face-api.mjs");
  fs.writeFileSync(module, source);
  try {
    return await import(pathToFileURL(module).href);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

export function loadWeights(tf, manifestJson) {
  const manifest = JSON.parse(fs.readFileSync(manifestJson, "utf8"));
  const folder = path.dirname(manifestJson);
  const specs = [], buffers = [];
  for (const group of manifest) {
    specs.push(...group.weights);
    for (const file of group.paths) buffers.push(fs.readFileSync(path.join(folder, file)));
  }
  const bytes = Buffer.concat(buffers);
  return tf.io.decodeWeights(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length),
                             specs);
}

async function main([cache, manifestJson, inputFile, outputFile]) {
  const tf = await loadTf(cache);
  const faceapi = await loadFaceApi(cache, tf);
  const net = new faceapi.FaceRecognitionNet();
  net.loadFromWeightMap(loadWeights(tf, manifestJson));
  const bytes = fs.readFileSync(inputFile);
  const values = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
  const count = values.length / (SIDE * SIDE * 3);
  // face-api takes a batch as a list of pictures.
  const output = await net.forward(tf.unstack(tf.tensor4d(values, [count, SIDE, SIDE, 3])));
  fs.writeFileSync(outputFile, Buffer.from(output.dataSync().buffer));
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  main(process.argv.slice(2)).catch(error => {
    console.error("faceapi_resnet: " + error.message);
    process.exit(1);
  });
}
