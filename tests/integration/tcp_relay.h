#pragma once

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/tcp_connect.h"

namespace kestrine::testing {

// What a relay in SMB mode does to replies on command: the server's messages
// as direct TCP frames ([MS-SMB2] 2.1) holding an SMB2 header (2.2.1) or a
// transform header (2.2.41). Offsets count from the start of the message,
// after the frame's 4 bytes.
struct ReplyTamper {
  enum class Action {
    kFlipSignature,  // one bit of the Signature (at 48; a transform header's at 4)
    kTruncate,       // the message cut to `offset` bytes, the frame shortened to match
    kPlainError,     // an encrypted reply replaced by a plain error response (2.2.2)
    kPatch,          // `width` bytes at `offset` set to `value`, little-endian
    kDrop,           // the reply never reaches the client
    kDelay,          // the reply, and those after it, held back for `delay`
  };
  Action action = Action::kFlipSignature;
  // Which replies: encrypted ones, or plain ones whose (first) Command is
  // `command` (any, when empty). Interim STATUS_PENDING replies never match.
  bool encrypted = false;
  std::optional<std::uint16_t> command = std::nullopt;
  int count = 1;  // so many matching replies, one after the other
  std::size_t offset = 0;
  std::size_t width = 0;  // 1, 2, 4 or 8
  std::uint64_t value = 0;
  // kPlainError: its Status, Command, and MessageId: by default the
  // MessageId of the client's last request, which the relay reads from plain
  // requests and counts on by one for each encrypted one.
  std::uint32_t status = 0xC0000022;  // STATUS_ACCESS_DENIED
  std::uint16_t errorCommand = 5;     // SMB2 CREATE
  std::optional<std::uint64_t> messageId = std::nullopt;
  std::chrono::milliseconds delay{0};
};

// A relay in front of a server's port, for what the server itself cannot
// show: a connection reset, a server that is gone, and in SMB mode replies
// altered on the way. Destroying it closes its port and every connection
// through it.
class TcpRelay {
 public:
  // On `address`, at a port of the system's choice, in front of
  // `address`:`targetPort`, passing bytes as they come.
  TcpRelay(const std::string& address, int targetPort);
  // On `listenAddress`:`listenPort` (0: the system's choice) in front of
  // `targetAddress`:`targetPort`, reading the SMB2 framing of the replies.
  TcpRelay(const std::string& listenAddress, int listenPort, const std::string& targetAddress,
           int targetPort);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  int connections();  // accepted so far
  // Forgets every connection through it, as a server host that restarted
  // does: the server's side ends, the client's is reset when it next sends.
  void forget();
  // SMB mode: alters the next replies that match, after those asked for before.
  void tamper(const ReplyTamper& tamper);
  // SMB mode: how many replies have been altered so far.
  int tampered();

 private:
  struct Held {
    std::chrono::steady_clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };
  struct Pair {
    OwnedSocket client;
    OwnedSocket server;
    std::vector<std::uint8_t> fromClient;  // SMB mode: an unfinished frame
    std::vector<std::uint8_t> fromServer;
    std::deque<Held> toClient;  // SMB mode: frames not yet due
    std::uint64_t lastRequest = 0;
    std::uint64_t nextRequest = 0;
  };

  void loop();
  void accept();
  // Passes on what one end sent; false when the connection is done.
  bool pass(Pair& pair, bool fromServer);
  void readRequests(Pair& pair, const std::uint8_t* data, std::size_t size);
  void readReplies(Pair& pair, const std::uint8_t* data, std::size_t size);
  // The frame as the client is to see it, or none; `due` may be put off.
  std::optional<std::vector<std::uint8_t>> alter(Pair& pair, std::vector<std::uint8_t> frame,
                                                 std::chrono::steady_clock::time_point& due);
  // Sends what is due of the frames held for the client; false when it fails.
  bool flush(Pair& pair);

  const bool smb_;
  int port_ = 0;  // before listener_, which sets it
  OwnedSocket listener_;
  sockaddr_in target_;
  OwnedSocket wake_;
  std::vector<Pair> pairs_;  // the relay's thread only
  std::mutex mutex_;
  std::condition_variable forgotten_;
  int connections_ = 0;
  bool forgetAsked_ = false;
  bool stopping_ = false;
  std::deque<ReplyTamper> tampers_;
  int tampered_ = 0;
  std::thread thread_;
};

// A port on `address` that never answers a connection attempt: its listen
// queue is full, so the kernel drops the attempts, as a firewall does.
class SilentPort {
 public:
  explicit SilentPort(const std::string& address);
  int port() const { return port_; }

 private:
  int port_ = 0;  // before listener_, which sets it
  OwnedSocket listener_;
  OwnedSocket queued_[2];
};

}  // namespace kestrine::testing
