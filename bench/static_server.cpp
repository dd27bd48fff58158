// A small static file server for the benchmarks: serves the files of one
// directory, read into memory at start, on 127.0.0.1 at an ephemeral port,
// which it prints on its first line. One thread per connection, one response
// per connection. Stops on SIGTERM or SIGINT.
//
//   telvoro-bench-server DIR

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::map<std::string, std::string> files;  // "/name" -> whole response

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Serve(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t space = request.find(' ');
  const std::size_t end = space == std::string::npos ? space : request.find(' ', space + 1);
  const std::string target = end == std::string::npos ? "" : request.substr(space + 1, end - space - 1);
  static const std::string notFound =
      "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
  const auto it = files.find(target);
  const std::string& response = it == files.end() ? notFound : it->second;
  SendAll(fd, response.data(), response.size());
  shutdown(fd, SHUT_WR);
  while (recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: telvoro-bench-server DIR\n", stderr);
    return 2;
  }
  DIR* dir = opendir(argv[1]);
  if (dir == nullptr) return 1;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(std::string(argv[1]) + "/" + entry->d_name, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    files["/" + std::string(entry->d_name)] = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                              "Content-Length: " +
                                              std::to_string(body.str().size()) + "\r\nConnection: close\r\n\r\n" +
                                              body.str();
  }
  closedir(dir);

  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 64) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
  std::fflush(stdout);

  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread(Serve, fd).detach();
  }
}
