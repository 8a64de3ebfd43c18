// The one unit that includes Boost.Beast and Boost.Asio, which are slow to
// compile: everything else sees only HttpServer.h.

// Boost 1.74's Asio uses std::exchange without including <utility>, which
// C++20's headers no longer bring in by the way.
#include <utility>

#include "edit/HttpServer.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace krlist::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = asio::ip::tcp;

namespace {

// A request must arrive whole within this time, or its connection is
// closed: a client that sends a byte now and then holds nothing for long.
constexpr std::chrono::seconds kRequestTime{30};
// A connection kept open between requests is closed after this long idle.
constexpr std::chrono::seconds kIdleTime{120};
// How long a refused client's bytes are read and thrown away before its
// connection is closed.
constexpr std::chrono::seconds kDrainTime{2};
// Headers larger than this are no browser's.
constexpr std::uint32_t kMostHeader = 32 * 1024;
// Connections served at once; more wait in the system's queue. Each holds
// a socket, and a page that opens hundreds must not take them all.
constexpr std::size_t kMostConnections = 64;

}  // namespace

struct Server::State {
  asio::io_context context{1};
  tcp::acceptor acceptor{context};
  asio::steady_timer wait{context};
  Handler handler;
  // The connections open, counted apart from the state, which a connection
  // destroyed with the context may outlive.
  std::shared_ptr<std::size_t> connections = std::make_shared<std::size_t>(0);
  void accept();
};

namespace {

// One client's connection: requests read one after the other, each
// answered before the next is read.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, Server::State& state)
      : stream_(std::move(socket)), state_(state), connections_(state.connections) {
    ++*connections_;
  }
  ~Connection() { --*connections_; }

  void read(std::chrono::seconds within) {
    parser_.emplace();
    parser_->header_limit(kMostHeader);
    parser_->body_limit(kMostBody);
    stream_.expires_after(within);
    bhttp::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->answer(error); });
  }

 private:
  void answer(beast::error_code error) {
    if (error == bhttp::error::end_of_stream || error == beast::error::timeout ||
        error == asio::error::operation_aborted || error == asio::error::connection_reset ||
        error == asio::error::eof) {
      return close();
    }
    if (error == bhttp::error::body_limit) {
      return refuse(bhttp::status::payload_too_large, "The request's body is larger than 1 MB.\n");
    }
    if (error == bhttp::error::header_limit) {
      return refuse(bhttp::status::request_header_fields_too_large,
                    "The request's headers are too large.\n");
    }
    if (error) {
      return refuse(bhttp::status::bad_request, "The request is not HTTP this server reads.\n");
    }
    bhttp::request<bhttp::string_body> request = parser_->release();
    Request asked;
    asked.method = std::string(request.method_string());
    asked.target = std::string(request.target());
    const auto header = [&request](bhttp::field field) {
      const auto found = request.find(field);
      return found == request.end() ? std::string() : std::string(found->value());
    };
    asked.host = header(bhttp::field::host);
    asked.origin = header(bhttp::field::origin);
    asked.cookie = header(bhttp::field::cookie);
    asked.body = std::move(request.body());
    Response made = state_.handler(asked);
    send(static_cast<bhttp::status>(made.status), std::move(made), request.keep_alive());
  }

  void refuse(bhttp::status status, std::string message) {
    Response made;
    made.body = std::move(message);
    send(status, std::move(made), false);
  }

  void send(bhttp::status status, Response made, bool keepAlive) {
    auto response = std::make_shared<bhttp::response<bhttp::string_body>>(status, 11);
    response->set(bhttp::field::content_type, made.contentType);
    for (const auto& [name, value] : made.headers) {
      response->set(name, value);
    }
    response->body() = std::move(made.body);
    response->keep_alive(keepAlive);
    response->prepare_payload();
    stream_.expires_after(kRequestTime);
    bhttp::async_write(stream_, *response,
                       [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                         if (error) {
                           return self->close();
                         }
                         if (!response->keep_alive()) {
                           return self->drain();
                         }
                         self->read(kIdleTime);
                       });
  }

  // Closes a connection whose client may still be sending (a body refused
  // unread): what it sends is read and thrown away for a while first, since
  // closing with bytes unread would reset the connection and lose the
  // answer on its way.
  void drain() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kDrainTime);
    discard();
  }
  void discard() {
    stream_.async_read_some(asio::buffer(discarded_),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (error) {
                                return self->close();
                              }
                              self->discard();
                            });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<bhttp::request_parser<bhttp::string_body>> parser_;
  std::array<char, 16384> discarded_;
  Server::State& state_;
  std::shared_ptr<std::size_t> connections_;
};

}  // namespace

void Server::State::accept() {
  if (*connections >= kMostConnections) {
    wait.expires_after(std::chrono::milliseconds(100));
    wait.async_wait([this](beast::error_code error) {
      if (!error) {
        accept();
      }
    });
    return;
  }
  acceptor.async_accept(context, [this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor.is_open()) {
      return;
    }
    if (!error) {
      std::make_shared<Connection>(std::move(socket), *this)->read(kRequestTime);
    }
    accept();
  });
}

Server::Server(std::unique_ptr<State> state) : state_(std::move(state)) {}

Server::~Server() = default;

Expected<std::unique_ptr<Server>> Server::listen(std::uint16_t port, Handler handler) {
  auto state = std::make_unique<State>();
  state->handler = std::move(handler);
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  beast::error_code error;
  state->acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
  // On Windows this option lets another program take a port in use;
  // elsewhere it only lets the port be had again at once after a restart.
  if (!error) {
    state->acceptor.set_option(asio::socket_base::reuse_address(true), error);
  }
#endif
  if (!error) {
    state->acceptor.bind(endpoint, error);
  }
  if (!error) {
    state->acceptor.listen(asio::socket_base::max_listen_connections, error);
  }
  if (error) {
    const std::string where = "127.0.0.1:" + std::to_string(port);
    if (error == asio::error::address_in_use || error == asio::error::access_denied) {
      return Problem::about({}, where + ": the port is in use (choose another with --port)");
    }
    return Problem::about({}, where + ": " + error.message());
  }
  return std::unique_ptr<Server>(new Server(std::move(state)));
}

std::uint16_t Server::port() const {
  beast::error_code ignored;
  return state_->acceptor.local_endpoint(ignored).port();
}

void Server::run() {
  state_->accept();
  state_->context.run();
}

void Server::stop() {
  asio::post(state_->context, [&state = *state_] { state.context.stop(); });
}

}  // namespace krlist::http
