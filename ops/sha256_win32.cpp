// SHA-256 by the system's CNG. BCryptHash (Windows 10 on) is looked up, not imported, so the program
// still starts on the systems before it, which hash in steps.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "ops/production_record.h"

namespace hnx {
namespace {

using HashFunction = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);

HashFunction OneCallHash() {
  const HMODULE library = GetModuleHandleW(L"bcrypt.dll");
  if (library == nullptr) return nullptr;
  return reinterpret_cast<HashFunction>(reinterpret_cast<void*>(GetProcAddress(library, "BCryptHash")));
}

bool HashInSteps(BCRYPT_ALG_HANDLE algorithm, PUCHAR input, ULONG length, Sha256Digest& digest) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return false;
  const bool done =
      BCRYPT_SUCCESS(BCryptHashData(hash, input, length, 0)) &&
      BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  BCryptDestroyHash(hash);
  return done;
}

}  // namespace

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return std::nullopt;
  Sha256Digest digest{};
  // CNG takes a non-const input pointer; it does not write through it.
  const auto input = const_cast<PUCHAR>(bytes.data());
  const auto length = static_cast<ULONG>(bytes.size());
  const HashFunction hash = OneCallHash();
  const bool done = hash != nullptr ? BCRYPT_SUCCESS(hash(algorithm, nullptr, 0, input, length, digest.data(),
                                                          static_cast<ULONG>(digest.size())))
                                    : HashInSteps(algorithm, input, length, digest);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) return std::nullopt;
  return digest;
}

}  // namespace hnx
