#include "tests/integration/sandbox.h"

#include <krb5.h>
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/directory.h"

namespace kestrine::testing {

namespace {

std::string requiredEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    throw std::runtime_error(std::string(name) +
                             " is not set: run the integration tests through "
                             "scripts/sandbox-domain exec");
  }
  return value;
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

Sandbox::Sandbox()
    : domainDn_(requiredEnvironment("KESTRINE_SANDBOX_DOMAIN_DN")),
      realm_(requiredEnvironment("KESTRINE_SANDBOX_REALM")),
      server_(requiredEnvironment("KESTRINE_SANDBOX_DC")),
      address_(requiredEnvironment("KESTRINE_SANDBOX_DC_IP")),
      shareDir_(requiredEnvironment("KESTRINE_SANDBOX_SHARE_DIR")),
      encryptedShare_(requiredEnvironment("KESTRINE_SANDBOX_SHARE_ENCRYPTED")),
      dfsShare_(requiredEnvironment("KESTRINE_SANDBOX_SHARE_DFS")),
      proxyShare_(requiredEnvironment("KESTRINE_SANDBOX_SHARE_PROXY")),
      smb21Server_(requiredEnvironment("KESTRINE_SANDBOX_SMB21")),
      smb311Server_(requiredEnvironment("KESTRINE_SANDBOX_SMB311")),
      relayServer_(requiredEnvironment("KESTRINE_SANDBOX_RELAY")),
      relayAddress_(requiredEnvironment("KESTRINE_SANDBOX_RELAY_IP")) {}

void Sandbox::removeFromShare(const std::string& prefix) {
  for (const auto& entry : std::filesystem::directory_iterator(shareDir_)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) {
      std::filesystem::remove_all(entry.path());
    }
  }
}

Entry Sandbox::read(const std::string& dn) {
  try {
    return session_.readEntry(dn);
  } catch (const DirectoryError& e) {
    if (e.code() == kNoSuchObject) return {};
    throw;
  }
}

std::vector<Entry> Sandbox::search(const std::string& filter) {
  return session_.search(domainDn_, filter, {"1.1"});
}

void Sandbox::removeTree(const std::string& dn) {
  if (read(dn).dn.empty()) return;
  const std::string command = "ldapdelete -Y GSSAPI -Q -r " + shellQuoted(dn);
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string sandboxDomain(const std::string& command) {
  const std::string line = "KESTRINE_SANDBOX_NAME=\"$KESTRINE_SANDBOX_NETNS\" " +
                           std::string(KESTRINE_SANDBOX_SCRIPT) + " " + command;
  std::string output;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run: " + line);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  if (pclose(pipe) != 0) throw std::runtime_error("failed: " + line);
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

ConfiguredServers::ConfiguredServers(const std::string& uris) {
  char* configured = nullptr;
  ldap_get_option(nullptr, LDAP_OPT_URI, &configured);
  saved_ = configured ? configured : "";
  ldap_memfree(configured);
  set(uris);
}

ConfiguredServers::~ConfiguredServers() {
  set(saved_);
}

void ConfiguredServers::set(const std::string& uris) {
  if (ldap_set_option(nullptr, LDAP_OPT_URI, uris.c_str()) != LDAP_OPT_SUCCESS) {
    throw std::runtime_error("libldap refuses the servers " + uris);
  }
}

bool Sandbox::passwordWorks(const std::string& account, const std::string& password) {
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) throw std::runtime_error("no Kerberos context");
  krb5_principal principal = nullptr;
  bool accepted = false;
  const std::string name = account + "@" + realm_;
  if (krb5_parse_name(context, name.c_str(), &principal) == 0) {
    krb5_creds creds{};
    krb5_get_init_creds_opt* options = nullptr;
    krb5_get_init_creds_opt_alloc(context, &options);
    accepted = krb5_get_init_creds_password(context, &creds, principal, password.c_str(), nullptr,
                                            nullptr, 0, nullptr, options) == 0;
    if (accepted) krb5_free_cred_contents(context, &creds);
    krb5_get_init_creds_opt_free(context, options);
    krb5_free_principal(context, principal);
  }
  krb5_free_context(context);
  return accepted;
}

std::string first(const Entry& entry, const std::string& attribute) {
  const auto found = entry.attributes.find(attributeKey(attribute));
  return found == entry.attributes.end() || found->second.empty() ? "" : found->second.front();
}

}  // namespace kestrine::testing
