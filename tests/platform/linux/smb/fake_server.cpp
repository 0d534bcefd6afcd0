#include "fake_server.h"

#include <cstdlib>
#include <fstream>

#include "platform/linux/smb/crypto.h"
#include "platform/linux/smb/file_information.h"
#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb::test {

class FakeTransport : public Transport {
 public:
  explicit FakeTransport(FakeServer& server) : server_(server) {}
  void send(std::span<const std::uint8_t> message, Deadline) override {
    if (server_.shutdown_) throw TransportError(TransportFailure::kLost, "shut down");
    ++server_.sends;
    server_.sending_ = server_.clock_ + 1;
    server_.receive(message);
  }
  std::vector<std::uint8_t> receive(Deadline) override {
    if (server_.shutdown_) throw TransportError(TransportFailure::kLost, "shut down");
    if (server_.outbox_.empty())
      throw TransportError(TransportFailure::kTimedOut, "no answer in time");
    auto [time, next] = std::move(server_.outbox_.front());
    server_.outbox_.pop_front();
    server_.clock_ = std::max(server_.clock_, time);
    return next;
  }
  void shutdown() override { server_.shutdown_ = true; }

 private:
  FakeServer& server_;
};

std::vector<std::uint8_t> FakeSecurityContext::step(std::span<const std::uint8_t> token, Deadline) {
  if (token.empty()) return Bytes{'h', 'e', 'l', 'l', 'o'};
  complete_ = mutual_;
  return {};
}

FakeServer::FakeServer(Options options) : options_(options) {}

std::unique_ptr<Transport> FakeServer::transport() {
  return std::make_unique<FakeTransport>(*this);
}

void FakeServer::receive(ByteView wire) {
  Bytes plain(wire.begin(), wire.end());
  const bool sealed = startsWithTransformHeader(wire);
  if (sealed) {
    const WireReader in(wire, "request");
    const TransformHeader header = decodeTransformHeader(in);
    const Aead mode = ccm() ? Aead::kCcm : Aead::kGcm;
    if (!aeadDecrypt(mode, keys_->encryptionKey(),
                     ByteView(header.nonce).first(mode == Aead::kCcm ? 11 : 12),
                     wire.subspan(kTransformAadOffset, kTransformHeaderSize - kTransformAadOffset),
                     wire.subspan(kTransformHeaderSize), header.signature, plain)) {
      throw std::runtime_error("the fake server could not decrypt a request");
    }
  }
  std::vector<std::pair<Header, Bytes>> replies;
  std::size_t offset = 0;
  for (;;) {
    const WireReader request(ByteView(plain).subspan(offset), "request");
    const Header header = decodeHeader(request);
    const std::size_t length = header.nextCommand ? header.nextCommand : request.size();
    const ByteView piece = ByteView(plain).subspan(offset, length);
    if (keys_ && !sealed && header.command != SMB2_SESSION_SETUP && !keys_->verify(piece)) {
      throw std::runtime_error("the fake server got a request that is not signed");
    }
    if (header.command == SMB2_NEGOTIATE) hash_ = sha512(hash_, piece);
    if (header.command == SMB2_SESSION_SETUP) hash_ = sha512(hash_, piece);
    commands.push_back(header.command);
    std::uint32_t status = STATUS_SUCCESS;
    std::uint32_t treeId = header.treeId;
    Bytes body = handle(header, WireReader(piece, "request"), status, treeId);
    Header out;
    out.status = status;
    out.command = header.command;
    out.credits = std::min(header.credits, options_.grantedCredits);
    out.flags = SMB2_FLAGS_SERVER_TO_REDIR | (header.flags & SMB2_FLAGS_RELATED_OPERATIONS);
    out.messageId = header.messageId;
    out.treeId = treeId;
    out.sessionId = header.command == SMB2_NEGOTIATE ? 0 : sessionId_;
    replies.emplace_back(out, std::move(body));
    if (header.nextCommand == 0) break;
    offset += length;
  }
  reply(std::move(replies), sealed);
}

Bytes FakeServer::seal(Bytes message) {
  const Aead mode = ccm() ? Aead::kCcm : Aead::kGcm;
  const std::size_t nonceSize = mode == Aead::kCcm ? 11 : 12;
  TransformHeader header;
  randomBytes(std::span<std::uint8_t>(header.nonce).first(nonceSize));
  header.originalMessageSize = static_cast<std::uint32_t>(message.size());
  header.flags = 1;
  header.sessionId = sessionId_;
  WireWriter out;
  encodeTransformHeader(out, header);
  Bytes wire = out.take();
  Mac tag{};
  const Bytes ciphertext =
      aeadEncrypt(mode, keys_->decryptionKey(), ByteView(header.nonce).first(nonceSize),
                  ByteView(wire).subspan(kTransformAadOffset), message, tag);
  std::copy(tag.begin(), tag.end(), wire.begin() + 4);
  wire.insert(wire.end(), ciphertext.begin(), ciphertext.end());
  return wire;
}

void FakeServer::reply(std::vector<std::pair<Header, Bytes>> replies, bool sealed) {
  std::vector<Bytes> wires;
  if (goAsync) {
    for (auto& [header, body] : replies) {
      if (header.command != *goAsync) continue;
      Header interim = header;
      interim.flags |= SMB2_FLAGS_ASYNC_COMMAND;
      interim.status = STATUS_PENDING;
      interim.asyncId = 9;
      WireWriter out;
      encodeHeader(out, interim);
      out.bytes(Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0});
      wires.push_back(sealed ? seal(out.take()) : out.take());
    }
  }
  WireWriter chain;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    const std::size_t start = chain.size();
    encodeHeader(chain, replies[i].first);
    chain.bytes(replies[i].second);
    if (i + 1 < replies.size()) {
      chain.align(8);
      chain.patchU32(start + 20, static_cast<std::uint32_t>(chain.size() - start));
    }
    spans.emplace_back(start, chain.size() - start);
  }
  Bytes message = chain.take();
  const std::uint16_t command = replies.front().first.command;
  if (alter) alter(command, message);
  // KESTRINE_SMB_FUZZ_SEEDS=<folder>: each plain reply, as the fuzzer's seed.
  if (const char* seeds = std::getenv("KESTRINE_SMB_FUZZ_SEEDS")) {
    std::ofstream seed(
        std::string(seeds) + "/" + commandName(command) + "-" +
            std::to_string(std::hash<std::string>{}(std::string(message.begin(), message.end()))),
        std::ios::binary);
    seed.put(0);
    seed.write(reinterpret_cast<const char*>(message.data()),
               static_cast<std::streamsize>(message.size()));
  }
  if (spans.size() == 1) spans.front().second = message.size();
  if (command == SMB2_SESSION_SETUP) {
    keys_->sign(message);  // the final reply, signed with the new keys
  } else if (keys_ && command != SMB2_NEGOTIATE && !sealed) {
    for (const auto& [start, length] : spans) {
      keys_->sign(std::span<std::uint8_t>(message).subspan(start, length));
    }
  }
  if (sealed && command != SMB2_SESSION_SETUP) message = seal(std::move(message));
  if (tamper) tamper(command, message);
  wires.push_back(std::move(message));
  if (silent) return;
  for (Bytes& wire : wires) outbox_.emplace_back(sending_, std::move(wire));
}

namespace {

Bytes queryInfoBody(const Bytes& data) {
  WireWriter out;
  out.u16(9);
  out.u16(static_cast<std::uint16_t>(kHeaderSize + 8));
  out.u32(static_cast<std::uint32_t>(data.size()));
  out.bytes(data);
  return out.take();
}

Bytes directoryEntries(const std::vector<std::pair<std::string, FakeServer::Object>>& entries) {
  Bytes all;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& [name, object] = entries[i];
    const Bytes utf16 = toUtf16(name);
    WireWriter out;
    out.u32(0);
    out.u32(0);
    out.zeros(48);
    out.u32(object.attributes);
    out.u32(static_cast<std::uint32_t>(utf16.size()));
    out.u32(object.reparseTag);
    out.zeros(28);
    out.u64(object.id);
    out.bytes(utf16);
    out.align(8);
    Bytes entry = out.take();
    if (i + 1 < entries.size()) patchU32(entry, 0, static_cast<std::uint32_t>(entry.size()));
    all.insert(all.end(), entry.begin(), entry.end());
  }
  return all;
}

}  // namespace

Bytes FakeServer::handle(const Header& header, const WireReader& request, std::uint32_t& status,
                         std::uint32_t& treeId) {
  auto handleOf = [&](std::size_t at) {
    std::uint64_t id = request.u64(at);
    if (id == 0xFFFFFFFFFFFFFFFF) id = 0;  // related: the last open
    return id;
  };
  auto pathOf = [&](std::uint64_t id) { return id == 0 ? lastOpen_ : handles_.at(id); };
  switch (header.command) {
    case SMB2_NEGOTIATE: {
      WireWriter out;
      out.u16(65);
      out.u16(SMB2_NEGOTIATE_SIGNING_ENABLED | SMB2_NEGOTIATE_SIGNING_REQUIRED);
      out.u16(options_.dialect);
      out.u16(options_.dialect == kDialect311 ? 3 : 0);
      out.zeros(16);  // ServerGuid
      out.u32(options_.cipher && options_.dialect != kDialect311 ? SMB2_GLOBAL_CAP_ENCRYPTION : 0);
      out.u32(65536);
      out.u32(65536);
      out.u32(65536);
      out.zeros(16);
      out.u16(0);
      out.u16(0);
      out.u32(options_.dialect == kDialect311 ? 128 : 0);
      if (options_.dialect == kDialect311) {
        out.u16(SMB2_PREAUTH_INTEGRITY_CAPABILITIES);
        out.u16(38);
        out.u32(0);
        out.u16(1);
        out.u16(32);
        out.u16(kHashSha512);
        out.zeros(32);
        out.align(8);
        out.u16(SMB2_ENCRYPTION_CAPABILITIES);
        out.u16(4);
        out.u32(0);
        out.u16(1);
        out.u16(options_.cipher);
        out.align(8);
        out.u16(SMB2_SIGNING_CAPABILITIES);
        out.u16(4);
        out.u32(0);
        out.u16(1);
        out.u16(options_.signing);
      }
      Bytes body = out.take();
      WireWriter whole;
      Header reply;
      reply.command = SMB2_NEGOTIATE;
      reply.flags = SMB2_FLAGS_SERVER_TO_REDIR;
      reply.messageId = header.messageId;
      reply.credits = std::min(header.credits, options_.grantedCredits);
      encodeHeader(whole, reply);
      whole.bytes(body);
      hash_ = sha512(hash_, whole.data());
      return body;
    }
    case SMB2_SESSION_SETUP: {
      const std::uint16_t cipher =
          options_.dialect == kDialect311
              ? options_.cipher
              : (isSmb3(options_.dialect) && options_.cipher ? AES_128_CCM : 0);
      keys_ = std::make_unique<MessageSecurity>(options_.dialect, options_.signing, cipher,
                                                Bytes(16, 0x5A), hash_);
      WireWriter out;
      out.u16(9);
      out.u16(options_.sessionFlags);
      out.u16(static_cast<std::uint16_t>(kHeaderSize + 8));
      out.u16(7);
      out.bytes(Bytes{'w', 'e', 'l', 'c', 'o', 'm', 'e'});
      return out.take();
    }
    case SMB2_TREE_CONNECT:
      treeId = 7;
      return Bytes{16, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x01, 0x1F, 0x00};
    case SMB2_IOCTL: {  // FSCTL_VALIDATE_NEGOTIATE_INFO
      WireWriter info;
      info.u32(options_.cipher ? SMB2_GLOBAL_CAP_ENCRYPTION : 0);
      info.zeros(16);
      info.u16(SMB2_NEGOTIATE_SIGNING_ENABLED | SMB2_NEGOTIATE_SIGNING_REQUIRED);
      info.u16(options_.dialect);
      WireWriter out;
      out.u16(49);
      out.u16(0);
      out.u32(FSCTL_VALIDATE_NEGOTIATE_INFO);
      out.zeros(16);
      out.u32(0);
      out.u32(0);
      out.u32(static_cast<std::uint32_t>(kHeaderSize + 48));
      out.u32(24);
      out.u32(0);
      out.u32(0);
      out.bytes(info.data());
      return out.take();
    }
    case SMB2_CREATE: {
      const std::string name =
          request.utf16(request.u16(kHeaderSize + 44), request.u16(kHeaderSize + 46));
      const std::uint32_t disposition = request.u32(kHeaderSize + 36);
      const bool exists = objects.count(name) != 0;
      if (dfsLinks.count(name)) {
        status = STATUS_PATH_NOT_COVERED;
        return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
      }
      if (disposition == FILE_CREATE && exists) {
        status = STATUS_OBJECT_NAME_COLLISION;
        return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
      }
      if (disposition == FILE_OPEN && !exists) {
        status = STATUS_OBJECT_NAME_NOT_FOUND;
        return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
      }
      if (!exists) {
        Object created;
        created.id = 1000 + objects.size();
        created.attributes = FILE_ATTRIBUTE_DIRECTORY;
        if (request.u32(kHeaderSize + 52) != 0) {  // the SecD context's data
          const std::size_t at = request.u32(kHeaderSize + 48);
          created.descriptor.assign(
              request.bytes(at + request.u16(at + 10), request.u32(at + 12)).begin(),
              request.bytes(at + request.u16(at + 10), request.u32(at + 12)).end());
        }
        objects[name] = created;
      }
      lastOpen_ = name;
      const std::uint64_t handle = nextHandle_++;
      handles_[handle] = name;
      WireWriter out;
      out.u16(89);
      out.zeros(2 + 4 + 48);
      out.u32(objects[name].attributes);
      out.u32(0);
      out.u64(handle);
      out.u64(handle);
      out.u32(0);
      out.u32(0);
      return out.take();
    }
    case SMB2_QUERY_INFO: {
      const Object& object = objects.at(pathOf(handleOf(kHeaderSize + 24)));
      const std::uint8_t type = request.u8(kHeaderSize + 2);
      const std::uint8_t infoClass = request.u8(kHeaderSize + 3);
      WireWriter data;
      if (type == SMB2_0_INFO_SECURITY) {
        data.bytes(object.descriptor);
      } else if (infoClass == FileInternalInformation) {
        data.u64(object.id);
      } else {
        data.u32(object.attributes);
        data.u32(object.reparseTag);
      }
      return queryInfoBody(data.take());
    }
    case SMB2_SET_INFO: {
      Object& object = objects.at(pathOf(handleOf(kHeaderSize + 16)));
      const ByteView buffer =
          request.bytes(request.u16(kHeaderSize + 8), request.u32(kHeaderSize + 4));
      object.descriptor.assign(buffer.begin(), buffer.end());
      return Bytes{2, 0};
    }
    case SMB2_QUERY_DIRECTORY: {
      const std::uint8_t infoClass = request.u8(kHeaderSize + 2);
      if (infoClass != FileIdBothDirectoryInformation && !options_.extdDirectoryInformation) {
        status = STATUS_INVALID_INFO_CLASS;
        return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
      }
      const std::uint64_t handle = handleOf(kHeaderSize + 8);
      const std::string folder = pathOf(handle);
      if (listed_[handle == 0 ? nextHandle_ - 1 : handle]++ > 0) {
        status = STATUS_NO_MORE_FILES;
        return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
      }
      const std::size_t up = folder.rfind('\\');
      std::vector<std::pair<std::string, Object>> entries = {
          {".", objects.at(folder)},
          {"..", folder.empty() ? Object{1, FILE_ATTRIBUTE_DIRECTORY, 0, {}}
                                : objects.at(up == std::string::npos ? "" : folder.substr(0, up))}};
      for (const auto& [path, object] : objects) {
        const std::string prefix = folder.empty() ? "" : folder + "\\";
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find('\\', prefix.size()) == std::string::npos) {
          entries.emplace_back(path.substr(prefix.size()), object);
        }
      }
      return queryInfoBody(directoryEntries(entries));
    }
    case SMB2_CLOSE: {
      WireWriter out;
      out.u16(60);
      out.zeros(58);
      return out.take();
    }
    default:
      status = STATUS_NOT_SUPPORTED;
      return Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0};
  }
}

}  // namespace kestrine::smb::test
