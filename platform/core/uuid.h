#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Uuid is a 128-bit identifier; text() is the canonical upper-case form (36 characters).
class Uuid {
 public:
  static Uuid random();  // version 4
  // parse accepts the canonical 8-4-4-4-12 form in either case, nothing else.
  static std::optional<Uuid> parse(std::string_view text);

  std::string text() const;

  bool operator==(const Uuid&) const = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace platform
