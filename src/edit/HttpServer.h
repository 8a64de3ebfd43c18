#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/Problem.h"

namespace krlist::http {

// A small HTTP/1.1 server on the loopback address, for a program that serves
// its own pages to a browser on the same machine. It knows nothing of what
// it serves: each request is handed whole to one handler, on one thread, in
// the order requests arrive, and its response sent back.

struct Request {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the path and query as sent: "/a.kr.html?from=10"
  // The headers a handler decides by, empty when not sent.
  std::string host;
  std::string origin;
  std::string cookie;
  std::string body;
};

struct Response {
  unsigned status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // more to send
};

using Handler = std::function<Response(const Request&)>;

// The most a request's body may hold: a larger one is answered 413 and its
// connection closed, unread.
inline constexpr std::size_t kMostBody = std::size_t{1} << 20;

class Server {
 public:
  // Listens on 127.0.0.1:`port`, or on a port the system picks for 0. A
  // problem when the port cannot be had ("port 8080 is in use").
  static Expected<std::unique_ptr<Server>> listen(std::uint16_t port, Handler handler);
  ~Server();

  std::uint16_t port() const;
  // Serves until stop() is called, or the process ends (the program's own
  // signal handlers end it on Ctrl+C). A client that is slow, sends what is
  // not HTTP (answered 400) or goes away holds up no other.
  void run();
  // Ends run() soon after, from any thread.
  void stop();

  // What the server holds, known only to its unit.
  struct State;

 private:
  explicit Server(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace krlist::http
