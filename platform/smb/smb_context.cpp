#include "platform/smb/smb_context.h"

#include <libsmbclient.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>

namespace kestrine {

namespace {

constexpr std::size_t kDescriptorBufferSize = 16 * 1024;
// Kerberos decides who we are; nothing is asked or filled in.
void noCredentials(SMBCCTX*, const char*, const char*, char*, int, char*, int, char*, int) {}

bool resolves(const std::string& host) {
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, nullptr, &found) != 0) return false;
  freeaddrinfo(found);
  return true;
}

[[noreturn]] void fail(const std::string& doing, const UncPath& path) {
  const int error = errno != 0 ? errno : EIO;
  std::string reason = std::strerror(error);
  // libsmbclient says "invalid argument" for a server it cannot find.
  if (error == EINVAL && !resolves(path.server)) reason = "no server of that name was found";
  throw FileError(error, doing + " " + path.text() + ": " + reason);
}

}  // namespace

void SmbContext::Free::operator()(SMBCCTX* context) const {
  smbc_free_context(context, 1);
}

SmbContext::SmbContext() = default;
SmbContext::~SmbContext() = default;

SMBCCTX* SmbContext::context() {
  created_.clear();
  if (context_) return context_.get();
  if (setupFailure_) throw *setupFailure_;
  std::unique_ptr<SMBCCTX, Free> context(smbc_new_context());
  if (context) {
    smbc_setOptionUseKerberos(context.get(), 1);
    smbc_setOptionFallbackAfterKerberos(context.get(), 0);
    smbc_setOptionNoAutoAnonymousLogin(context.get(), 1);
    smbc_setFunctionAuthDataWithContext(context.get(), noCredentials);
  }
  if (!context || !smbc_init_context(context.get())) {
    const int error = errno != 0 ? errno : ENOMEM;
    // smbc_init_context frees nothing on failure; the context is still ours.
    setupFailure_.emplace(error, std::string("set up the SMB client: ") + std::strerror(error));
    throw *setupFailure_;
  }
  context_ = std::move(context);
  return context_.get();
}

struct stat SmbContext::stat(const UncPath& path) {
  SMBCCTX* smb = context();
  struct stat info {};
  errno = 0;
  if (smbc_getFunctionStat(smb)(smb, path.url().c_str(), &info) != 0) fail("look up", path);
  return info;
}

void SmbContext::mkdir(const UncPath& path) {
  SMBCCTX* smb = context();
  errno = 0;
  if (smbc_getFunctionMkdir(smb)(smb, path.url().c_str(), 0777) != 0) fail("create", path);
  created_ = path.url();
}

std::vector<SmbContext::Entry> SmbContext::list(const UncPath& path) {
  SMBCCTX* smb = context();
  errno = 0;
  SMBCFILE* folder = smbc_getFunctionOpendir(smb)(smb, path.url().c_str());
  if (!folder) fail("list", path);
  std::vector<Entry> entries;
  while (const smbc_dirent* entry = smbc_getFunctionReaddir(smb)(smb, folder)) {
    const std::string name(entry->name);
    if (name == "." || name == "..") continue;
    if (entry->smbc_type == SMBC_DIR || entry->smbc_type == SMBC_FILE) {
      entries.push_back({name, entry->smbc_type == SMBC_DIR});
    }
  }
  smbc_getFunctionClosedir(smb)(smb, folder);
  return entries;
}

std::string SmbContext::securityDescriptor(const UncPath& path) {
  SMBCCTX* smb = context();
  std::string buffer(kDescriptorBufferSize, '\0');
  errno = 0;
  if (smbc_getFunctionGetxattr(smb)(smb, path.url().c_str(), "system.nt_sec_desc.*", buffer.data(),
                                    buffer.size()) < 0) {
    fail("read the access list of", path);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void SmbContext::setSecurityDescriptor(const UncPath& path, const std::string& descriptor) {
  SMBCCTX* smb = context();
  errno = 0;
  if (smbc_getFunctionSetxattr(smb)(smb, path.url().c_str(), "system.nt_sec_desc.*",
                                    descriptor.data(), descriptor.size(), 0) != 0) {
    fail("set the access list of", path);
  }
}

}  // namespace kestrine
