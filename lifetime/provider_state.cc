// The JSON form of the provider's heartbeat record, by the rules of every exchange record:
// compact, members in field order, "/" written as "\/", unknown members ignored on reading and
// each member's JSON kind and range checked.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "exchange/json_form.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/error.h"

namespace {

using State = FinderProviderLifetime::State;
using FinderConversion::json_form::Json;

std::int32_t processIdMember(const Json& object) {
  namespace form = FinderConversion::json_form;
  std::int64_t pid = form::integer(form::requiredMember(object, "pid"), "pid");
  if (pid < std::numeric_limits<std::int32_t>::min() ||
      pid > std::numeric_limits<std::int32_t>::max()) {
    throw platform::jsonError("The member \"pid\" is not a 32-bit integer.");
  }
  return static_cast<std::int32_t>(pid);
}

}  // namespace

namespace FinderConversion {

std::string encode(const State& value) {
  // Ordered: readers accept any order, but the record is written in field order.
  const json_form::OrderedJson document = {{"version", value.version},
                                           {"instance", value.instance.text()},
                                           {"pid", value.pid},
                                           {"executableHash", value.executableHash},
                                           {"payloadVersion", value.payloadVersion},
                                           {"updated", value.updated}};
  return json_form::dumpDocument(document);
}

template <>
State decode<State>(std::string_view document) {
  namespace form = json_form;
  Json parsed = form::parseDocument(document);
  const Json& object = form::object(parsed, "provider state");
  State state;
  state.version = form::integer(form::requiredMember(object, "version"), "version");
  state.instance = form::identifier(form::requiredMember(object, "instance"), "instance");
  state.pid = processIdMember(object);
  state.executableHash =
      form::text(form::requiredMember(object, "executableHash"), "executableHash");
  state.payloadVersion =
      form::text(form::requiredMember(object, "payloadVersion"), "payloadVersion");
  state.updated = form::number(form::requiredMember(object, "updated"), "updated");
  return state;
}

}  // namespace FinderConversion
