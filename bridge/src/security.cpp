#include "security.h"

#include <dlfcn.h>
#include <fnmatch.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "options.h"
#include "ros_names.h"

namespace torvane_bridge {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
void FreeBio(BIO* b) {
  BIO_free(b);
}
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;

// The files of an enclave, as SROS2 names them.
const char kCert[] = "cert.pem";
const char kKey[] = "key.pem";
const char kIdentityCa[] = "identity_ca.cert.pem";
const char kPermissionsCa[] = "permissions_ca.cert.pem";
const char kGovernance[] = "governance.p7s";
const char kPermissions[] = "permissions.p7s";

std::string OpenSslReason() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "not understood";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

// Readable as a file, or why not ("no such file", "permission denied").
bool Readable(const std::string& path, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(f);
  return true;
}

X509Ptr ReadCert(const std::string& path, std::string& error) {
  BioPtr in(BIO_new_file(path.c_str(), "r"));
  X509Ptr cert(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert) error = path + ": not a PEM certificate (" + OpenSslReason() + ")";
  return cert;
}

// A certificate whose own dates hold now.
bool InDate(const X509* cert, const std::string& path, std::string& error) {
  if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
    error = path + ": certificate not yet valid";
    return false;
  }
  if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
    error = path + ": certificate has expired";
    return false;
  }
  return true;
}

StorePtr StoreOf(X509* ca) {
  StorePtr store(X509_STORE_new());
  if (store) X509_STORE_add_cert(store.get(), ca);
  return store;
}

// The certificate chains to `ca` and is valid now.
bool IssuedBy(X509* cert, X509* ca, const std::string& path, const std::string& ca_path,
              std::string& error) {
  StorePtr store = StoreOf(ca);
  StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!store || !ctx || X509_STORE_CTX_init(ctx.get(), store.get(), cert, nullptr) != 1) {
    error = path + ": cannot check (" + OpenSslReason() + ")";
    return false;
  }
  if (X509_verify_cert(ctx.get()) != 1) {
    const int e = X509_STORE_CTX_get_error(ctx.get());
    error = path + ": " + X509_verify_cert_error_string(e);
    if (e == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
        e == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT || e == X509_V_ERR_CERT_SIGNATURE_FAILURE) {
      error = path + ": not issued by the identity CA (" + ca_path + ")";
    }
    return false;
  }
  return true;
}

// An S/MIME document signed by `ca` (SROS2 signs clear text, detached); its content in `text`.
bool SignedBy(const std::string& path, X509* ca, const std::string& ca_path, std::string& text,
              std::string& error) {
  BioPtr in(BIO_new_file(path.c_str(), "r"));
  BIO* content = nullptr;
  Pkcs7Ptr p7(in ? SMIME_read_PKCS7(in.get(), &content) : nullptr);
  BioPtr content_owner(content);
  if (!p7) {
    error = path + ": not an S/MIME signed document (" + OpenSslReason() + ")";
    return false;
  }
  StorePtr store = StoreOf(ca);
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!store || !out ||
      PKCS7_verify(p7.get(), nullptr, store.get(), content, out.get(), PKCS7_TEXT) != 1) {
    ERR_clear_error();
    error = path + ": not signed by the permissions CA (" + ca_path + ")";
    return false;
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(out.get(), &data);
  text.assign(data, n > 0 ? static_cast<size_t>(n) : 0);
  return true;
}

// The text between <tag> and </tag> in [from, to) of `xml`, trimmed; `at` moves past it.
bool Element(const std::string& xml, const std::string& tag, size_t& at, size_t to,
             std::string& value) {
  const std::string open = "<" + tag + ">", close = "</" + tag + ">";
  const size_t a = xml.find(open, at);
  if (a == std::string::npos || a >= to) return false;
  const size_t b = xml.find(close, a);
  if (b == std::string::npos || b > to) return false;
  value = xml.substr(a + open.size(), b - a - open.size());
  const size_t first = value.find_first_not_of(" \t\r\n");
  const size_t last = value.find_last_not_of(" \t\r\n");
  value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
  at = b + close.size();
  return true;
}

std::vector<std::string> Elements(const std::string& xml, const std::string& tag) {
  std::vector<std::string> out;
  size_t at = 0;
  std::string v;
  while (Element(xml, tag, at, xml.size(), v)) out.push_back(v);
  return out;
}

std::string First(const std::string& xml, const std::string& tag) {
  size_t at = 0;
  std::string v;
  return Element(xml, tag, at, xml.size(), v) ? v : std::string();
}

bool CoversDomain(const std::string& domains, uint32_t domain) {
  for (const std::string& id : Elements(domains, "id")) {
    if (std::strtoul(id.c_str(), nullptr, 10) == domain && !id.empty()) return true;
  }
  for (const std::string& range : Elements(domains, "id_range")) {
    const std::string lo = First(range, "min"), hi = First(range, "max");
    if (std::strtoul(lo.c_str(), nullptr, 10) <= domain &&
        (hi.empty() || domain <= std::strtoul(hi.c_str(), nullptr, 10))) {
      return true;
    }
  }
  return false;
}

// Strict: no unauthenticated participant, joining controlled, every topic of the bridge
// encrypted with reads and writes under access control.
bool StrictGovernance(const std::string& xml, uint32_t domain,
                      const std::vector<std::string>& topics, std::string& error) {
  const std::string where = std::string(kGovernance) + ": ";
  for (const std::string& rule : Elements(xml, "domain_rule")) {
    if (!CoversDomain(First(rule, "domains"), domain)) continue;
    if (First(rule, "allow_unauthenticated_participants") != "false") {
      error = where + "allows unauthenticated participants (strict refuses them)";
      return false;
    }
    if (First(rule, "enable_join_access_control") != "true") {
      error = where + "does not control who joins the domain (strict requires it)";
      return false;
    }
    const std::vector<std::string> topic_rules = Elements(rule, "topic_rule");
    for (const std::string& topic : topics) {
      const std::string* match = nullptr;
      for (const std::string& tr : topic_rules) {
        if (fnmatch(First(tr, "topic_expression").c_str(), topic.c_str(), 0) == 0) {
          match = &tr;
          break;
        }
      }
      if (match == nullptr || First(*match, "enable_read_access_control") != "true" ||
          First(*match, "enable_write_access_control") != "true" ||
          First(*match, "data_protection_kind") != "ENCRYPT") {
        error = where + topic + " is not encrypted with read and write access control";
        return false;
      }
    }
    return true;
  }
  error = where + "no rule for DDS domain " + std::to_string(domain);
  return false;
}

std::string Dir(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::string DefaultEnclave(const std::string& ros_namespace) {
  return ros_namespace.empty() ? "/torvane/bridge" : "/torvane/" + ros_namespace + "/bridge";
}

bool ValidEnclave(const std::string& enclave) {
  if (enclave.size() < 2 || enclave[0] != '/' || enclave.back() == '/') return false;
  char prev = 0;
  for (char c : enclave) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!word && c != '/') return false;
    if (c == '/' && prev == '/') return false;
    prev = c;
  }
  return true;
}

bool ResolveSecurity(const Options& options, const EnvLookup& env, SecurityConfig& out,
                     std::string& error) {
  out = SecurityConfig{};
  const auto value = [&env](const char* name) {
    const char* v = env ? env(name) : nullptr;
    return std::string(v != nullptr ? v : "");
  };
  // ROS 2 turns security on only for exactly "true".
  const bool env_on = value("ROS_SECURITY_ENABLE") == "true";
  if (!options.security_keystore.empty()) {
    out.keystore = options.security_keystore;
  } else if (env_on) {
    out.keystore = value("ROS_SECURITY_KEYSTORE");
    if (out.keystore.empty()) {
      error = "security: ROS_SECURITY_ENABLE=true but ROS_SECURITY_KEYSTORE is not set";
      return false;
    }
  } else if (options.security_strict) {
    error = "security: --security-strict needs --security DIR or ROS_SECURITY_ENABLE=true";
    return false;
  } else {
    return true;  // off, as in ROS 2
  }
  out.enabled = true;
  const std::string strategy = value("ROS_SECURITY_STRATEGY");
  if (strategy == "Permissive") {
    out.note = "ROS_SECURITY_STRATEGY=Permissive: the bridge enforces all the same";
  } else if (!strategy.empty() && strategy != "Enforce") {
    error = "security: ROS_SECURITY_STRATEGY must be Enforce or Permissive, not: " + strategy;
    return false;
  }
  out.enclave = !options.security_enclave.empty() ? options.security_enclave
                : !value("ROS_SECURITY_ENCLAVE_OVERRIDE").empty()
                    ? value("ROS_SECURITY_ENCLAVE_OVERRIDE")
                    : DefaultEnclave(options.ros_namespace);
  if (!ValidEnclave(out.enclave)) {
    error = "security: not an enclave path (/name/name, letters, digits and _): " + out.enclave;
    return false;
  }
  while (out.keystore.size() > 1 && out.keystore.back() == '/') out.keystore.pop_back();
  if (out.keystore[0] != '/') {  // the plugins take file: URIs, which want a full path
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) out.keystore = std::string(cwd) + "/" + out.keystore;
  }
  out.enclave_dir = out.keystore + "/enclaves" + out.enclave;
  return true;
}

bool CheckKeystore(const SecurityConfig& config, uint32_t domain,
                   const std::vector<std::string>& topics, std::string& error) {
  const std::string dir = config.enclave_dir + "/";
  for (const char* name : {kIdentityCa, kPermissionsCa, kCert, kKey, kGovernance, kPermissions}) {
    if (!Readable(dir + name, error)) return false;
  }
  const std::string identity_ca_path = dir + kIdentityCa,
                    permissions_ca_path = dir + kPermissionsCa;
  X509Ptr identity_ca = ReadCert(identity_ca_path, error);
  if (!identity_ca || !InDate(identity_ca.get(), identity_ca_path, error)) return false;
  X509Ptr permissions_ca = ReadCert(permissions_ca_path, error);
  if (!permissions_ca || !InDate(permissions_ca.get(), permissions_ca_path, error)) return false;

  const std::string cert_path = dir + kCert;
  X509Ptr cert = ReadCert(cert_path, error);
  if (!cert || !InDate(cert.get(), cert_path, error) ||
      !IssuedBy(cert.get(), identity_ca.get(), cert_path, identity_ca_path, error)) {
    return false;
  }
  const std::string key_path = dir + kKey;
  BioPtr key_in(BIO_new_file(key_path.c_str(), "r"));
  KeyPtr key(key_in ? PEM_read_bio_PrivateKey(key_in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    error = key_path + ": not an unencrypted PEM private key (" + OpenSslReason() + ")";
    return false;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    ERR_clear_error();
    error = key_path + ": not the key of " + cert_path;
    return false;
  }
  std::string governance, permissions;
  if (!SignedBy(dir + kGovernance, permissions_ca.get(), permissions_ca_path, governance, error) ||
      !SignedBy(dir + kPermissions, permissions_ca.get(), permissions_ca_path, permissions,
                error)) {
    return false;
  }
  if (!StrictGovernance(governance, domain, topics, error)) {
    error = dir + error;
    return false;
  }
  return true;
}

bool FindSecurityPlugins(std::string& auth, std::string& access, std::string& crypto,
                         std::string& error) {
  // Beside the libddsc this process runs with: Debian keeps the plugins in a folder of their own
  // under the multiarch library directory; other builds put them next to libddsc.
  Dl_info info{};
  std::string lib_dir;
  if (dladdr(reinterpret_cast<void*>(&dds_create_participant), &info) != 0 &&
      info.dli_fname != nullptr) {
    lib_dir = Dir(info.dli_fname);
  }
  std::string* const outs[] = {&auth, &access, &crypto};
  const char* const names[] = {"dds_security_auth", "dds_security_ac", "dds_security_crypto"};
  for (int i = 0; i < 3; ++i) {
    const std::string file = std::string("lib") + names[i] + ".so";
    const std::string candidates[] = {lib_dir + "/libddsc0debian/" + file, lib_dir + "/" + file};
    outs[i]->clear();
    for (const std::string& c : candidates) {
      if (!lib_dir.empty() && Exists(c)) {
        *outs[i] = c;
        break;
      }
    }
    if (outs[i]->empty()) {
      error = "security: Cyclone DDS security plugin " + file + " not found beside " +
              (lib_dir.empty() ? std::string("libddsc") : lib_dir);
      return false;
    }
  }
  return true;
}

void SetSecurityProperties(const SecurityConfig& config, const std::string& auth,
                           const std::string& access, const std::string& crypto, dds_qos_t* qos) {
  const std::string file = "file:" + config.enclave_dir + "/";
  dds_qset_prop(qos, "dds.sec.auth.library.path", auth.c_str());
  dds_qset_prop(qos, "dds.sec.auth.library.init", "init_authentication");
  dds_qset_prop(qos, "dds.sec.auth.library.finalize", "finalize_authentication");
  dds_qset_prop(qos, "dds.sec.crypto.library.path", crypto.c_str());
  dds_qset_prop(qos, "dds.sec.crypto.library.init", "init_crypto");
  dds_qset_prop(qos, "dds.sec.crypto.library.finalize", "finalize_crypto");
  dds_qset_prop(qos, "dds.sec.access.library.path", access.c_str());
  dds_qset_prop(qos, "dds.sec.access.library.init", "init_access_control");
  dds_qset_prop(qos, "dds.sec.access.library.finalize", "finalize_access_control");
  dds_qset_prop(qos, "dds.sec.auth.identity_ca", (file + kIdentityCa).c_str());
  dds_qset_prop(qos, "dds.sec.auth.identity_certificate", (file + kCert).c_str());
  dds_qset_prop(qos, "dds.sec.auth.private_key", (file + kKey).c_str());
  dds_qset_prop(qos, "dds.sec.access.permissions_ca", (file + kPermissionsCa).c_str());
  dds_qset_prop(qos, "dds.sec.access.governance", (file + kGovernance).c_str());
  dds_qset_prop(qos, "dds.sec.access.permissions", (file + kPermissions).c_str());
}

bool PrepareSecurity(const Options& options, const EnvLookup& env, dds_qos_t*& participant_qos,
                     SecurityConfig& config, std::string& error) {
  participant_qos = nullptr;
  if (!ResolveSecurity(options, env, config, error)) return false;
  if (!config.enabled) return true;
  std::vector<std::string> topics;
  for (const char* t : {"joint_states", "imu", "odom", "cmd_vel", "joint_commands"}) {
    topics.push_back(TopicName(options.ros_namespace, t));
  }
  std::string auth, access, crypto;
  if (!CheckKeystore(config, options.domain, topics, error)) {
    error = "security: " + error;
    return false;
  }
  if (!FindSecurityPlugins(auth, access, crypto, error)) return false;
  participant_qos = dds_create_qos();
  SetSecurityProperties(config, auth, access, crypto, participant_qos);
  return true;
}

bool NodeSecurityQos(const std::string& ros_namespace, const EnvLookup& env, dds_qos_t*& qos,
                     std::string& enclave, std::string& error) {
  qos = nullptr;
  Options options;
  options.ros_namespace = ros_namespace;
  SecurityConfig config;
  if (!ResolveSecurity(options, env, config, error)) return false;
  enclave = config.enclave;
  if (!config.enabled) return true;
  std::string auth, access, crypto;
  if (!FindSecurityPlugins(auth, access, crypto, error)) return false;
  qos = dds_create_qos();
  SetSecurityProperties(config, auth, access, crypto, qos);
  return true;
}

DdsLogCapture::DdsLogCapture() {
  dds_set_log_sink(&DdsLogCapture::Sink, this);
}

DdsLogCapture::~DdsLogCapture() {
  dds_set_log_sink(nullptr, nullptr);  // the default sink again
}

void DdsLogCapture::Sink(void* self, const dds_log_data_t* data) {
  auto* capture = static_cast<DdsLogCapture*>(self);
  if (!capture->first_.empty() || data->message == nullptr) return;
  std::string text(data->message, data->size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  capture->first_ = text;
}

}  // namespace torvane_bridge
