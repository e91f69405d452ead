#include "exchange/json_form.h"
#include "exchange/records.h"

namespace FinderConversion {
namespace {

using json_form::Json;

Json inputValue(const Input& input) {
  Json value = {{"url", input.url.text()}};
  if (input.bookmark) value["bookmark"] = json_form::bytesValue(*input.bookmark);
  return value;
}

Input inputFrom(const Json& value) {
  const Json& object = json_form::object(value, "inputs");
  Input input{json_form::location(json_form::requiredMember(object, "url"), "url"), std::nullopt};
  if (const Json* bookmark = json_form::optionalMember(object, "bookmark")) {
    input.bookmark = json_form::bytes(*bookmark, "bookmark");
  }
  return input;
}

Json textMapValue(const TextMap& map) {
  Json value = Json::object();
  for (const auto& [key, entry] : map) value[key] = entry;
  return value;
}

}  // namespace

std::string encode(const Receipt& value) {
  Json document = {{"version", value.version},
                   {"payloadVersion", value.payloadVersion},
                   {"appBookmark", json_form::bytesValue(value.appBookmark)},
                   {"appBundleID", value.appBundleID},
                   {"files", textMapValue(value.files)}};
  if (value.appPath) document["appPath"] = value.appPath->text();
  return json_form::dumpDocument(document);
}

std::string encode(const Input& value) {
  return json_form::dumpDocument(inputValue(value));
}

std::string encode(const Request& value) {
  Json inputs = Json::array();
  for (const Input& input : value.inputs) inputs.push_back(inputValue(input));
  return json_form::dumpDocument(Json{{"version", value.version},
                                      {"id", value.id.text()},
                                      {"format", value.format},
                                      {"inputs", std::move(inputs)}});
}

std::string encode(const Acknowledgement& value) {
  Json jobs = Json::array();
  for (const Uuid& job : value.jobs) jobs.push_back(job.text());
  Json outputs = Json::array();
  for (const Url& output : value.outputs) outputs.push_back(output.text());
  return json_form::dumpDocument(Json{{"id", value.id.text()},
                                      {"accepted", value.accepted},
                                      {"message", value.message},
                                      {"jobs", std::move(jobs)},
                                      {"terminal", value.terminal},
                                      {"states", textMapValue(value.states)},
                                      {"outputs", std::move(outputs)}});
}

std::string encode(std::string_view text) {
  return json_form::dumpDocument(Json(text));
}

template <>
Receipt decode<Receipt>(std::string_view document) {
  using namespace json_form;
  const Json parsed = parseDocument(document);
  const Json& root = object(parsed, "receipt");
  Receipt receipt;
  receipt.version = integer(requiredMember(root, "version"), "version");
  receipt.payloadVersion = text(requiredMember(root, "payloadVersion"), "payloadVersion");
  receipt.appBookmark = bytes(requiredMember(root, "appBookmark"), "appBookmark");
  receipt.appBundleID = text(requiredMember(root, "appBundleID"), "appBundleID");
  if (const Json* appPath = optionalMember(root, "appPath")) {
    receipt.appPath = location(*appPath, "appPath");
  }
  receipt.files = textMap(requiredMember(root, "files"), "files");
  return receipt;
}

template <>
Input decode<Input>(std::string_view document) {
  return inputFrom(json_form::parseDocument(document));
}

template <>
Request decode<Request>(std::string_view document) {
  using namespace json_form;
  const Json parsed = parseDocument(document);
  const Json& root = object(parsed, "request");
  Request request;
  request.version = integer(requiredMember(root, "version"), "version");
  request.id = identifier(requiredMember(root, "id"), "id");
  request.format = text(requiredMember(root, "format"), "format");
  for (const Json& input : array(requiredMember(root, "inputs"), "inputs")) {
    request.inputs.push_back(inputFrom(input));
  }
  return request;
}

template <>
Acknowledgement decode<Acknowledgement>(std::string_view document) {
  using namespace json_form;
  const Json parsed = parseDocument(document);
  const Json& root = object(parsed, "acknowledgement");
  Acknowledgement answer;
  answer.id = identifier(requiredMember(root, "id"), "id");
  answer.accepted = boolean(requiredMember(root, "accepted"), "accepted");
  answer.message = text(requiredMember(root, "message"), "message");
  for (const Json& job : array(requiredMember(root, "jobs"), "jobs")) {
    answer.jobs.push_back(identifier(job, "jobs"));
  }
  answer.terminal = boolean(requiredMember(root, "terminal"), "terminal");
  answer.states = textMap(requiredMember(root, "states"), "states");
  for (const Json& output : array(requiredMember(root, "outputs"), "outputs")) {
    answer.outputs.push_back(location(output, "outputs"));
  }
  return answer;
}

template <>
std::string decode<std::string>(std::string_view document) {
  return json_form::text(json_form::parseDocument(document), "document");
}

template <>
Uuid decode<Uuid>(std::string_view document) {
  return json_form::identifier(json_form::parseDocument(document), "document");
}

}  // namespace FinderConversion
