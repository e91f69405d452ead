#include "platform/core/digest.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/core/descriptor.h"
#include "platform/core/error.h"

namespace platform {
namespace {

// Few reads per file. The buffer is left unfilled: the provider hashes its executable five
// times a second, and zeroing a megabyte each time cost more than reading into it.
constexpr std::size_t kChunkSize = 1 << 20;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

// Sha256 wraps one EVP digest; allocation failures are the only errors OpenSSL reports here.
class Sha256 {
 public:
  // No configuration file: only the built-in SHA-256 is used, and reading openssl.cnf would
  // cost every process start. The first call decides for the whole process; later ones are cheap.
  Sha256() : context_(initialised() ? EVP_MD_CTX_new() : nullptr) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
      throw Error("Tonebrook.Digest", 1, "SHA-256 is not available");
    }
  }
  void update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) {
      throw Error("Tonebrook.Digest", 1, "SHA-256 update failed");
    }
  }
  std::string hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest.data(), &size) != 1) {
      throw Error("Tonebrook.Digest", 1, "SHA-256 final failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
      text += kHex[digest[i] >> 4];
      text += kHex[digest[i] & 0x0f];
    }
    return text;
  }

 private:
  static bool initialised() {
    return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  }

  Context context_;
};

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  Sha256 digest;
  digest.update(bytes.data(), bytes.size());
  return digest.hex();
}

std::string sha256HexOfFile(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO swapped in after the caller's check reads as empty instead of hanging.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw errnoError(errno, path.native());
  const Descriptor file(fd);
  Sha256 digest;
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kChunkSize);
  for (;;) {
    const ssize_t count = ::read(file.get(), buffer.get(), kChunkSize);
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errnoError(errno, path.native());
    }
    if (count == 0) break;
    digest.update(buffer.get(), static_cast<std::size_t>(count));
  }
  return digest.hex();
}

}  // namespace platform
