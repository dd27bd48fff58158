#include "web/testing/loopback_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace telvoro::testing {
namespace {

// Sends raw bytes to the server and reads until it closes the connection.
std::string Exchange(std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return "connect failed";
  }
  [[maybe_unused]] ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return out;
}

TEST(LoopbackServer, RecordsRequestsAndAnswersByTargetThenPath) {
  LoopbackServer server;
  ASSERT_TRUE(server.ok());
  ASSERT_NE(server.port(), 0);
  server.Serve("/a?x=1", HttpResponse(200, "exact", "Connection: close\r\n"));
  server.Serve("/a", CannedReply{"HTTP/1.1 200 OK\r\n\r\npath only"});  // no length: closes

  const std::string post = "POST /a?x=1 HTTP/1.1\r\nHost: h\r\ncontent-length: 3\r\n\r\nabc";
  EXPECT_EQ(Exchange(server.port(), post),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5\r\n\r\nexact");
  EXPECT_EQ(Exchange(server.port(), "GET http://other.test/a?y=2 HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\n\r\npath only");
  EXPECT_EQ(Exchange(server.port(), "GET /none HTTP/1.1\r\nConnection: close\r\n\r\n").substr(0, 22),
            "HTTP/1.1 404 Not Found");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].raw, post);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/a?x=1");
  EXPECT_EQ(requests[0].body, "abc");
  EXPECT_EQ(requests[0].Header("Content-Length"), "3");
  EXPECT_EQ(requests[1].target, "http://other.test/a?y=2");
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(LoopbackServer, KeepsDelimitedConnectionsOpenForTheNextRequest) {
  LoopbackServer server;
  server.ServeDefault([](const RecordedRequest& r) { return CannedReply{HttpResponse(200, r.target)}; });
  const std::string reply = Exchange(server.port(),
                                     "GET /1 HTTP/1.1\r\n\r\n"
                                     "GET /2 HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(reply, HttpResponse(200, "/1") + HttpResponse(200, "/2"));
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(LoopbackServer, StopsWithStalledConnectionsOpen) {
  auto server = std::make_unique<LoopbackServer>();
  server->Serve("/stall", [](const RecordedRequest&) { return CannedReply{"HTTP/1.1 200 OK\r\n", CannedReply::kStall}; });
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(server->port());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /stall HTTP/1.1\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  char buffer[64];
  ASSERT_GT(::recv(fd, buffer, sizeof buffer, 0), 0);
  server.reset();  // must not wait for the client
  EXPECT_EQ(::recv(fd, buffer, sizeof buffer, 0), 0);
  ::close(fd);
}

TEST(LoopbackServer, GivenPortInUseIsNotOk) {
  LoopbackServer first;
  LoopbackServer second(first.port());
  EXPECT_FALSE(second.ok());
}

}  // namespace
}  // namespace telvoro::testing
