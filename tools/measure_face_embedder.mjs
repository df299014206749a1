// SPDX-License-Identifier: GPL-3.0-or-later
// Measures how well the face embedder tells people apart on real group photos, for the
// embedder's two readings (its PReLUs as the published graph folds them, and unfolded), so the
// shipped one and its same-face threshold rest on figures rather than taste; and dlib's ResNet
// recogniser (face-api's, when FACE_MODELS_DIR holds its weights) aligned to its own template.
//
//   node measure_face_embedder.mjs TFJS_CACHE FACE_MODELS_DIR PHOTOS_DIR [--recogniser-only]
//
// Faces are found by BlazeFace (the photo letterboxed to 256, and in overlapping tiles), aligned
// by a similarity transform from four keypoints to the embedder's 112 x 112 template, embedded.
// Same person: a face against itself in the photo resized, re-encoded at JPEG quality 20,
// mirrored, darker and cropped differently (each found again by the detector). Different
// people: every two faces of one group photo.
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

import { loadFaceApi, loadWeights } from "./faceapi_resnet.mjs";
import { loadGraph, loadTf } from "./tfjs_graph.mjs";

const [cache, modelsDir, photosDir] = process.argv.slice(2);
const face = JSON.parse(fs.readFileSync(new URL("../kit/faces/face-model.json", import.meta.url)));
const DETECTOR_SIDE = 256, SCORE = 0.6, IOU = 0.3, MIN_EYES = 0.012;
const MOBILE = { template: face.embedder.alignment, side: face.embedder.side };
// dlib's 150 x 150 chip with padding 0.25: its mean face's eye centres, nose tip and mouth
// corners' midpoint (of get_face_chip_details), each at (0.25 + m) / 1.5 * 150.
const DLIB = { template: [[47.549, 46.599], [100.476, 46.599], [74.013, 76.563], [74.013, 103.023]],
               side: 150 };
const work = fs.mkdtempSync(path.join(os.tmpdir(), "faces-"));
const tf = await loadTf(cache);

// A JPEG as an int32-free float tensor [H, W, 3] of 0..255, through libvips' command line.
function decode(file) {
  const raw = path.join(work, "photo.raw");
  execFileSync("vips", ["rawsave", file, raw]);
  const size = k => Number(execFileSync("vipsheader", ["-f", k, file]).toString());
  const bytes = fs.readFileSync(raw);
  return tf.tensor3d(new Uint8Array(bytes), [size("height"), size("width"), 3], "int32").toFloat();
}

function reencoded(file, quality) {
  const out = path.join(work, "low.jpg");
  execFileSync("vips", ["jpegsave", file, out, "--Q", String(quality)]);
  return decode(out);
}

function anchors() {
  const list = [];
  for (const [cells, perCell] of [[16, 2], [8, 6]])
    for (let y = 0; y < cells; ++y)
      for (let x = 0; x < cells; ++x)
        for (let k = 0; k < perCell; ++k) list.push([(x + 0.5) / cells, (y + 0.5) / cells]);
  return list;
}
const ANCHORS = anchors();

// Faces in a square window of the photo: [{box: [x0, y0, x1, y1], points: [[x, y] x 6], score}]
// in photo pixels.
function detectWindow(detector, photo, left, top, side) {
  const [h, w] = photo.shape;
  const window = tf.tidy(() => {
    const part = photo.slice([top, left], [Math.min(side, h - top), Math.min(side, w - left)]);
    const padded = part.pad([[0, side - part.shape[0]], [0, side - part.shape[1]], [0, 0]]);
    return tf.image.resizeBilinear(padded, [DETECTOR_SIDE, DETECTOR_SIDE], false, true)
      .div(127.5).sub(1).expandDims(0);
  });
  const [b16, b32, s16, s32] = detector.execute(window, ["Identity_2", "Identity_3", "Identity", "Identity_1"]);
  const boxes = tf.concat([b16, b32], 1).dataSync(), scores = tf.concat([s16, s32], 1).dataSync();
  const faces = [];
  const scale = side;
  for (let i = 0; i < ANCHORS.length; ++i) {
    const score = 1 / (1 + Math.exp(-Math.max(-100, Math.min(100, scores[i]))));
    if (score < SCORE) continue;
    const r = boxes.subarray(i * 16, i * 16 + 16), [ax, ay] = ANCHORS[i];
    const cx = (r[0] / 256 + ax) * scale + left, cy = (r[1] / 256 + ay) * scale + top;
    const bw = (r[2] / 256) * scale, bh = (r[3] / 256) * scale;
    const points = [];
    for (let k = 0; k < 6; ++k)
      points.push([(r[4 + 2 * k] / 256 + ax) * scale + left, (r[5 + 2 * k] / 256 + ay) * scale + top]);
    faces.push({ box: [cx - bw / 2, cy - bh / 2, cx + bw / 2, cy + bh / 2], points, score });
  }
  return faces;
}

function iou(a, b) {
  const w = Math.max(0, Math.min(a[2], b[2]) - Math.max(a[0], b[0]));
  const h = Math.max(0, Math.min(a[3], b[3]) - Math.max(a[1], b[1]));
  const area = r => (r[2] - r[0]) * (r[3] - r[1]);
  return (w * h) / (area(a) + area(b) - w * h);
}

// The whole photo letterboxed, then tiles of half its longer side overlapping by a quarter;
// overlapping finds keep the most confident.
function detect(detector, photo) {
  const [h, w] = photo.shape;
  const long = Math.max(w, h), tile = Math.ceil(long / 2);
  let faces = detectWindow(detector, photo, 0, 0, long);
  const step = Math.ceil(tile * 0.75);
  for (let top = 0; top < h; top += step)
    for (let left = 0; left < w; left += step) faces.push(...detectWindow(detector, photo, left, top, tile));
  faces.sort((a, b) => b.score - a.score);
  const kept = [];
  for (const f of faces) if (kept.every(k => iou(k.box, f.box) < IOU)) kept.push(f);
  return kept.filter(f => (f.box[2] - f.box[0]) > MIN_EYES * long);
}

// Least-squares similarity taking the template's points onto the face's: x' = a x - b y + c.
function similarity(points, template) {
  let n = 0, sx = 0, sy = 0, su = 0, sv = 0, sxx = 0, sxu = 0, syv = 0, sxv = 0, syu = 0;
  for (let k = 0; k < template.length; ++k) {
    const [x, y] = template[k], [u, v] = points[k];
    n++; sx += x; sy += y; su += u; sv += v;
    sxx += x * x + y * y; sxu += x * u + y * v; sxv += x * v - y * u;
  }
  const mx = sx / n, my = sy / n, mu = su / n, mv = sv / n;
  const varT = sxx / n - mx * mx - my * my;
  const a = (sxu / n - (mx * mu + my * mv)) / varT;
  const b = (sxv / n - (mx * mv - my * mu)) / varT;
  return [a, -b, mu - (a * mx - b * my), b, a, mv - (b * mx + a * my), 0, 0];
}

// Bilinear samples of the photo at the template's pixels taken onto the face, as [N, 112, 112, 3]
// of 0..255; outside the photo is black.
function aligned(photo, faces, { template, side } = MOBILE) {
  const [h, w] = photo.shape, data = photo.dataSync();
  const out = new Float32Array(faces.length * side * side * 3);
  const at = (x, y, c) => (x < 0 || y < 0 || x >= w || y >= h ? 0 : data[(y * w + x) * 3 + c]);
  faces.forEach((f, n) => {
    const [a0, a1, a2, b0, b1, b2] = similarity(f.points, template);
    for (let y = 0; y < side; ++y)
      for (let x = 0; x < side; ++x) {
        const u = a0 * (x + 0.5) + a1 * (y + 0.5) + a2 - 0.5, v = b0 * (x + 0.5) + b1 * (y + 0.5) + b2 - 0.5;
        const u0 = Math.floor(u), v0 = Math.floor(v), fu = u - u0, fv = v - v0;
        for (let c = 0; c < 3; ++c) {
          const p = (1 - fv) * ((1 - fu) * at(u0, v0, c) + fu * at(u0 + 1, v0, c)) +
                    fv * ((1 - fu) * at(u0, v0 + 1, c) + fu * at(u0 + 1, v0 + 1, c));
          out[((n * side + y) * side + x) * 3 + c] = p;
        }
      }
  });
  return tf.tensor4d(out, [faces.length, side, side, 3]);
}

// Each reading of the embedder with each input range it might have been trained with.
const RANGES = { "-1..1": face.embedder.inputRange, "0..1": [0, 1], "0..255": [0, 255] };
const unitRows = rows => rows.map(v => { const n = Math.hypot(...v); return v.map(x => x / n); });
function embed(embedder, crops) {
  if (embedder.resnet) return unitRows(embedder.resnet.forwardInput(
    { toBatchTensor: () => crops }).arraySync());
  const [low, high] = RANGES[embedder.range];
  return embedder.graph.execute(crops.mul((high - low) / 255).add(low), "embeddings").arraySync();
}

const cosine = (a, b) => a.reduce((s, v, i) => s + v * b[i], 0);
const detector = await loadGraph(tf, path.join(modelsDir, "blazeface-back.json"), false);
const graphs = {
  folded: await loadGraph(tf, path.join(modelsDir, "mobilefacenet.json"), false),
  unfolded: await loadGraph(tf, path.join(modelsDir, "mobilefacenet.json"), true),
};
const embedders = {};
// MobileFaceNet's six readings take most of the time; they are measured in face-model.json.
if (!process.argv.includes("--recogniser-only"))
  for (const [reading, graph] of Object.entries(graphs))
    for (const range of Object.keys(RANGES)) embedders[`${reading} ${range}`] = { graph, range };
const recogniser = path.join(modelsDir, "face_recognition_model-weights_manifest.json");
if (fs.existsSync(recogniser)) {
  const resnet = new (await loadFaceApi(cache, tf)).FaceRecognitionNet();
  resnet.loadFromWeightMap(loadWeights(tf, recogniser));
  embedders["dlib resnet"] = { resnet, alignment: DLIB };
}
const crop = (picture, faces, k) => aligned(picture, faces, embedders[k].alignment ?? MOBILE);

// Each change of a photo: the changed picture and how a point of it maps back to the original.
function changes(file, photo) {
  const [h, w] = photo.shape;
  const cut = [Math.round(h * 0.12), Math.round(w * 0.1)];
  return {
    resized: [tf.image.resizeBilinear(photo, [Math.round(h / 2), Math.round(w / 2)], false, true),
              ([x, y]) => [x * 2, y * 2]],
    jpeg20: [reencoded(file, 20), p => p],
    mirrored: [photo.reverse(1), ([x, y]) => [w - x, y]],
    darker: [photo.mul(0.45), p => p],
    cropped: [photo.slice([cut[0], cut[1]], [h - cut[0] - Math.round(h * 0.05), w - cut[1]]),
              ([x, y]) => [x + cut[1], y + cut[0]]],
  };
}

const figures = Object.fromEntries(Object.keys(embedders).map(k => [k, { same: [], different: [] }]));
// Pairs as vectors, to measure again with the mean face taken away.
const pairs = Object.fromEntries(Object.keys(embedders).map(k => [k, { same: [], different: [] }]));
const allVectors = Object.fromEntries(Object.keys(embedders).map(k => [k, []]));
let faceCount = 0;
for (const name of fs.readdirSync(photosDir).filter(f => f.endsWith(".jpg")).sort()) {
  const file = path.join(photosDir, name);
  const photo = decode(file);
  const faces = detect(detector, photo);
  faceCount += faces.length;
  const vectors = Object.fromEntries(Object.entries(embedders).map(([k, e]) => [k, embed(e, crop(photo, faces, k))]));
  for (const k of Object.keys(embedders)) {
    allVectors[k].push(...vectors[k]);
    for (let i = 0; i < faces.length; ++i)
      for (let j = i + 1; j < faces.length; ++j) pairs[k].different.push([vectors[k][i], vectors[k][j]]);
  }
  let matched = 0, wanted = 0;
  for (const [change, [picture, back]] of Object.entries(changes(file, photo))) {
    const found = detect(detector, picture).map(f => {
      const pts = f.points.map(back), b0 = back([f.box[0], f.box[1]]), b1 = back([f.box[2], f.box[3]]);
      return { ...f, mapped: [Math.min(b0[0], b1[0]), b0[1], Math.max(b0[0], b1[0]), b1[1]], pts };
    });
    const changed = Object.fromEntries(Object.entries(embedders).map(([k, e]) => [k, embed(e, crop(picture, found, k))]));
    for (let i = 0; i < faces.length; ++i) {
      wanted++;
      let best = -1, bestIou = 0.5;
      found.forEach((f, j) => { const o = iou(faces[i].box, f.mapped); if (o > bestIou) { bestIou = o; best = j; } });
      if (best < 0) continue;
      matched++;
      for (const k of Object.keys(embedders)) pairs[k].same.push([vectors[k][i], changed[k][best]]);
    }
  }
  console.log(`${name}: ${faces.length} faces (scores ${faces.map(f => f.score.toFixed(2)).join(" ")}), ` +
              `found again under the changes ${matched} of ${wanted}`);
}

const mean = v => v.reduce((s, x) => s + x, 0) / v.length;
const unit = v => { const n = Math.hypot(...v); return v.map(x => x / n); };
console.log(`${faceCount} faces`);
// Raw, and with the mean of the photos' faces taken away (a vector the shipped graph could hold).
for (const k of Object.keys(embedders)) {
  const centre = allVectors[k][0].map((_, d) => mean(allVectors[k].map(v => v[d])));
  const centred = ([a, b]) => cosine(unit(a.map((x, d) => x - centre[d])), unit(b.map((x, d) => x - centre[d])));
  for (const [how, measure] of [["", ([a, b]) => cosine(a, b)], [" centred", centred]]) {
    figures[k + how] = { same: pairs[k].same.map(measure), different: pairs[k].different.map(measure) };
  }
}
for (const [k, { same, different }] of Object.entries(figures)) {
  if (!same.length) continue;
  const minSame = Math.min(...same), maxDiff = Math.max(...different);
  // The threshold halfway across the gap, or where the fewest pairs fall on the wrong side.
  let best = [Infinity, 0];
  for (let t = -0.2; t <= 1; t += 0.005) {
    const wrong = same.filter(c => c < t).length + different.filter(c => c >= t).length;
    if (wrong < best[0]) best = [wrong, t];
  }
  console.log(`${k}: same person mean ${mean(same).toFixed(3)} min ${minSame.toFixed(3)} (${same.length} pairs); ` +
              `different people mean ${mean(different).toFixed(3)} max ${maxDiff.toFixed(3)} ` +
              `(${different.length} pairs); gap ${(minSame - maxDiff).toFixed(3)}; ` +
              (minSame > maxDiff ? `threshold ${((minSame + maxDiff) / 2).toFixed(3)}`
                                 : `fewest wrong ${best[0]} at ${best[1].toFixed(3)}`));
}
fs.rmSync(work, { recursive: true, force: true });
