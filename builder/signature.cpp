#include "builder/signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace setrunc {

namespace {

uint16_t U16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }

struct File {
  FILE* f;
  explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f) std::fclose(f);
  }
  bool ReadAt(uint64_t at, void* out, size_t n) {
    return f && fseeko(f, (off_t)at, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
  }
};

// Where the PE header keeps what signing changes.
struct PeLayout {
  uint32_t checksumAt = 0;   // the optional header's CheckSum field
  uint32_t directoryAt = 0;  // the security directory entry (offset, size)
};

// The layout of a PE file, or false when it is none (or has no security
// directory slot).
bool FindPeLayout(File& file, uint64_t fileLength, PeLayout* out) {
  unsigned char dos[64];
  if (fileLength < sizeof dos || !file.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  const uint32_t pe = U32(dos + 0x3C);
  unsigned char head[24 + 112];
  if ((uint64_t)pe + sizeof head > fileLength || !file.ReadAt(pe, head, sizeof head)) return false;
  if (std::memcmp(head, "PE\0\0", 4) != 0) return false;
  const uint32_t optional = pe + 24;
  const uint16_t magic = U16(head + 24);
  uint32_t countAt, directories;
  if (magic == 0x10B) countAt = 92, directories = 96;
  else if (magic == 0x20B) countAt = 108, directories = 112;
  else return false;
  if (U16(head + 20) < directories + 5 * 8) return false;  // SizeOfOptionalHeader
  if (U32(head + 24 + countAt) < 5) return false;          // NumberOfRvaAndSizes
  out->checksumAt = optional + 64;
  out->directoryAt = optional + directories + 4 * 8;
  return true;
}

std::string OneLine(X509_NAME* name) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!name || !bio) return "";
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* text = nullptr;
  long n = BIO_get_mem_data(bio.get(), &text);
  return n > 0 ? std::string(text, (size_t)n) : "";
}

// A DER element: tag, and the bytes of its contents.
struct Der {
  int tag = -1;
  const unsigned char* body = nullptr;
  size_t length = 0;
  size_t total = 0;  // header and contents
};

// The element at the start of [p, p + n), or tag -1.
Der ReadDer(const unsigned char* p, size_t n) {
  Der d;
  if (n < 2) return d;
  size_t at = 2, length = p[1];
  if (length & 0x80) {
    size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || n < 2 + bytes) return d;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = (length << 8) | p[2 + i];
    at += bytes;
  }
  if (length > n - at) return d;
  d.tag = p[0];
  d.body = p + at;
  d.length = length;
  d.total = at + length;
  return d;
}

// The digest algorithm and value that SpcIndirectDataContent (the signed
// content of an Authenticode signature) holds:
//   SEQUENCE { SEQUENCE { type, value }, SEQUENCE { SEQUENCE { OID, params }, OCTET STRING } }
bool SignedDigest(const unsigned char* p, size_t n, const EVP_MD** md, std::vector<unsigned char>* digest) {
  Der content = ReadDer(p, n);
  if (content.tag != 0x30) return false;
  Der data = ReadDer(content.body, content.length);
  if (data.tag != 0x30) return false;
  Der info = ReadDer(content.body + data.total, content.length - data.total);
  if (info.tag != 0x30) return false;
  Der algorithm = ReadDer(info.body, info.length);
  if (algorithm.tag != 0x30) return false;
  Der oid = ReadDer(algorithm.body, algorithm.length);
  if (oid.tag != 0x06) return false;
  const unsigned char* o = algorithm.body;
  std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(d2i_ASN1_OBJECT(nullptr, &o, (long)oid.total),
                                                                   ASN1_OBJECT_free);
  if (!object) return false;
  *md = EVP_get_digestbyobj(object.get());
  Der value = ReadDer(info.body + algorithm.total, info.length - algorithm.total);
  if (!*md || value.tag != 0x04) return false;
  digest->assign(value.body, value.body + value.length);
  return true;
}

using Pkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

// The parsed table; signer, issuer and digest name filled in.
Pkcs7 ParseTable(File& file, SignatureInfo& s, std::vector<unsigned char>& table) {
  Pkcs7 none(nullptr, PKCS7_free);
  table.resize(s.size);
  if (!file.ReadAt(s.offset, table.data(), table.size())) {
    s.problem = "the certificate table cannot be read";
    return none;
  }
  const uint32_t length = U32(table.data());
  s.revision = U16(table.data() + 4);
  s.type = U16(table.data() + 6);
  if (length < 8 || length > s.size) {
    s.problem = "the certificate states " + std::to_string(length) + " bytes in a table of " + std::to_string(s.size);
    return none;
  }
  if (s.type != 2) {
    s.problem = "the certificate is of type " + std::to_string(s.type) + ", not a PKCS #7 signature";
    return none;
  }
  const unsigned char* p = table.data() + 8;
  Pkcs7 p7(d2i_PKCS7(nullptr, &p, (long)(length - 8)), PKCS7_free);
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign) {
    s.problem = "the certificate is not a readable PKCS #7 signature";
    return none;
  }
  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
  if (!infos || sk_PKCS7_SIGNER_INFO_num(infos) < 1) {
    s.problem = "the signature names no signer";
    return none;
  }
  PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, 0);
  X509* cert = nullptr;
  if (info && info->issuer_and_serial && p7->d.sign->cert)
    cert = X509_find_by_issuer_and_serial(p7->d.sign->cert, info->issuer_and_serial->issuer,
                                          info->issuer_and_serial->serial);
  if (cert) {
    s.signer = OneLine(X509_get_subject_name(cert));
    s.issuer = OneLine(X509_get_issuer_name(cert));
  } else if (info && info->issuer_and_serial) {
    s.issuer = OneLine(info->issuer_and_serial->issuer);
  }
  return p7;
}

}  // namespace

SignatureInfo ReadSignature(const std::string& path, uint64_t fileLength) {
  SignatureInfo s;
  File file(path);
  PeLayout pe;
  if (!FindPeLayout(file, fileLength, &pe)) return s;
  unsigned char entry[8];
  if (!file.ReadAt(pe.directoryAt, entry, sizeof entry)) return s;
  s.offset = U32(entry);
  s.size = U32(entry + 4);
  if (s.offset == 0 && s.size == 0) return s;
  s.present = true;
  if (s.size < 8 || s.offset < pe.directoryAt + 8 || (uint64_t)s.offset + s.size > fileLength) {
    s.problem = "the security directory names " + std::to_string(s.size) + " bytes at offset " +
                std::to_string(s.offset) + ", outside the file's " + std::to_string(fileLength) + " bytes";
    return s;
  }
  std::vector<unsigned char> table;
  Pkcs7 p7 = ParseTable(file, s, table);
  if (p7) {
    const EVP_MD* md = nullptr;
    std::vector<unsigned char> digest;
    PKCS7* content = p7->d.sign->contents;
    if (content && content->d.other && content->d.other->type == V_ASN1_SEQUENCE &&
        SignedDigest(content->d.other->value.sequence->data, (size_t)content->d.other->value.sequence->length,
                     &md, &digest))
      s.digest = OBJ_nid2sn(EVP_MD_get_type(md));
  }
  return s;
}

SignatureInfo CheckSignature(const std::string& path, uint64_t fileLength) {
  SignatureInfo s = ReadSignature(path, fileLength);
  if (!s.present || !s.problem.empty()) return s;
  File file(path);
  PeLayout pe;
  FindPeLayout(file, fileLength, &pe);
  std::vector<unsigned char> table;
  Pkcs7 p7 = ParseTable(file, s, table);
  if (!p7) return s;
  PKCS7* content = p7->d.sign->contents;
  const EVP_MD* md = nullptr;
  std::vector<unsigned char> signedDigest;
  if (!content || !content->d.other || content->d.other->type != V_ASN1_SEQUENCE ||
      !SignedDigest(content->d.other->value.sequence->data, (size_t)content->d.other->value.sequence->length, &md,
                    &signedDigest)) {
    s.problem = "the signed content holds no file digest";
    return s;
  }
  // The file's digest: every byte before the table, except the checksum and
  // the security directory entry, which signing changes.
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || !EVP_DigestInit_ex(ctx.get(), md, nullptr)) {
    s.problem = "the digest cannot be computed";
    return s;
  }
  const std::pair<uint64_t, uint64_t> skipped[] = {{pe.checksumAt, 4}, {pe.directoryAt, 8}};
  std::vector<unsigned char> buffer(1 << 16);
  uint64_t at = 0;
  for (int part = 0; part <= 2; ++part) {
    const uint64_t end = part < 2 ? skipped[part].first : s.offset;
    while (at < end) {
      size_t n = (size_t)std::min<uint64_t>(buffer.size(), end - at);
      if (!file.ReadAt(at, buffer.data(), n)) {
        s.problem = "the file cannot be read";
        return s;
      }
      EVP_DigestUpdate(ctx.get(), buffer.data(), n);
      at += n;
    }
    if (part < 2) at += skipped[part].second;
  }
  unsigned char computed[EVP_MAX_MD_SIZE];
  unsigned int computedLength = 0;
  EVP_DigestFinal_ex(ctx.get(), computed, &computedLength);
  if (computedLength != signedDigest.size() || std::memcmp(computed, signedDigest.data(), computedLength) != 0) {
    s.problem = "the file was changed after it was signed (its " + s.digest + " digest is not the one signed)";
    return s;
  }
  // The signature over the signed content: its value without the outer
  // SEQUENCE header, as Authenticode signs it. The certificate chain is not
  // judged here: which roots to trust is the verifier's (Windows') choice.
  const unsigned char* sequence = content->d.other->value.sequence->data;
  Der whole = ReadDer(sequence, (size_t)content->d.other->value.sequence->length);
  std::unique_ptr<BIO, decltype(&BIO_free)> signedContent(BIO_new_mem_buf(whole.body, (int)whole.length), BIO_free);
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  if (!signedContent || !store ||
      PKCS7_verify(p7.get(), nullptr, store.get(), signedContent.get(), nullptr, PKCS7_NOVERIFY) != 1) {
    s.problem = "the signature does not hold for the signed digest";
    return s;
  }
  s.digestMatches = true;
  return s;
}

std::string DescribeSignature(const SignatureInfo& s) {
  if (!s.present) return "not signed";
  std::string out = "Authenticode signature, " + std::to_string(s.size) + " bytes at offset " + std::to_string(s.offset);
  if (!s.signer.empty()) out += ", signed by " + s.signer;
  if (!s.issuer.empty() && s.issuer != s.signer) out += ", issued by " + s.issuer;
  if (!s.digest.empty()) out += ", digest " + s.digest;
  return out;
}

}  // namespace setrunc
