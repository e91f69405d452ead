// Constants, the four records in their JSON form, Receipt equality and validate.
#include "exchange/records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace test_support {
namespace {

using namespace FinderConversion;

Url url(const char* text) {
  return Url::parse(text).value();
}

const char* const kId = "0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0";

Receipt sampleReceipt() {
  Receipt receipt;
  receipt.payloadVersion = "2.1";
  receipt.appBookmark = {0x7b, 0x22, 0xff, 0x00};
  receipt.appBundleID = std::string(bundleID);
  receipt.appPath = url("file:///Applications/Tonebrook.app/");
  receipt.files = {{"Contents/", "directory"}, {"Contents/Info.plist", std::string(64, 'a')}};
  return receipt;
}

TEST(ConstantsTest, FormatsFailureAndLocations) {
  EXPECT_EQ(formats, (std::array<std::string_view, 5>{"wav", "mp3", "aac", "flac", "ogg"}));
  const Error error = failure("The add-on lock cannot be opened.");
  EXPECT_EQ(error.domain(), "Tonebrook.FinderConversion");
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.description(), "The add-on lock cannot be opened.");

  const char* saved = std::getenv("HOME");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("HOME", "/Users/example", 1);
  EXPECT_EQ(stateRoot(), "/Users/example/Library/Application Support/Tonebrook/FinderConversion");
  EXPECT_EQ(servicesRoot(), "/Users/example/Library/Services");
  setenv("HOME", "/home/other", 1);  // recomputed on every call
  EXPECT_EQ(servicesRoot(), "/home/other/Library/Services");
  if (saved != nullptr) setenv("HOME", previous.c_str(), 1);
}

TEST(RecordFormTest, DocumentsAreCompactWithEscapedSlashes) {
  Request request{1, Uuid::parse(kId).value(), "mp3", {}};
  request.inputs.push_back({url("file:///Users/example/Song%20One.wav"), Bytes{1, 2, 3}});
  request.inputs.push_back({url("file:///b.wav"), std::nullopt});
  EXPECT_EQ(encode(request),
            "{\"format\":\"mp3\",\"id\":\"0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0\",\"inputs\":["
            "{\"bookmark\":\"AQID\",\"url\":\"file:\\/\\/\\/Users\\/example\\/Song%20One.wav\"},"
            "{\"url\":\"file:\\/\\/\\/b.wav\"}],\"version\":1}");
  EXPECT_EQ(encode(Input{url("file:///b.wav"), std::nullopt}), "{\"url\":\"file:\\/\\/\\/b.wav\"}");
  EXPECT_EQ(encode(std::string_view("Caf\xc3\xa9 a/b")), "\"Caf\xc3\xa9 a\\/b\"");

  Receipt receipt = sampleReceipt();
  receipt.appPath.reset();
  const std::string document = encode(receipt);
  EXPECT_EQ(document.find("appPath"), std::string::npos);
  EXPECT_NE(document.find("\"appBookmark\":\"eyL\\/AA==\""), std::string::npos) << document;
}

TEST(RecordFormTest, EveryRecordRoundTrips) {
  const Receipt receipt = sampleReceipt();
  EXPECT_EQ(decode<Receipt>(encode(receipt)), receipt);
  Receipt bare = receipt;
  bare.appPath.reset();
  bare.files.clear();
  EXPECT_EQ(decode<Receipt>(encode(bare)), bare);

  Request request{1, Uuid::random(), "flac", {{url("file:///a/%C3%A9.wav"), Bytes{}}}};
  EXPECT_EQ(decode<Request>(encode(request)), request);

  const Acknowledgement answer{Uuid::random(),
                               true,
                               "Caf\xc3\xa9 \xe2\x80\x93 queued",
                               {Uuid::random()},
                               true,
                               {{"job", "running"}},
                               {url("file:///out/a.mp3")}};
  const std::string document = encode(answer);
  EXPECT_NE(document.find("\xe2\x80\x93"), std::string::npos);  // plain UTF-8, not \u2013
  EXPECT_EQ(decode<Acknowledgement>(document), answer);
  EXPECT_EQ(decode<Uuid>(encode(std::string_view(kId))), Uuid::parse(kId).value());
}

TEST(RecordFormTest, ReadingIsLenientWhereTheFormAllows) {
  const std::string id = kId;
  std::string lower = id;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const Acknowledgement answer = decode<Acknowledgement>(
      "{\"id\":\"" + lower +
      "\",\"accepted\":false,\"message\":\"No.\",\"jobs\":[],"
      "\"terminal\":false,\"states\":{},\"outputs\":[\"file:///o.wav\"],\"extra\":[1,{}]}");
  EXPECT_EQ(answer.id, Uuid::parse(id).value());
  EXPECT_EQ(answer.outputs, std::vector<Url>{url("file:///o.wav")});

  const Receipt receipt = decode<Receipt>(
      "{\"version\":1.0,\"payloadVersion\":\"1\",\"appBookmark\":\"\",\"appBundleID\":\"b\","
      "\"appPath\":null,\"files\":{\"a\":\"directory\"},\"unknown\":true}");
  EXPECT_EQ(receipt.version, 1);
  EXPECT_FALSE(receipt.appPath);

  const Request request = decode<Request>("{\"version\":2,\"id\":\"" + id +
                                          "\",\"format\":\"WAV\",\"inputs\":[{\"url\":\"http:"
                                          "\\/\\/x\\/a\",\"bookmark\":null}]}");
  EXPECT_EQ(request.version, 2);  // ranges and formats are validate's business
  EXPECT_EQ(request.inputs.at(0).url, url("http://x/a"));
  EXPECT_FALSE(request.inputs.at(0).bookmark);
}

TEST(RecordFormTest, DocumentsThatDoNotDecode) {
  const std::string ack =
      "\"id\":\"" + std::string(kId) +
      "\",\"accepted\":true,\"message\":\"m\",\"jobs\":[],\"terminal\":false,\"states\":{}";
  const std::string receipt = "\"version\":1,\"appBookmark\":\"AQID\",\"appBundleID\":\"b\"";
  struct Case {
    const char* name;
    std::string document;
    bool acknowledgement;
  };
  const Case cases[] = {
      {"ack without outputs", "{" + ack + "}", true},
      {"ack without states", "{" + ack.substr(0, ack.find(",\"states\"")) + ",\"outputs\":[]}",
       true},
      {"ack without terminal",
       "{\"id\":\"" + std::string(kId) +
           "\",\"accepted\":true,\"message\":\"m\",\"jobs\":[],\"states\":{},\"outputs\":[]}",
       true},
      {"ack accepted as number", "{" + ack + ",\"outputs\":[],\"accepted\":1}", true},
      {"ack job that is not a UUID",
       "{" + ack.substr(0, ack.find("\"jobs\":[]")) +
           "\"jobs\":[\"job-1\"],\"terminal\":false,\"states\":{},\"outputs\":[]}",
       true},
      {"ack output not a URL", "{" + ack + ",\"outputs\":[\"\\/o.wav\"]}", true},
      {"ack null required member", "{" + ack + ",\"outputs\":null}", true},
      {"receipt without payloadVersion", "{" + receipt + ",\"files\":{}}", false},
      {"receipt version with fraction",
       "{" + receipt +
           ",\"payloadVersion\":\"1\",\"files\":{},"
           "\"version\":1.5}",
       false},
      {"receipt bad Base64",
       "{\"version\":1,\"appBookmark\":\"AQI\",\"appBundleID\":\"b\","
       "\"payloadVersion\":\"1\",\"files\":{}}",
       false},
      {"receipt files not text", "{" + receipt + ",\"payloadVersion\":\"1\",\"files\":{\"a\":1}}",
       false},
      {"receipt appPath not a URL",
       "{" + receipt + ",\"payloadVersion\":\"1\",\"files\":{},\"appPath\":\"a b\"}", false},
      {"receipt not an object", "[]", false},
      {"empty document", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.acknowledgement) {
      EXPECT_ERROR_DOMAIN(decode<Acknowledgement>(c.document), platform::kJsonDomain);
    } else {
      EXPECT_ERROR_DOMAIN(decode<Receipt>(c.document), platform::kJsonDomain);
    }
  }
  // The complete acknowledgement decodes: each case above fails for its own fault.
  EXPECT_NO_THROW(decode<Acknowledgement>("{" + ack + ",\"outputs\":[]}"));
}

TEST(ReceiptTest, EqualityLooksAtEveryField) {
  const Receipt base = sampleReceipt();
  std::vector<std::pair<const char*, Receipt>> variants;
  const auto vary = [&](const char* name, auto change) {
    Receipt copy = base;
    change(copy);
    variants.emplace_back(name, copy);
  };
  vary("version", [](Receipt& r) { r.version = 2; });
  vary("payloadVersion", [](Receipt& r) { r.payloadVersion += "x"; });
  vary("appBookmark", [](Receipt& r) { r.appBookmark.back() = 1; });
  vary("appBundleID", [](Receipt& r) { r.appBundleID += "x"; });
  vary("appPath absent", [](Receipt& r) { r.appPath.reset(); });
  vary("appPath other", [](Receipt& r) { r.appPath = url("file:///Other.app/"); });
  vary("files value", [](Receipt& r) { r.files["Contents/"] = "x"; });
  vary("files key", [](Receipt& r) { r.files["extra"] = "directory"; });
  EXPECT_EQ(base, sampleReceipt());
  for (const auto& [name, variant] : variants) {
    SCOPED_TRACE(name);
    EXPECT_NE(variant, base);
  }
}

TEST(ValidateTest, TestsInOrderWithTwoSentences) {
  const std::string selection =
      "Choose 1\xe2\x80\x93"
      "16 audio files and WAV, MP3, AAC/M4A, FLAC or OGG Vorbis.";
  const std::string locality = "Only local files are supported.";
  ASSERT_EQ(std::string(kSelectionSentence), selection);
  EXPECT_EQ(selection.size(), 68u);

  const Input local{url("file:///Users/example/a.wav"), std::nullopt};
  const Input remote{url("file://server/share/a.wav"), std::nullopt};
  const auto inputs = [](std::size_t count, const Input& input) {
    return std::vector<Input>(count, input);
  };
  struct Case {
    const char* name;
    Request request;
    std::string sentence;  // empty: valid
  };
  std::vector<Input> secondRemote = {local, remote, Input{url("mailto:x@y"), std::nullopt}};
  const Case cases[] = {
      {"one input", {1, Uuid::random(), "ogg", inputs(1, local)}, ""},
      {"sixteen inputs", {1, Uuid::random(), "wav", inputs(16, local)}, ""},
      {"same file twice", {1, Uuid::random(), "aac", inputs(2, local)}, ""},
      {"localhost", {1, Uuid::random(), "mp3", {{url("file://localhost/a.wav"), Bytes{}}}}, ""},
      {"no inputs", {1, Uuid::random(), "wav", {}}, selection},
      {"seventeen inputs", {1, Uuid::random(), "wav", inputs(17, local)}, selection},
      {"seventeen with a remote one", {1, Uuid::random(), "wav", inputs(17, remote)}, selection},
      {"version 2", {2, Uuid::random(), "wav", inputs(1, local)}, selection},
      {"version 2 and remote", {2, Uuid::random(), "wav", inputs(1, remote)}, selection},
      {"upper-case format", {1, Uuid::random(), "OGG", inputs(1, local)}, selection},
      {"m4a", {1, Uuid::random(), "m4a", inputs(1, local)}, selection},
      {"empty format", {1, Uuid::random(), "", inputs(1, local)}, selection},
      {"second of three remote", {1, Uuid::random(), "flac", secondRemote}, locality},
      {"http",
       {1, Uuid::random(), "wav", {{url("http://localhost/a.wav"), std::nullopt}}},
       locality},
      {"LOCALHOST",
       {1, Uuid::random(), "wav", {{url("file://LOCALHOST/a.wav"), std::nullopt}}},
       locality},
      {"relative file URL",
       {1, Uuid::random(), "wav", {{url("file:t.wav"), std::nullopt}}},
       locality},
      {"relative after an authority",
       {1, Uuid::random(), "wav", {{url("file://localhost"), std::nullopt}}},
       locality},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sentence.empty()) {
      EXPECT_NO_THROW(validate(c.request));
    } else {
      EXPECT_FAILURE_SENTENCE(validate(c.request), c.sentence);
    }
  }
}

}  // namespace
}  // namespace test_support
