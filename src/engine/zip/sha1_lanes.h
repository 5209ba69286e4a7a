#pragma once

// PBKDF2-HMAC-SHA1 with its output blocks computed side by side. Every block of PBKDF2 is an
// independent chain of a thousand HMACs, and one chain alone waits on the latency of the SHA
// instructions; running up to four chains interleaved keeps the processor busy while each waits.

#include <cstddef>
#include <string_view>

namespace zentrove::engine::zip::crypto {

// The SHA-1 code the derivation may use. The portable one runs everywhere; tests force it to check
// it against the fast one on processors that have the SHA extensions.
enum class Sha1Code { Fastest, Portable };

// True when this processor runs the interleaved SHA extension code.
[[nodiscard]] bool HasSha1Extensions();

void Pbkdf2HmacSha1Lanes(std::string_view password, const unsigned char* salt, std::size_t saltSize,
                         int iterations, unsigned char* out, std::size_t size, Sha1Code code);

}  // namespace zentrove::engine::zip::crypto
