#include "tests/support/loopback_web_server.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace glidemate::testing {
namespace {

constexpr const char* serverScript = R"PY(
import http.server, os, shutil, ssl, sys, threading, time, urllib.parse

files, cert, key = sys.argv[1:4]

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == '/redirect':
            self.send_response(302)
            self.send_header('Location', urllib.parse.parse_qs(url.query)['to'][0])
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        if url.path == '/silent':
            time.sleep(3600)
            return
        if url.path == '/endless':
            self.send_response(200)
            self.send_header('Connection', 'close')
            self.end_headers()
            self.close_connection = True
            zeros = bytes(65536)
            try:
                while True:
                    self.wfile.write(zeros)
            except OSError:
                return
        path = os.path.join(files, url.path.lstrip('/'))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header('Content-Length', str(os.path.getsize(path)))
        self.end_headers()
        try:
            with open(path, 'rb') as f:
                shutil.copyfileobj(f, self.wfile)
        except OSError:
            pass

def serve(server):
    server.daemon_threads = True
    # Clients that hang up on purpose are no news.
    server.handle_error = lambda request, address: None
    threading.Thread(target=server.serve_forever, daemon=True).start()

secure = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
secure.socket = context.wrap_socket(secure.socket, server_side=True, do_handshake_on_connect=False)
plain = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
serve(secure)
serve(plain)
print(secure.server_address[1], plain.server_address[1], flush=True)
# Ends with the test, even one that crashed: its end closes our stdin.
sys.stdin.read()
)PY";

}  // namespace

LoopbackWebServer::LoopbackWebServer() {
  std::filesystem::create_directory(files());
  const auto made = runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=127.0.0.1", "-addext",
                                "subjectAltName=IP:127.0.0.1", "-days", "2", "-keyout",
                                folder_ / "key.pem", "-out", certificate()});
  if (made.status != 0) throw std::runtime_error("openssl could not make a certificate: " + made.err);
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-c", serverScript, files().string(), certificate(),
                               folder_ / "key.pem"},
      std::vector<std::string>{}, true, true);
  std::istringstream ports(server_->readLine());
  if (!(ports >> httpsPort_ >> httpPort_)) throw std::runtime_error("the web server did not start");
}

std::string LoopbackWebServer::httpsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

std::string LoopbackWebServer::httpUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

void LoopbackWebServer::put(const std::string& name, ByteView data) const {
  std::ofstream(files() / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace glidemate::testing
