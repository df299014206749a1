#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes tiny random-weight stand-ins of the two published folder layouts of SigLIP 2 ONNX
exports under OUTPUT_DIRECTORY, with the exporters' file names, input and output names,
dtypes and dimension conventions:

  immich/ViT-B-16-SigLIP2__webli   visual/model.onnx ("image" float32 [1, 3, S, S] ->
                                   "embedding"), visual/preprocess_cfg.json, textual/model.onnx
                                   ("text" int32 [1, L] -> "embedding"), textual/tokenizer.json,
                                   textual/tokenizer_config.json, config.json (OpenCLIP's)
  optimum/siglip2-base-patch16     onnx/vision_model.onnx ("pixel_values" float32
                                   [batch_size, 3, height, width] -> "last_hidden_state",
                                   "pooler_output"), onnx/text_model.onnx ("input_ids" int64
                                   [batch_size, sequence_length] -> the same two), quantised and
                                   fp16 files beside them, config.json, preprocessor_config.json,
                                   tokenizer.json, tokenizer_config.json
  immich/ViT-B-32__openai          Immich's layout for OpenAI CLIP: a byte-level tokenizer
                                   with "</w>" (make_clip_tokenizer.py), CLIP's mean and
                                   standard deviation, shortest-side resize
  optimum/clip-vit-base-patch32    the same in the Optimum layout, "image_embeds" and
                                   "text_embeds" of the projection width

Pixels are resized and normalised outside the graphs. Image: mean over the pixels of the
normalised values @ W; text: sum of table[id % ROWS]; W and table as in make_test_models.py.
With --vit, only the Immich layout, its image graph of ViT-B/16's compute (for benchmarks);
with --siglip2-b16, that and a text graph with SigLIP 2's 256,000-row table of 768 (786 MB);
with --siglip2-b16-fp16, the same in float16 throughout, as the fp16 exports publish it.
  make_published_models.py [--vit | --siglip2-b16[-fp16]] OUTPUT_DIRECTORY [TOKENIZER_JSON]
"""

import json
import os
import sys

import numpy as np
from onnx import TensorProto

import make_clip_tokenizer
import make_test_models
import make_vit_model
import onnx_graphs
import tokenizer_file

IMAGE_SIZE = 32
CONTEXT_LENGTH = 16
DIM = make_test_models.DIM
ROWS = 97
MEAN = [0.5, 0.5, 0.5]
STD = [0.5, 0.5, 0.5]
WORDS = ["dog", "beach", "red", "car", "night", "running", "on", "the", "cat", "sunset"]


def table(dim=DIM):
    return np.array([[((k * 5 + j * 3) % 11) - 5 for j in range(dim)] for k in range(ROWS)],
                    dtype=np.float32)


def int8_levels(w):
    """The weights as a per-column int8 quantisation leaves them, the way the published
    `_quantized` variants store theirs."""
    scales = np.abs(w).max(axis=0, keepdims=True) / 127
    scales[scales == 0] = 1
    return (np.round(w / scales) * scales).astype(np.float32)


def image_graph(path, input_name, batch, outputs, quantized=False, float16=None):
    g = onnx_graphs.Graph("published_image_encoder")
    pixels = g.input(input_name, TensorProto.FLOAT,
                     [batch, 3, IMAGE_SIZE, IMAGE_SIZE] if batch == 1
                     else [batch, 3, "height", "width"])
    mean = g.op("ReduceMean", [pixels], axes=[2, 3], keepdims=0)  # [N, 3]
    w = make_test_models.weights()
    pooled = g.op("MatMul", [mean, g.const(int8_levels(w) if quantized else w)])
    finish(g, pooled, batch, outputs)
    g.save(path, float16)


def text_graph(path, input_name, elem_type, batch, outputs, dim=DIM, rows=ROWS,
               quantized=False, float16=None):
    g = onnx_graphs.Graph("published_text_encoder")
    shape = [1, CONTEXT_LENGTH] if batch == 1 else [batch, "sequence_length"]
    ids = g.input(input_name, elem_type, shape)
    weights = table(dim) if rows == ROWS else \
        np.random.default_rng(7).standard_normal((rows, dim), dtype=np.float32)
    if quantized:
        weights = int8_levels(weights)
    index = g.op("Mod", [g.op("Cast", [ids], to=TensorProto.INT64), g.const(np.int64(rows))])
    gathered = g.op("Gather", [g.const(weights), index], axis=0)
    pooled = g.op("ReduceSum", [gathered, g.const(np.array([1], np.int64))], keepdims=0)
    finish(g, pooled, batch, outputs, dim)
    g.save(path, float16)


def finish(g, pooled, batch, outputs, dim=DIM):
    for name in outputs:
        if name == "last_hidden_state":
            g.op("Unsqueeze", [pooled, g.const(np.array([1], np.int64))], output=name)
            g.output(name, TensorProto.FLOAT, [batch, 1, dim])
        else:
            g.op("Identity", [pooled], output=name)
            g.output(name, TensorProto.FLOAT, [batch, dim])


def small_tokenizer():
    """A Gemma-style tokenizer.json: specials, byte fallback, "▁" for spaces, BPE merges."""
    words = [tokenizer_file.SPACE + w for w in WORDS] + WORDS
    alphabet = sorted(set("".join(words)))
    vocab, merges = tokenizer_file.train(words, alphabet, special=("<pad>", "<eos>", "<bos>"))
    added = [{"id": k, "content": t, "single_word": False, "lstrip": False, "rstrip": False,
              "normalized": False, "special": True} for k, t in enumerate(vocab[:3])]
    return {
        "version": "1.0",
        "truncation": None,
        "padding": None,
        "added_tokens": added,
        "normalizer": {"type": "Replace", "pattern": {"String": " "},
                       "content": tokenizer_file.SPACE},
        "pre_tokenizer": None,
        "post_processor": None,
        "decoder": None,
        "model": {"type": "BPE", "dropout": None, "unk_token": None, "byte_fallback": True,
                  "fuse_unk": True, "vocab": {t: k for k, t in enumerate(vocab)},
                  "merges": ["%s %s" % (vocab[a], vocab[b]) for a, b, _ in merges]},
    }


def write_json(path, value):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(value, f, indent=2, ensure_ascii=False)


def copy_tokenizer(tokenizer, path):
    if isinstance(tokenizer, str):
        with open(tokenizer, "rb") as source, open(path, "wb") as out:
            out.write(source.read())
    else:
        write_json(path, tokenizer)


def tokenizer_config():
    return {"pad_token": "<pad>", "eos_token": "<eos>", "bos_token": "<bos>",
            "model_max_length": CONTEXT_LENGTH}


def immich(root, tokenizer, vit=False, text_rows=ROWS, float16=None):
    """vit: the image graph has the compute of ViT-B/16 at 224 (make_vit_model.py's, float
    input) and the vectors its width, for the embedder benchmark; text_rows: the rows of the
    text graph's table; float16: both graphs in float16 (see onnx_graphs.Graph.save)."""
    out = os.path.join(root, "immich", "ViT-B-16-SigLIP2__webli")
    for part in ("visual", "textual"):
        os.makedirs(os.path.join(out, part), exist_ok=True)
    size, dim = (make_vit_model.SIZE, make_vit_model.WIDTH) if vit else (IMAGE_SIZE, DIM)
    if vit:
        make_vit_model.graph(float_input=True).save(os.path.join(out, "visual", "model.onnx"),
                                                    float16)
    else:
        image_graph(os.path.join(out, "visual", "model.onnx"), "image", 1, ["embedding"])
    text_graph(os.path.join(out, "textual", "model.onnx"), "text", TensorProto.INT32, 1,
               ["embedding"], dim, text_rows, float16=float16)
    write_json(os.path.join(out, "visual", "preprocess_cfg.json"),
               {"size": [size, size], "mode": "RGB", "mean": MEAN, "std": STD,
                "interpolation": "bicubic", "resize_mode": "shortest" if vit else "squash",
                "fill_color": 0})
    copy_tokenizer(tokenizer, os.path.join(out, "textual", "tokenizer.json"))
    write_json(os.path.join(out, "textual", "tokenizer_config.json"), tokenizer_config())
    write_json(os.path.join(out, "config.json"),
               {"embed_dim": dim, "init_logit_bias": -10, "custom_text": True,
                "vision_cfg": {"image_size": size, "timm_model_name":
                               "vit_base_patch16_siglip_256", "timm_model_pretrained": False},
                "text_cfg": {"context_length": CONTEXT_LENGTH, "vocab_size": 256000,
                             "hf_tokenizer_name": "timm/ViT-B-16-SigLIP2",
                             "tokenizer_kwargs": {"clean": "canonicalize"}}})


def optimum(root, tokenizer):
    out = os.path.join(root, "optimum", "siglip2-base-patch16")
    os.makedirs(os.path.join(out, "onnx"), exist_ok=True)
    outputs = ["last_hidden_state", "pooler_output"]
    image_graph(os.path.join(out, "onnx", "vision_model.onnx"), "pixel_values", "batch_size",
                outputs)
    text_graph(os.path.join(out, "onnx", "text_model.onnx"), "input_ids", TensorProto.INT64,
               "batch_size", outputs)
    # The variants beside the fp32 files, taken only when asked for: int8 levels, and
    # float16 in both of the forms published (float32 pixels cast to float16 inside; float16
    # vectors out).
    image_graph(os.path.join(out, "onnx", "vision_model_quantized.onnx"), "pixel_values",
                "batch_size", outputs, quantized=True)
    text_graph(os.path.join(out, "onnx", "text_model_quantized.onnx"), "input_ids",
               TensorProto.INT64, "batch_size", outputs, quantized=True)
    image_graph(os.path.join(out, "onnx", "vision_model_fp16.onnx"), "pixel_values",
                "batch_size", outputs, float16="inside")
    text_graph(os.path.join(out, "onnx", "text_model_fp16.onnx"), "input_ids",
               TensorProto.INT64, "batch_size", outputs, float16="all")
    write_json(os.path.join(out, "preprocessor_config.json"),
               {"do_resize": True, "size": {"height": IMAGE_SIZE, "width": IMAGE_SIZE},
                "resample": 2, "do_rescale": True, "rescale_factor": 1 / 255,
                "do_normalize": True, "image_mean": MEAN, "image_std": STD,
                "image_processor_type": "SiglipImageProcessor",
                "processor_class": "SiglipProcessor"})
    copy_tokenizer(tokenizer, os.path.join(out, "tokenizer.json"))
    write_json(os.path.join(out, "tokenizer_config.json"), tokenizer_config())
    write_json(os.path.join(out, "config.json"),
               {"model_type": "siglip", "architectures": ["SiglipModel"],
                "text_config": {"model_type": "siglip_text_model", "hidden_size": DIM,
                                "max_position_embeddings": CONTEXT_LENGTH,
                                "vocab_size": 256000},
                "vision_config": {"model_type": "siglip_vision_model", "hidden_size": DIM,
                                  "image_size": IMAGE_SIZE, "patch_size": 16}})


CLIP_MEAN = [0.48145466, 0.4578275, 0.40821073]
CLIP_STD = [0.26862954, 0.26130258, 0.27577711]


def clip_immich(root):
    """An OpenAI CLIP export in Immich's layout: byte-level tokenizer with "</w>", CLIP's
    mean and standard deviation, shortest-side resize."""
    out = os.path.join(root, "immich", "ViT-B-32__openai")
    for part in ("visual", "textual"):
        os.makedirs(os.path.join(out, part), exist_ok=True)
    image_graph(os.path.join(out, "visual", "model.onnx"), "image", 1, ["embedding"])
    text_graph(os.path.join(out, "textual", "model.onnx"), "text", TensorProto.INT32, 1,
               ["embedding"])
    write_json(os.path.join(out, "visual", "preprocess_cfg.json"),
               {"size": [IMAGE_SIZE, IMAGE_SIZE], "mode": "RGB", "mean": CLIP_MEAN,
                "std": CLIP_STD, "interpolation": "bicubic", "resize_mode": "shortest",
                "fill_color": 0})
    write_json(os.path.join(out, "textual", "tokenizer.json"), make_clip_tokenizer.tokenizer_json())
    write_json(os.path.join(out, "textual", "tokenizer_config.json"),
               make_clip_tokenizer.tokenizer_config(CONTEXT_LENGTH))
    write_json(os.path.join(out, "config.json"),
               {"embed_dim": DIM, "quick_gelu": True,
                "vision_cfg": {"image_size": IMAGE_SIZE, "layers": 12, "width": 768,
                               "patch_size": 32},
                "text_cfg": {"context_length": CONTEXT_LENGTH, "vocab_size": 49408,
                             "width": 512, "heads": 8, "layers": 12}})


def clip_optimum(root):
    """OpenAI CLIP in the Optimum / transformers.js layout: towers of other widths than the
    projection they end in, projected outputs "image_embeds" and "text_embeds"."""
    out = os.path.join(root, "optimum", "clip-vit-base-patch32")
    os.makedirs(os.path.join(out, "onnx"), exist_ok=True)
    image_graph(os.path.join(out, "onnx", "vision_model.onnx"), "pixel_values", "batch_size",
                ["image_embeds", "last_hidden_state"])
    text_graph(os.path.join(out, "onnx", "text_model.onnx"), "input_ids", TensorProto.INT64,
               "batch_size", ["text_embeds", "last_hidden_state"])
    write_json(os.path.join(out, "preprocessor_config.json"),
               {"crop_size": {"height": IMAGE_SIZE, "width": IMAGE_SIZE}, "do_center_crop": True,
                "do_normalize": True, "do_resize": True, "image_mean": CLIP_MEAN,
                "image_std": CLIP_STD, "resample": 3, "rescale_factor": 1 / 255,
                "size": {"shortest_edge": IMAGE_SIZE},
                "image_processor_type": "CLIPImageProcessor", "processor_class": "CLIPProcessor"})
    write_json(os.path.join(out, "tokenizer.json"), make_clip_tokenizer.tokenizer_json())
    write_json(os.path.join(out, "tokenizer_config.json"),
               make_clip_tokenizer.tokenizer_config(CONTEXT_LENGTH))
    write_json(os.path.join(out, "config.json"),
               {"model_type": "clip", "architectures": ["CLIPModel"], "projection_dim": DIM,
                "logit_scale_init_value": 2.6592,
                "text_config": {"model_type": "clip_text_model", "hidden_size": 2 * DIM,
                                "max_position_embeddings": CONTEXT_LENGTH,
                                "vocab_size": 49408},
                "vision_config": {"model_type": "clip_vision_model", "hidden_size": 3 * DIM,
                                  "image_size": IMAGE_SIZE, "patch_size": 32}})


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--vit":
        immich(sys.argv[2], small_tokenizer(), vit=True)
        return
    if len(sys.argv) == 3 and sys.argv[1] in ("--siglip2-b16", "--siglip2-b16-fp16"):
        immich(sys.argv[2], small_tokenizer(), vit=True, text_rows=256000,
               float16="all" if sys.argv[1].endswith("fp16") else None)
        return
    if len(sys.argv) not in (2, 3):
        raise SystemExit("usage: make_published_models.py [--vit | --siglip2-b16[-fp16]] "
                         "OUTPUT_DIRECTORY [TOKENIZER_JSON]")
    tokenizer = sys.argv[2] if len(sys.argv) == 3 else small_tokenizer()
    immich(sys.argv[1], tokenizer)
    optimum(sys.argv[1], tokenizer)
    clip_immich(sys.argv[1])
    clip_optimum(sys.argv[1])


if __name__ == "__main__":
    main()
