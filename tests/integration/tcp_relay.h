#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/tcp_connect.h"

namespace kestrine::testing {

// A relay on the controller's address, in front of one of its ports, for
// what the controller itself cannot show: a connection reset, a server that
// is gone. Destroying it closes its port and every connection through it.
class TcpRelay {
 public:
  TcpRelay(const std::string& address, int targetPort);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  int connections();  // accepted so far
  // Forgets every connection through it, as a server host that restarted
  // does: the server's side ends, the client's is reset when it next sends.
  void forget();

 private:
  void loop();
  void accept();
  // Passes on what one end sent; false when the connection is done.
  bool pass(std::vector<OwnedSocket>& pair, int from);

  int port_ = 0;  // before listener_, which sets it
  OwnedSocket listener_;
  sockaddr_in target_;
  OwnedSocket wake_;
  std::vector<std::vector<OwnedSocket>> pairs_;  // client, server; the relay's thread only
  std::mutex mutex_;
  std::condition_variable forgotten_;
  int connections_ = 0;
  bool forgetAsked_ = false;
  bool stopping_ = false;
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
