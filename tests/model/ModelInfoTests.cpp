// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/ModelInfo.h"

namespace quillmere {
namespace {

using Json = nlohmann::json;

Json complete() {
  return Json{{"hf", "org/model"}, {"kind", "siglip2"}, {"imageSize", 224},   {"contextLength", 64},
              {"dim", 768},        {"logitScale", 10},  {"logitBias", -10.5}, {"lowercase", true},
              {"padId", 0},        {"eosId", 1},        {"resize", "squash"}, {"batch", 16}};
}

ModelInfo decode(const Json& json) {
  return ModelInfo::decode(json.dump());
}

TEST(ModelInfo, DecodesAllTwelveKeysAndIgnoresOthers) {
  Json json = complete();
  json["unknown"] = Json::array({1, 2});
  json["note"] = "ignored";
  ModelInfo info = decode(json);
  EXPECT_EQ(info, (ModelInfo{.hf = "org/model",
                             .kind = "siglip2",
                             .imageSize = 224,
                             .contextLength = 64,
                             .dim = 768,
                             .logitScale = 10,
                             .logitBias = -10.5f,
                             .lowercase = true,
                             .padId = 0,
                             .eosId = 1,
                             .resize = "squash",
                             .batch = 16}));
  EXPECT_EQ(info.signature(), "org/model@224");
}

TEST(ModelInfo, EveryKeyIsRequired) {
  const Json all = complete();
  for (const auto& [key, value] : all.items()) {
    Json json = complete();
    json.erase(key);
    EXPECT_THROW(decode(json), ModelInfo::DecodingError) << key;
    try {
      decode(json);
    } catch (const ModelInfo::DecodingError& error) {
      EXPECT_NE(std::string(error.what()).find(key), std::string::npos) << error.what();
    }
  }
}

TEST(ModelInfo, WrongTypesAreRefusedNotConverted) {
  const std::vector<std::pair<std::string, Json>> wrong = {
      {"imageSize", 224.0},
      {"imageSize", 224.5},
      {"imageSize", "224"},
      {"contextLength", true},
      {"dim", nullptr},
      {"batch", Json::array({16})},
      {"padId", 2147483648LL},
      {"eosId", -2147483649LL},
      {"padId", 1.0},
      {"logitScale", "10"},
      {"logitBias", false},
      {"logitScale", 1e300},
      {"lowercase", 1},
      {"lowercase", "true"},
      {"hf", 5},
      {"kind", nullptr},
      {"resize", Json::object()},
      {"imageSize", 18446744073709551615ULL},
      // The optional keys, when present, are checked as strictly.
      {"pixels", "rgb"},
      {"pixels", 3},
      {"mean", Json::array({0.5, 0.5})},
      {"mean", "0.5"},
      {"std", Json::array({0.5, 0, 0.5})},
      {"std", Json::array({1, 1, 1e300})},
      {"mean", Json::array({"a", 1, 2})},
      {"imageInput", 1},
      {"textOutput", nullptr},
      {"interpolation", false},
  };
  for (const auto& [key, value] : wrong) {
    Json json = complete();
    json[key] = value;
    EXPECT_THROW(decode(json), ModelInfo::DecodingError) << key << " = " << value.dump();
  }
}

TEST(ModelInfo, OptionalKeysDecodeAndAbsentOnesKeepTheBuiltInConvention) {
  const ModelInfo plain = decode(complete());
  EXPECT_EQ(plain.pixels, "uint8");
  EXPECT_FALSE(plain.floatPixels());
  EXPECT_EQ(plain.mean, (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(plain.standardDeviation, (std::array<float, 3>{1, 1, 1}));
  EXPECT_EQ(
      plain.imageInput + "," + plain.imageOutput + "," + plain.textInput + "," + plain.textOutput,
      "image,embedding,input_ids,embedding");

  Json json = complete();
  json.update(Json{{"pixels", "nhwc"},
                   {"mean", {0.5, 0.25, 0}},
                   {"std", {0.5, 2, 1}},
                   {"interpolation", "bicubic"},
                   {"imageInput", "pixel_values"},
                   {"imageOutput", "pooler_output"},
                   {"textInput", "text"},
                   {"textOutput", "text_embeds"}});
  const ModelInfo info = decode(json);
  EXPECT_TRUE(info.floatPixels());
  EXPECT_EQ(info.pixels, "nhwc");
  EXPECT_EQ(info.mean, (std::array<float, 3>{0.5f, 0.25f, 0}));
  EXPECT_EQ(info.standardDeviation, (std::array<float, 3>{0.5f, 2, 1}));
  EXPECT_EQ(info.interpolation, "bicubic");
  EXPECT_EQ(info.imageInput + "," + info.imageOutput + "," + info.textInput + "," + info.textOutput,
            "pixel_values,pooler_output,text,text_embeds");
  EXPECT_EQ(info.signature(), plain.signature());
}

TEST(ModelInfo, NumbersAtTheEdgesOfTheirFields) {
  Json json = complete();
  json["padId"] = 2147483647;
  json["eosId"] = -2147483648LL;
  json["imageSize"] = 9223372036854775807LL;
  json["logitScale"] = 4;  // an integer is a number for a float field
  ModelInfo info = decode(json);
  EXPECT_EQ(info.padId, 2147483647);
  EXPECT_EQ(info.eosId, -2147483647 - 1);
  EXPECT_EQ(info.imageSize, 9223372036854775807LL);
  EXPECT_EQ(info.logitScale, 4.0f);
}

TEST(ModelInfo, MalformedJSONIsADecodingError) {
  for (std::string text : {"", "{", "[]", "null", "{\"hf\": }", "{} trailing"}) {
    EXPECT_THROW(ModelInfo::decode(text), ModelInfo::DecodingError) << text;
  }
}

// A number past the double range is nlohmann's out_of_range, not a parse_error.
TEST(ModelInfo, NumbersBeyondADoubleAreADecodingError) {
  for (const char* number : {"224.1e400", "-1e400", "1e99999"}) {
    std::string text = complete().dump();
    const std::string field = "\"imageSize\":224";
    text.replace(text.find(field), field.size(), std::string("\"imageSize\":") + number);
    try {
      ModelInfo::decode(text);
      ADD_FAILURE() << number << " was accepted";
    } catch (const ModelInfo::DecodingError& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("model.json: ")) << error.what();
    }
  }
}

TEST(ModelInfo, SignatureFollowsOnlyIdentifierAndImageSize) {
  ModelInfo base = decode(complete());
  ModelInfo other = base;
  other.dim = 512;
  other.resize = "crop";
  other.contextLength = 77;
  other.logitScale = 3;
  EXPECT_EQ(other.signature(), base.signature());
  other.imageSize = 384;
  EXPECT_EQ(other.signature(), "org/model@384");
  other.hf = "";
  EXPECT_EQ(other.signature(), "@384");
  other.weights = "0123abcd";
  EXPECT_EQ(other.signature(), "@384#0123abcd");
}

}  // namespace
}  // namespace quillmere
