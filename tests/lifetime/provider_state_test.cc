// The JSON form of the heartbeat record, shared with every installer that reads it.
#include <string>
#include <vector>

#include "tests/lifetime/lifetime_fixture.h"

namespace lifetime_testing {
namespace {

const std::string kInstance = "0F4C2A1E-7B3D-4E5F-8A9B-0C1D2E3F4A5B";

State sampleState() {
  State state;
  state.instance = *platform::Uuid::parse(kInstance);
  state.pid = 42;
  state.executableHash = "ab12";
  state.payloadVersion = "1.0/beta \u00e9";
  state.updated = 787000000.25;
  return state;
}

TEST(ProviderStateTest, EncodesCompactlyInFieldOrderAndReadsBack) {
  std::string document = FinderConversion::encode(sampleState());
  EXPECT_EQ(document, R"({"version":1,"instance":")" + kInstance +
                          R"(","pid":42,"executableHash":"ab12","payloadVersion":"1.0\/beta )"
                          "\u00e9"
                          R"(","updated":787000000.25})");
  State back = FinderConversion::decode<State>(document);
  EXPECT_EQ(back.version, 1);
  EXPECT_EQ(back.instance, sampleState().instance);
  EXPECT_EQ(back.pid, 42);
  EXPECT_EQ(back.executableHash, "ab12");
  EXPECT_EQ(back.payloadVersion, sampleState().payloadVersion);
  EXPECT_EQ(back.updated, 787000000.25);
}

TEST(ProviderStateTest, TextThatIsNotUtf8CannotBeEncoded) {
  State state = sampleState();
  state.payloadVersion = "\xff";
  platform::Error error = errorOf([&] { FinderConversion::encode(state); });
  EXPECT_EQ(error.domain(), platform::kJsonEncodingDomain);
}

TEST(ProviderStateTest, ReadingAcceptsOnlyCompleteWellFormedRecords) {
  struct Case {
    const char* name;
    std::string members;  // inside the braces
    bool valid;
  };
  const std::string instance = R"("instance":")" + kInstance + R"(")";
  const std::string rest = R"("executableHash":"h","payloadVersion":"p")";
  auto record = [&](const std::string& version, const std::string& id, const std::string& pid,
                    const std::string& updated) {
    return version + "," + id + "," + pid + "," + rest + "," + updated;
  };
  const std::string v = R"("version":1)", p = R"("pid":7)", u = R"("updated":1.5)";
  const std::vector<Case> cases = {
      {"complete", record(v, instance, p, u), true},
      {"unknown member and lower-case instance",
       R"("extra":[1],"version":1,"instance":"0f4c2a1e-7b3d-4e5f-8a9b-0c1d2e3f4a5b",)" + p + "," +
           rest + "," + u,
       true},
      {"whole-number updated", record(v, instance, p, R"("updated":787000000)"), true},
      {"negative pid at the 32-bit limit", record(v, instance, R"("pid":-2147483648)", u), true},
      {"missing version", instance + "," + p + "," + rest + "," + u, false},
      {"missing instance", v + "," + p + "," + rest + "," + u, false},
      {"missing pid", v + "," + instance + "," + rest + "," + u, false},
      {"missing executableHash", v + "," + instance + "," + p + R"(,"payloadVersion":"p",)" + u,
       false},
      {"missing payloadVersion", v + "," + instance + "," + p + R"(,"executableHash":"h",)" + u,
       false},
      {"missing updated", v + "," + instance + "," + p + "," + rest, false},
      {"fractional version", record(R"("version":1.5)", instance, p, u), false},
      {"duplicate member", record(v, instance, p, u) + "," + v, false},
      {"version as text", record(R"("version":"1")", instance, p, u), false},
      {"pid beyond 32 bits", record(v, instance, R"("pid":2147483648)", u), false},
      {"instance not a UUID", record(v, R"("instance":"nope")", p, u), false},
      {"instance a number", record(v, R"("instance":5)", p, u), false},
      {"updated as text", record(v, instance, p, R"("updated":"now")"), false},
      {"executableHash null",
       v + "," + instance + "," + p + R"(,"executableHash":null,"payloadVersion":"p",)" + u, false},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    std::string document = "{" + testCase.members + "}";
    if (testCase.valid) {
      EXPECT_NO_THROW(FinderConversion::decode<State>(document)) << document;
    } else {
      EXPECT_EQ(errorOf([&] { FinderConversion::decode<State>(document); }).domain(),
                platform::kJsonDomain)
          << document;
    }
  }
  for (const char* notARecord : {"", "[]", "\"text\"", "{\"version\":1"}) {
    SCOPED_TRACE(notARecord);
    EXPECT_EQ(errorOf([&] { FinderConversion::decode<State>(notARecord); }).domain(),
              platform::kJsonDomain);
  }
}

}  // namespace
}  // namespace lifetime_testing
