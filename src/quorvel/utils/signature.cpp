#include "quorvel/utils/signature.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "contracts/errors.h"

namespace quorvel {

std::string hmac_sha256(std::string_view key, std::string_view message) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static const char none = 0;  // an empty text may have no storage at all
  const char* key_bytes = key.empty() ? &none : key.data();
  const char* data = message.empty() ? &none : message.data();
  if (!HMAC(EVP_sha256(), key_bytes, int(key.size()), reinterpret_cast<const unsigned char*>(data), message.size(), out,
            &length))
    throw RuntimeError("HMAC-SHA256 计算失败 (OpenSSL)");
  return std::string(reinterpret_cast<const char*>(out), length);
}

std::string base64_encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
  out.resize(std::size_t(written));
  return out;
}

}  // namespace quorvel
