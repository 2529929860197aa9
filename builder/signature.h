// The Authenticode signature of a signed installer: the certificate table
// that a signing tool appends behind everything else and names in the
// security directory of the PE header. setrunc inspect and verify report it;
// setrunc verify also checks that it lies behind the package data and that
// the digest it signs is the file's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setrunc {

struct SignatureInfo {
  bool present = false;     // the security directory names a certificate table
  uint32_t offset = 0;      // file offset of the certificate table
  uint32_t size = 0;        // its bytes, as the directory states
  uint16_t revision = 0;    // of the first certificate (0x0200 for version 2)
  uint16_t type = 0;        // 2: a PKCS #7 signature
  std::string signer;       // subject of the signing certificate, one line; "" when unknown
  std::string issuer;       // its issuer
  std::string digest;       // the digest algorithm, such as "sha256"
  // Whether the file's digest (everything but the checksum, the directory
  // entry and the table) is the one signed, and the signature over it holds.
  // Checked only by CheckSignature.
  bool digestMatches = false;
  std::string problem;      // why the table cannot be read or does not hold; "" when it does
};

// Reads the certificate table of a PE file of `fileLength` bytes. A file
// that is not a PE program, or one without a table, reports present = false.
// A table that lies outside the file or cannot be parsed is present with a
// problem. Work and memory are bounded by the table's bytes in the file.
SignatureInfo ReadSignature(const std::string& path, uint64_t fileLength);

// ReadSignature, and when the table parses, the digest check (reads the
// whole file once).
SignatureInfo CheckSignature(const std::string& path, uint64_t fileLength);

// "Authenticode (PKCS #7) signature, 1,234 bytes at offset 5678, signed by
// CN=..." for reports.
std::string DescribeSignature(const SignatureInfo& s);

}  // namespace setrunc
