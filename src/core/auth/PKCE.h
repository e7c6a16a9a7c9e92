#pragma once

#include <QString>

// Proof Key for Code Exchange (RFC 7636) helpers for the browser sign-in.
namespace PKCE {

// The 66 unreserved characters that verifiers and states are drawn from.
inline constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
inline constexpr int alphabetSize = sizeof(alphabet) - 1;

// length characters, each drawn uniformly from the alphabet with the
// system's secure random source.
QString randomString(int length);

// The S256 challenge: SHA-256 of the verifier's UTF-8 bytes, Base64url
// without padding.
QString challenge(const QString &verifier);

} // namespace PKCE
